#include "wire/payload.h"

#include <algorithm>
#include <charconv>

namespace ov {

namespace {

std::string PadTo(std::string_view text, size_t width) {
  std::string out(text.substr(0, std::min(width, text.size())));
  out.resize(width, ' ');
  return out;
}

}  // namespace

std::string PadTo8(std::string_view text) { return PadTo(text, 8); }
std::string PadTo16(std::string_view text) { return PadTo(text, 16); }

int ParseInt(std::string_view text, int fallback) {
  if (!text.empty() && text.front() == '+') {
    text.remove_prefix(1);
    if (!text.empty() && text.front() == '-') return fallback;
  }
  int value = 0;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (text.empty() || ec != std::errc() || ptr != end) return fallback;
  return value;
}

std::vector<std::string> SplitFields(std::string_view payload, TrailingField trailing) {
  std::vector<std::string> fields;
  for (;;) {
    const size_t cut = payload.find(kFieldSeparator);
    fields.emplace_back(payload.substr(0, cut));
    if (cut == std::string_view::npos) return fields;
    payload.remove_prefix(cut + 1);
    if (payload.empty() && trailing == TrailingField::Dropped) return fields;
  }
}

}  // namespace ov
