#include "consoles/console_log.h"

#include <algorithm>
#include <cstring>

namespace ov {

namespace {

// The first CR or LF at or after from, or npos. find_first_of tests the set once per character; two
// memchr scans run at memory speed, and each is repeated only once the break it found has been passed.
class BreakFinder {
 public:
  explicit BreakFinder(std::string_view text) : text_(text), cr_(Find('\r', 0)), lf_(Find('\n', 0)) {}
  size_t Next(size_t from) {
    if (cr_ < from) cr_ = Find('\r', from);
    if (lf_ < from) lf_ = Find('\n', from);
    return std::min(cr_, lf_);
  }

 private:
  size_t Find(char c, size_t from) const {
    if (from >= text_.size()) return std::string_view::npos;
    const void* hit = std::memchr(text_.data() + from, c, text_.size() - from);
    return hit ? static_cast<size_t>(static_cast<const char*>(hit) - text_.data()) : std::string_view::npos;
  }
  std::string_view text_;
  size_t cr_, lf_;  // the next CR and LF found so far, npos when there is none
};

// Appends text to out with every CR LF, lone CR and lone LF as CR LF; runs without breaks are copied
// whole, so a flood of console text is copied once, into the log.
void AppendNormalised(std::string& out, std::string_view text) {
  BreakFinder breaks(text);
  size_t i = 0;
  while (i < text.size()) {
    const size_t cut = breaks.Next(i);
    if (cut == std::string_view::npos) {
      out.append(text.substr(i));
      return;
    }
    out.append(text.substr(i, cut - i));
    out += "\r\n";
    i = cut + 1;
    if (text[cut] == '\r' && i < text.size() && text[i] == '\n') ++i;  // CR LF stays one break
  }
}

}  // namespace

std::string NormaliseLineBreaks(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  AppendNormalised(out, text);
  return out;
}

void ConsoleLog::Append(std::string_view text, int consoleMode) {
  if (consoleMode == 1) {
    // The length test comes before the append, so the log may exceed the limit until the next one. A
    // text no longer than the cut leaves the log no longer than it was, or than the limit and the cut:
    // so the rule stands. A longer one would make the log grow by the difference at every append:
    // before it the log keeps at most the limit.
    size_t cut = 0;
    if (text_.size() > kLogTrimAbove) {
      cut = text.size() > kLogTrimCut ? std::max(kLogTrimCut, text_.size() - kLogTrimAbove) : kLogTrimCut;
    }
    Cut(cut);
  } else {
    // Replacing is cutting everything there was, then appending.
    Cut(text_.size());
  }
  const size_t before = text_.size();
  AppendNormalised(text_, text);
  appended_ += text_.size() - before;
}

void ConsoleLog::Cut(size_t count) {
  if (count == 0) return;
  cuts_ += count;
  // What stays is at most the limit: moving it costs no more than the text that made the log long.
  // A string that once held a long text gives its memory back.
  const size_t kept = text_.size() - count;
  if (text_.capacity() > 4 * std::max<size_t>(kept, kLogTrimAbove)) {
    std::string(text_, count).swap(text_);
  } else {
    text_.erase(0, count);
  }
}

void ConsoleLog::Clear() { Cut(text_.size()); }

}  // namespace ov
