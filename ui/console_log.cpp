#include "ui/console_log.h"

namespace ov {

namespace {

// Appends text to out with every CR LF, lone CR and lone LF as CR LF; runs without breaks are copied
// whole, so a flood of console text is copied once, into the log.
void AppendNormalised(std::string& out, std::string_view text) {
  size_t i = 0;
  while (i < text.size()) {
    const size_t cut = text.find_first_of("\r\n", i);
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
    // The length test comes before the append, so the log may exceed the limit until the next one.
    if (text_.size() > kLogTrimAbove) {
      text_.erase(0, kLogTrimCut);
      cuts_ += kLogTrimCut;
    }
  } else {
    // Replacing is cutting everything there was, then appending.
    cuts_ += text_.size();
    text_.clear();
  }
  const size_t before = text_.size();
  AppendNormalised(text_, text);
  appended_ += text_.size() - before;
}

}  // namespace ov
