#include "wire/frames.h"

#include <algorithm>

#include "wire/payload.h"

namespace ov {

namespace {

// The frame from its 0xFD up to, not including, its 0xFE. A 0xFE ends the code early.
FrameView FrameFrom(std::string_view bytes) {
  FrameView frame;
  frame.code = bytes.substr(1, 4);
  if (bytes.size() > 5) frame.payload = bytes.substr(5);
  return frame;
}

// Bytes at the end of a read with no 0xFD: no frame, but the user hears of them.
FrameView OutsideBytes(std::string_view bytes) {
  FrameView frame;
  frame.code = bytes.substr(0, std::min<size_t>(4, bytes.find(kFrameEnd)));
  frame.outside = true;
  return frame;
}

}  // namespace

std::string FormatCode(int32_t number) {
  const uint32_t value = static_cast<uint32_t>(number);
  if (value > 9999) return "XXXX";
  std::string digits = std::to_string(value);
  return std::string(4 - digits.size(), '0') + digits;
}

std::string MakeFrame(int32_t code, std::string_view payload) {
  std::string frame;
  frame.reserve(payload.size() + 6);
  frame += kFrameStart;
  frame += FormatCode(code);
  frame += payload;
  frame += kFrameEnd;
  return frame;
}

CodeClass ClassifyCode(std::string_view code) {
  if (!code.empty() && code[0] == '1') {
    const int control = ParseInt(code.substr(1, 3), -1);
    if (control != -1) return {CodeKind::Control, control};
  }
  const int id = ParseInt(code, -1);
  if (id != -1) return {CodeKind::Console, id};
  return {CodeKind::Unknown, -1};
}

FrameAssembler::Result FrameAssembler::Feed(std::string_view bytes) {
  Result result;
  std::vector<FrameView> frames;
  std::string joined;
  result.overflowed = Split(bytes, frames, joined);
  result.frames.reserve(frames.size());
  for (const FrameView& f : frames)
    result.frames.push_back({std::string(f.code), std::string(f.payload), f.outside});
  return result;
}

bool FrameAssembler::Split(std::string_view bytes, std::vector<FrameView>& frames, std::string& joined) {
  bool overflowed = false;
  auto keep = [&](std::string_view unfinished) {
    partial_ += unfinished;
    if (partial_.size() > kMaxFrameSize) {
      std::string().swap(partial_);
      discarding_ = true;
      overflowed = true;
    }
  };

  if (discarding_) {
    const size_t end = bytes.find(kFrameEnd);
    if (end == std::string_view::npos) return overflowed;
    discarding_ = false;
    bytes.remove_prefix(end + 1);
  }
  if (!partial_.empty()) {
    // Only the new bytes can hold the end of the kept frame: the kept ones were searched already.
    const size_t end = bytes.find(kFrameEnd);
    if (end == std::string_view::npos) {
      keep(bytes);
      return overflowed;
    }
    partial_ += bytes.substr(0, end);
    // The caller's string takes the frame, and a big frame's room goes with it.
    joined.clear();
    joined.swap(partial_);
    frames.push_back(FrameFrom(joined));
    bytes.remove_prefix(end + 1);
  }
  while (!bytes.empty()) {
    const size_t start = bytes.find(kFrameStart);
    if (start == std::string_view::npos) {
      frames.push_back(OutsideBytes(bytes));
      break;
    }
    const size_t end = bytes.find(kFrameEnd, start + 1);
    if (end == std::string_view::npos) {
      keep(bytes.substr(start));
      break;
    }
    frames.push_back(FrameFrom(bytes.substr(start, end - start)));
    bytes.remove_prefix(end + 1);
  }
  return overflowed;
}

}  // namespace ov
