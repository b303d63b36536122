#pragma once
// Frames on the wire: 0xFD, a four-character code, the payload, 0xFE. Both programs speak them.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "wire/codes.h"

namespace ov {

constexpr char kFrameStart = '\xFD';
constexpr char kFrameEnd = '\xFE';
constexpr size_t kMaxFrameSize = 1 << 20;  // the client drops an unfinished frame longer than this

// The largest payload a frame carries: the client drops a longer frame unread.
constexpr size_t kMaxPayload = kMaxFrameSize - 6;

// Whether a payload can travel plain: no start or end byte inside it (either would cut the frame in two,
// and what follows would be read as frames of its own) and within kMaxPayload. Enciphered account
// answers are the one payload that may hold any byte: their reader knows their size.
bool IsPlainPayload(std::string_view payload);

// The frame of a plain payload, or nothing when IsPlainPayload refuses it. Every sender makes its frames
// here or, for an account answer, with EncipheredFrame.
std::optional<std::string> PlainFrame(int32_t code, std::string_view payload);
// The frame of an account message's payload as the cipher gave it (marker included), any byte allowed.
std::string EncipheredFrame(int32_t code, std::string_view sealed);

// The bytes of a frame around any payload, unchecked: for streams built on purpose (tests, fuzzing); no
// program sends through it.
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

// What one splitter keeps and how it reads, chosen by the program it serves.
struct FrameLimits {
  size_t maxKept = kMaxFrameSize;  // an unfinished frame that holds more bytes than this is dropped
  size_t maxFrame = SIZE_MAX;      // a frame longer than this, start and end bytes included, is dropped
  // An account answer that starts with the cipher's marker ends after its fixed size (AccountAnswerSize),
  // since its enciphered payload may hold the end byte; one whose end byte follows more payload is read
  // to that end byte whole, so that it shows as too long.
  bool accountAnswerSizes = false;
};

// What a stream held besides well-formed frames, for a program that reports it.
struct FrameFlaw {
  enum class Kind { Outside, ShortCode, Oversized };
  Kind kind;
  // Outside: the bytes outside frames; ShortCode: the frame, start and end bytes included (it is handed
  // out as a frame as well); Oversized: the dropped frame's code.
  std::string bytes;
};

// Splits one connection's byte stream into frames. Bytes of an unfinished frame are kept until a later
// Feed completes it, so frames come out whole, once and in order however the stream was cut.
class FrameAssembler {
 public:
  explicit FrameAssembler(FrameLimits limits = {}) : limits_(limits) {}

  struct Result {
    std::vector<Frame> frames;
    std::vector<FrameFlaw> flaws;
    bool overflowed = false;  // a frame grew past the limits and was dropped
  };
  Result Feed(std::string_view bytes);
  // The same frames without copying them out: each points into bytes, or into joined, which takes over
  // the frame that bytes completed from kept ones. Both must stay unchanged while the frames are used.
  // True when a frame grew past the limits and was dropped. What was not a well-formed frame goes to
  // flaws, in the order of the stream, when flaws is given.
  bool Split(std::string_view bytes, std::vector<FrameView>& frames, std::string& joined,
             std::vector<FrameFlaw>* flaws = nullptr);
  size_t Pending() const { return partial_.size(); }

 private:
  struct Scan;
  class Span;
  struct Out;
  Scan ScanFrame(const Span& frame, size_t searched) const;
  // Goes on with the kept bytes of an unfinished frame: false when this read ends inside it (kept or
  // dropped), else bytes becomes what is left to split after it.
  bool FinishKept(std::string_view& bytes, std::string& joined, Out& out);

  FrameLimits limits_;
  std::string partial_;      // the unfinished frame, from its start byte
  size_t searched_ = 0;      // how far partial_ is known to hold no end of its frame
  bool discarding_ = false;  // skipping the rest of a dropped, oversized frame
};

}  // namespace ov
