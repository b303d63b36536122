// The payload field splitter, ParseInt, the code classification, the typed messages and the plain frame,
// against what they promise.
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "wire/frames.h"
#include "wire/messages.h"
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

// Kept, every separator stands between two fields: joined again they are the payload itself.
void CheckKeptFields(std::string_view payload) {
  std::string joined;
  for (const std::string& field : ov::SplitFields(payload, ov::TrailingField::Kept)) {
    joined += field;
    joined += ov::kFieldSeparator;
  }
  joined.pop_back();
  if (joined != payload) abort();
}

// A plain frame is refused, or carries its payload whole as one frame: nothing inside it starts another.
void CheckPlainFrame(std::string_view payload) {
  const std::optional<std::string> frame = ov::PlainFrame(1026, payload);
  if (!frame) {
    if (payload.size() <= ov::kMaxPayload && payload.find_first_of("\xFD\xFE") == std::string_view::npos)
      abort();
    return;
  }
  const auto split = ov::FrameAssembler().Feed(*frame);
  if (split.frames.size() != 1 || split.frames[0].code != "1026" || split.frames[0].payload != payload)
    abort();
}

// What a decoder read, encoded again, reads back the same, or is refused for a byte the wire cannot carry.
void CheckMessages(std::string_view payload) {
  const ov::msg::ServerInfo info = ov::msg::ServerInfo::Decode(payload);
  if (info.gamePort < 0 || info.gamePort > ov::msg::kMaxPort) abort();
  if (const auto again = info.Encode()) {
    const ov::msg::ServerInfo back = ov::msg::ServerInfo::Decode(*again);
    if (back.id != info.id || back.title.value_or("") != info.title.value_or("") ||
        back.gamePort != info.gamePort)
      abort();
  }
  if (const auto start = ov::msg::StartServer::Decode(payload)) {
    const auto again = start->Encode();
    if (again && !start->title.empty() && *again != payload) abort();
  }
  // An empty name offers no type: one at the end is not carried, as a separator there adds no field.
  const auto offered = [](std::vector<std::string> names) {
    while (!names.empty() && names.back().empty()) names.pop_back();
    return names;
  };
  const ov::msg::ServerTypes types = ov::msg::ServerTypes::Decode(payload);
  if (const auto again = types.Encode();
      again && offered(ov::msg::ServerTypes::Decode(*again).names) != offered(types.names))
    abort();
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
  CheckKeptFields(input);
  CheckPlainFrame(input);
  CheckMessages(input);
  for (const std::string& field : ov::SplitFields(input)) CheckParseInt(field);
  CheckCode(input.substr(0, 4));
  return 0;
}
