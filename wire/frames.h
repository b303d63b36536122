#pragma once
// Frames on the wire: 0xFD, a four-character code, the payload, 0xFE. Both programs speak them.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ov {

constexpr char kFrameStart = '\xFD';
constexpr char kFrameEnd = '\xFE';
constexpr size_t kMaxFrameSize = 1 << 20;  // an unfinished frame longer than this is dropped

std::string FormatCode(int32_t number);
std::string MakeFrame(int32_t code, std::string_view payload);

struct Frame {
  std::string code;
  std::string payload;
  bool outside = false;  // bytes at the end of a read that belong to no frame: reported as an unknown code
};

// A frame where it lies: its code and payload point into the bytes it was found in.
struct FrameView {
  std::string_view code;
  std::string_view payload;
  bool outside = false;
};

enum class CodeKind { Control, Console, Unknown };
struct CodeClass {
  CodeKind kind;
  int number;  // control message number or server id
};
CodeClass ClassifyCode(std::string_view code);

// Splits one connection's byte stream into frames. Bytes of an unfinished frame are kept until a later
// Feed completes it, so frames come out whole, once and in order however the stream was cut.
class FrameAssembler {
 public:
  struct Result {
    std::vector<Frame> frames;
    bool overflowed = false;  // an unfinished frame grew past kMaxFrameSize and was dropped
  };
  Result Feed(std::string_view bytes);
  // The same frames without copying them out: each points into bytes, or into joined, which takes over
  // the frame that bytes completed from kept ones. Both must stay unchanged while the frames are used.
  // True when an unfinished frame grew past kMaxFrameSize and was dropped.
  bool Split(std::string_view bytes, std::vector<FrameView>& frames, std::string& joined);
  size_t Pending() const { return partial_.size(); }

 private:
  std::string partial_;
  bool discarding_ = false;  // skipping the rest of a dropped, oversized frame
};

}  // namespace ov
