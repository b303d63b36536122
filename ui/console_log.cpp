#include "ui/console_log.h"

namespace ov {

std::string NormaliseLineBreaks(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 16);
  const size_t n = text.size();
  for (size_t i = 0; i < n; ++i) {
    const char c = text[i];
    if (c == '\r') {
      out += "\r\n";
      if (i + 1 < n && text[i + 1] == '\n') ++i;  // CR LF stays one break
    } else if (c == '\n') {
      out += "\r\n";
    } else {
      out += c;
    }
  }
  return out;
}

void ConsoleLog::Append(std::string_view text, int consoleMode) {
  const std::string normal = NormaliseLineBreaks(text);
  if (consoleMode == 1) {
    // The length test comes before the append, so the log may exceed the limit until the next one.
    if (text_.size() > kLogTrimAbove) {
      text_.erase(0, kLogTrimCut);
      cuts_ += kLogTrimCut;
    }
    text_ += normal;
  } else {
    // Replacing is cutting everything there was, then appending.
    cuts_ += text_.size();
    text_ = normal;
  }
  appended_ += normal.size();
}

}  // namespace ov
