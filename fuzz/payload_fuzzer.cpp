// The payload field splitter, ParseInt and the code classification, against what they promise.
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "wire/frames.h"
#include "wire/payload.h"

namespace {

// A decimal integer: an optional sign, then digits only (a "+" may not be followed by "-").
bool LooksDecimal(std::string_view text) {
  if (!text.empty() && (text[0] == '+' || text[0] == '-')) text.remove_prefix(1);
  if (text.empty()) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  return true;
}

void CheckParseInt(std::string_view text) {
  long long expected = 0;
  bool valid = LooksDecimal(text);
  if (valid) {
    const std::string copy(text);
    errno = 0;
    expected = std::strtoll(copy.c_str(), nullptr, 10);
    valid = errno == 0 && expected >= INT32_MIN && expected <= INT32_MAX;
  }
  // Two fallbacks tell a parsed number from a refusal.
  const int a = ov::ParseInt(text, -7);
  const int b = ov::ParseInt(text, 11);
  if (valid ? (a != expected || b != expected) : (a != -7 || b != 11)) abort();
}

void CheckSplitFields(std::string_view payload) {
  const std::vector<std::string> fields = ov::SplitFields(payload);
  if (fields.empty()) abort();
  std::string joined;
  for (size_t i = 0; i < fields.size(); ++i) {
    if (fields[i].find(ov::kFieldSeparator) != std::string::npos) abort();
    if (i > 0) joined += ov::kFieldSeparator;
    joined += fields[i];
  }
  // Joined again they give the payload, but for the one separator that ended it.
  const bool trailing = !payload.empty() && payload.back() == ov::kFieldSeparator;
  if (trailing ? joined + ov::kFieldSeparator != payload : joined != payload) abort();
}

void CheckCode(std::string_view code) {
  const ov::CodeClass kind = ov::ClassifyCode(code);
  const int control = code.size() > 1 ? ov::ParseInt(code.substr(1, 3), -1) : -1;
  switch (kind.kind) {
    case ov::CodeKind::Control:
      if (code[0] != '1' || control == -1 || kind.number != control) abort();
      break;
    case ov::CodeKind::Console:
      if ((code[0] == '1' && control != -1) || kind.number == -1 || kind.number != ov::ParseInt(code, -1))
        abort();
      break;
    case ov::CodeKind::Unknown:
      if (ov::ParseInt(code, -1) != -1) abort();
      break;
  }
  // A code the client sends reads back as the number it was made from.
  const int32_t n = ov::ParseInt(code, -1);
  if (n >= 0 && n <= 9999 && ov::ParseInt(ov::FormatCode(n), -1) != n) abort();
  if ((n < 0 || n > 9999) && ov::FormatCode(n) != "XXXX") abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  CheckParseInt(input);
  CheckParseInt(input.substr(0, 12));
  CheckSplitFields(input);
  for (const std::string& field : ov::SplitFields(input)) CheckParseInt(field);
  CheckCode(input.substr(0, 4));
  return 0;
}
