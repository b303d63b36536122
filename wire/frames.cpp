#include "wire/frames.h"

#include <algorithm>

#include "wire/cipher.h"

namespace ov {

namespace {

constexpr size_t kNone = std::string_view::npos;

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

// A frame's bytes so far, from its start byte: those kept from earlier reads, then those of this read.
class FrameAssembler::Span {
 public:
  Span(std::string_view kept, std::string_view read) : kept_(kept), read_(read) {}
  size_t size() const { return kept_.size() + read_.size(); }
  char operator[](size_t i) const { return i < kept_.size() ? kept_[i] : read_[i - kept_.size()]; }
  size_t Find(char c, size_t from) const {
    if (from < kept_.size()) {
      if (const size_t at = kept_.find(c, from); at != kNone) return at;
      from = kept_.size();
    }
    const size_t at = read_.find(c, from - kept_.size());
    return at == kNone ? kNone : at + kept_.size();
  }
  std::string Code() const {
    std::string code;
    for (size_t i = 1; i < std::min<size_t>(5, size()); ++i) code += (*this)[i];
    return code;
  }

 private:
  std::string_view kept_;
  std::string_view read_;
};

struct FrameAssembler::Scan {
  enum What { More, Whole, TooLong } what;
  size_t end = kNone;   // the frame's end byte; none for a frame dropped before its end came
  size_t searched = 0;  // More: how far the frame is known to hold no end of its own
};

FrameAssembler::Scan FrameAssembler::ScanFrame(const Span& frame, size_t searched) const {
  const auto ended = [&](size_t end) {
    return Scan{end + 1 > limits_.maxFrame ? Scan::TooLong : Scan::Whole, end};
  };
  const auto unfinished = [&](size_t searchedTo) {
    return frame.size() > limits_.maxKept ? Scan{Scan::TooLong} : Scan{Scan::More, kNone, searchedTo};
  };
  // A code that holds an end byte names no account answer: the frame ends at that byte, as any other.
  if (limits_.accountAnswerSizes && frame.size() >= 7 && frame[5] == kCipherMarker[0] &&
      frame[6] == kCipherMarker[1]) {
    const CodeClass code = ClassifyCode(frame.Code());
    if (const size_t size = code.kind == CodeKind::Control ? AccountAnswerSize(code.number) : 0; size != 0) {
      const size_t fixedEnd = 5 + size;
      if (frame.size() <= fixedEnd) return Scan{Scan::More, kNone, searched};
      if (frame[fixedEnd] == kFrameEnd) {
        // The end byte right after the fixed size ends the frame unless more payload follows it (anything
        // but the next frame's start).
        const size_t next = fixedEnd + 1;
        if (frame.size() == next || frame[next] == kFrameStart) return ended(fixedEnd);
        const size_t last = frame.Find(kFrameEnd, std::max(next, searched));
        return last == kNone ? unfinished(frame.size()) : ended(last);
      }
      // Not the fixed layout: read as any other frame.
    }
  }
  const size_t end = frame.Find(kFrameEnd, std::max<size_t>(1, searched));
  return end == kNone ? unfinished(frame.size()) : ended(end);
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

bool IsPlainPayload(std::string_view payload) {
  return payload.size() <= kMaxPayload && payload.find_first_of(std::string_view("\xFD\xFE", 2)) == kNone;
}

std::optional<std::string> PlainFrame(int32_t code, std::string_view payload) {
  if (!IsPlainPayload(payload)) return std::nullopt;
  return MakeFrame(code, payload);
}

std::string EncipheredFrame(int32_t code, std::string_view sealed) { return MakeFrame(code, sealed); }

FrameAssembler::Result FrameAssembler::Feed(std::string_view bytes) {
  Result result;
  std::vector<FrameView> frames;
  std::string joined;
  result.overflowed = Split(bytes, frames, joined, &result.flaws);
  result.frames.reserve(frames.size());
  for (const FrameView& f : frames)
    result.frames.push_back({std::string(f.code), std::string(f.payload), f.outside});
  return result;
}

// What one Split gives: the frames, the flaws when they are asked for, and whether a frame was dropped.
struct FrameAssembler::Out {
  std::vector<FrameView>& frames;
  std::vector<FrameFlaw>* flaws;
  bool overflowed = false;

  void Flaw(FrameFlaw::Kind kind, std::string_view what) {
    if (flaws) flaws->push_back({kind, std::string(what)});
  }
  void TooLong(const Span& frame) {
    overflowed = true;
    if (flaws) flaws->push_back({FrameFlaw::Kind::Oversized, frame.Code()});
  }
  // From the start byte, without the end byte. Inlined: a call for every frame costs the read path more
  // than the frame's own bookkeeping.
  [[gnu::always_inline]] void Emit(std::string_view frame) {
    frames.push_back(FrameFrom(frame));
    if (frame.size() < 5) ShortCode(frame);
  }
  void ShortCode(std::string_view frame) { Flaw(FrameFlaw::Kind::ShortCode, std::string(frame) + kFrameEnd); }
};

bool FrameAssembler::FinishKept(std::string_view& bytes, std::string& joined, Out& out) {
  const Span frame(partial_, bytes);
  const Scan scan = ScanFrame(frame, searched_);
  if (scan.what == Scan::More) {
    partial_ += bytes;
    searched_ = scan.searched;
    return false;
  }
  searched_ = 0;
  if (scan.what == Scan::TooLong) out.TooLong(frame);
  if (scan.end == kNone) {
    std::string().swap(partial_);
    discarding_ = true;
    return false;
  }
  if (scan.end < partial_.size()) {
    // An account answer that waited for its size: the kept bytes hold its end, and what followed it
    // is read again with this read behind it.
    partial_ += bytes;
    joined.clear();
    joined.swap(partial_);
    if (scan.what == Scan::Whole) out.Emit(std::string_view(joined).substr(0, scan.end));
    bytes = std::string_view(joined).substr(scan.end + 1);
    return true;
  }
  const size_t inRead = scan.end - partial_.size();
  if (scan.what == Scan::Whole) {
    partial_ += bytes.substr(0, inRead);
    // The caller's string takes the frame, and a big frame's room goes with it.
    joined.clear();
    joined.swap(partial_);
    out.Emit(joined);
  } else {
    std::string().swap(partial_);
  }
  bytes.remove_prefix(inRead + 1);
  return true;
}

bool FrameAssembler::Split(std::string_view bytes, std::vector<FrameView>& frames, std::string& joined,
                           std::vector<FrameFlaw>* flaws) {
  Out out{frames, flaws};
  if (discarding_) {
    const size_t end = bytes.find(kFrameEnd);
    if (end == kNone) return false;
    discarding_ = false;
    bytes.remove_prefix(end + 1);
  }
  if (!partial_.empty() && !FinishKept(bytes, joined, out)) return out.overflowed;
  while (!bytes.empty()) {
    const size_t start = bytes.find(kFrameStart);
    if (start != 0) out.Flaw(FrameFlaw::Kind::Outside, bytes.substr(0, start));
    if (start == kNone) {
      frames.push_back(OutsideBytes(bytes));
      break;
    }
    bytes.remove_prefix(start);
    if (!limits_.accountAnswerSizes) {
      // The common case, a whole frame that ends at its first end byte, without the scan's bookkeeping.
      const size_t end = bytes.find(kFrameEnd, 1);
      if (end != kNone && end < limits_.maxFrame) {
        out.Emit(bytes.substr(0, end));
        bytes.remove_prefix(end + 1);
        continue;
      }
    }
    const Span frame({}, bytes);
    const Scan scan = ScanFrame(frame, 0);
    if (scan.what == Scan::More) {
      partial_ += bytes;
      searched_ = scan.searched;
      break;
    }
    if (scan.what == Scan::TooLong) out.TooLong(frame);
    if (scan.end == kNone) {
      discarding_ = true;
      break;
    }
    if (scan.what == Scan::Whole) out.Emit(bytes.substr(0, scan.end));
    bytes.remove_prefix(scan.end + 1);
  }
  return out.overflowed;
}

}  // namespace ov
