#pragma once
// The text of a console window's log, with its line-break normalisation and trimming. The model takes
// every received text at once; the widget on top redraws from it when it likes.
#include <cstdint>
#include <string>
#include <string_view>

namespace ov {

// An append that finds more than kLogTrimAbove characters first cuts kLogTrimCut from the front. Before
// a text longer than kLogTrimCut, which would make the log grow at every append, it cuts the log to its
// last kLogTrimAbove if that is more. So no append makes a log longer than kLogTrimAbove characters plus
// the latest text, or than it was.
constexpr size_t kLogTrimAbove = 15000;
constexpr size_t kLogTrimCut = 7500;

// Every CR LF, lone CR and lone LF becomes CR LF.
std::string NormaliseLineBreaks(std::string_view text);

class ConsoleLog {
 public:
  // consoleMode 1 appends (trimming first), any other value replaces the log.
  void Append(std::string_view text, int consoleMode);
  const std::string& Text() const { return text_; }
  // Empties the log at the user's asking: a cut of everything it held, so views start again.
  void Clear();

  // For views that follow the log without redrawing all of it: the number of characters cut from the
  // front or replaced since the log began, and the number appended. A view that has shown up to a
  // given appended count only needs the tail when nothing was cut meanwhile.
  uint64_t Cuts() const { return cuts_; }
  uint64_t Appended() const { return appended_; }

 private:
  void Cut(size_t count);  // from the front

  std::string text_;
  uint64_t cuts_ = 0;
  uint64_t appended_ = 0;
};

}  // namespace ov
