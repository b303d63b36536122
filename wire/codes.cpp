#include "wire/codes.h"

#include "wire/payload.h"

namespace ov {

std::string FormatCode(int32_t number) {
  const uint32_t value = static_cast<uint32_t>(number);
  if (value > 9999) return "XXXX";
  std::string digits = std::to_string(value);
  return std::string(4 - digits.size(), '0') + digits;
}

CodeClass ClassifyCode(std::string_view code) {
  // Nearly every code is four digits, read here by hand: the same numbers as below at a fraction of the
  // cost, once per frame received.
  if (code.size() == 4) {
    int number = 0;
    bool digits = true;
    for (const char c : code) {
      digits = digits && c >= '0' && c <= '9';
      number = number * 10 + (c - '0');
    }
    if (digits)
      return number >= 1000 && number < 2000 ? CodeClass{CodeKind::Control, number - 1000}
                                             : CodeClass{CodeKind::Console, number};
  }
  if (!code.empty() && code[0] == '1') {
    const int control = ParseInt(code.substr(1, 3), -1);
    if (control != -1) return {CodeKind::Control, control};
  }
  const int id = ParseInt(code, -1);
  if (id != -1) return {CodeKind::Console, id};
  return {CodeKind::Unknown, -1};
}

bool IsGameServerId(int32_t id) { return id != 0 && ClassifyCode(FormatCode(id)).kind == CodeKind::Console; }

}  // namespace ov
