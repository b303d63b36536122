#include "ovserver/request_reader.h"

#include "ovserver/log.h"

namespace ovs {
namespace {

std::string Describe(const ov::FrameFlaw& flaw) {
  switch (flaw.kind) {
    case ov::FrameFlaw::Kind::Outside:
      return "skipped " + std::to_string(flaw.bytes.size()) + " bytes outside frames: \"" +
             Printable(flaw.bytes) + "\"";
    case ov::FrameFlaw::Kind::ShortCode:
      return "malformed frame with a short code: \"" + Printable(flaw.bytes) + "\"";
    case ov::FrameFlaw::Kind::Oversized:
      break;
  }
  return "dropped an oversized frame (more than " + std::to_string(kMaxRequestSize) + " bytes) with code \"" +
         Printable(flaw.bytes) + "\"";
}

}  // namespace

RequestReader::Result RequestReader::Feed(std::string_view bytes) {
  ov::FrameAssembler::Result split = frames_.Feed(bytes);
  Result result;
  // Bytes outside frames and frames with a short code are flaws here, not requests.
  for (ov::Frame& frame : split.frames)
    if (!frame.outside && frame.code.size() == 4) result.frames.push_back(std::move(frame));
  result.malformed = split.flaws.size();
  for (size_t i = 0; i < split.flaws.size() && i < kMaxProblemTexts; ++i)
    result.problems.push_back(Describe(split.flaws[i]));
  return result;
}

}  // namespace ovs
