#include "ovserver/request_reader.h"

#include "ovserver/log.h"

namespace ovs {
namespace {
constexpr char kMarker[] = "\x07\x05";
}

size_t RequestReader::AccountPayloadSize(std::string_view code) {
  if (code == "1905" || code == "1906") return 2 + 24;
  if (code == "1907") return 2 + 40;
  return 0;
}

void RequestReader::Problem(Result& result, const std::function<std::string()>& words) {
  if (result.malformed++ < kMaxProblemTexts) result.problems.push_back(words());
}

RequestReader::Result RequestReader::Feed(std::string_view bytes) {
  Result result;
  buffer_.append(bytes);
  size_t pos = 0;  // what is consumed; erased once at the end
  while (pos < buffer_.size()) {
    std::string_view rest(buffer_.data() + pos, buffer_.size() - pos);
    if (discarding_) {
      const size_t end = rest.find(ov::kFrameEnd);
      if (end == std::string_view::npos) {
        pos = buffer_.size();
        break;
      }
      pos += end + 1;
      discarding_ = false;
      continue;
    }
    const size_t start = rest.find(ov::kFrameStart);
    if (start != 0) {
      const size_t stray = start == std::string_view::npos ? rest.size() : start;
      Problem(result, [&] {
        return "skipped " + std::to_string(stray) + " bytes outside frames: \"" +
               Printable(rest.substr(0, stray)) + "\"";
      });
      pos += stray;
      continue;
    }
    // rest starts with 0xFD.
    const size_t end = rest.find(ov::kFrameEnd, 1);
    if (end != std::string_view::npos && end < 5) {
      Problem(result, [&] {
        return "malformed frame with a short code: \"" + Printable(rest.substr(0, end + 1)) + "\"";
      });
      pos += end + 1;
      continue;
    }
    if (rest.size() < 5) break;
    const std::string_view code = rest.substr(1, 4);
    if (const size_t width = AccountPayloadSize(code); width != 0) {
      // An enciphered account payload: wait for all of it, then expect the end byte right after it.
      if (rest.size() < 7 && end == std::string_view::npos) break;
      if (rest.substr(5, 2) == kMarker) {
        if (rest.size() < 5 + width + 1) break;
        if (rest[5 + width] == ov::kFrameEnd) {
          // The end byte right after the fixed width ends the frame unless more payload follows it
          // (anything but the next frame's start): an over-long one is read to its own end and refused.
          const size_t next = 5 + width + 1;
          const size_t last = rest.size() > next && rest[next] != ov::kFrameStart
                                  ? rest.find(ov::kFrameEnd, next)
                                  : 5 + width;
          if (last == std::string_view::npos) {
            if (rest.size() > kMaxRequestSize) {
              Problem(result,
                      [&] { return "dropped an oversized account message \"" + Printable(code) + "\""; });
              pos = buffer_.size();
              discarding_ = true;
            }
            break;
          }
          result.frames.push_back({std::string(code), std::string(rest.substr(5, last - 5))});
          pos += last + 1;
          continue;
        }
      }
      // Not the fixed layout: read it as any other frame.
    }
    if (end == std::string_view::npos) {
      if (rest.size() > kMaxRequestSize) {
        Problem(result, [&] {
          return "dropped an oversized frame (more than " + std::to_string(kMaxRequestSize) +
                 " bytes) with code \"" + Printable(code) + "\"";
        });
        pos = buffer_.size();
        discarding_ = true;
      }
      break;
    }
    if (end + 1 > kMaxRequestSize) {  // whole in this read or not, one limit
      Problem(result, [&] {
        return "dropped an oversized frame (more than " + std::to_string(kMaxRequestSize) +
               " bytes) with code \"" + Printable(code) + "\"";
      });
    } else {
      result.frames.push_back({std::string(code), std::string(rest.substr(5, end - 5))});
    }
    pos += end + 1;
  }
  buffer_.erase(0, pos);
  return result;
}

}  // namespace ovs
