#include "net/socket_api.h"

#include <bit>

namespace ov {

namespace {

uint32_t ToNetworkOrder(uint32_t host) {
  if constexpr (std::endian::native == std::endian::little) return __builtin_bswap32(host);
  return host;
}

bool IsDecimalDigit(char c) { return c >= '0' && c <= '9'; }

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 99;
}

}  // namespace

// The classic C library reading: one to four parts, each decimal, octal (leading 0) or hex (0x); the
// last part fills the bytes that are left, so 127.1 is 127.0.0.1. A blank ends the text; the text also
// ends at a zero byte, as it would for the C routine.
uint32_t InetAddr(const std::string& text) {
  const char* p = text.c_str();
  uint32_t parts[3] = {0, 0, 0};
  int count = 0;
  uint64_t value = 0;
  for (;;) {
    if (!IsDecimalDigit(*p)) return kInaddrNone;
    int base = 10;
    if (*p == '0') {
      if ((p[1] == 'x' || p[1] == 'X') && DigitValue(p[2]) < 16) {
        base = 16;
        p += 2;
      } else {
        base = 8;
      }
    }
    value = 0;
    bool tooBig = false;
    for (int d = DigitValue(*p); d < base; d = DigitValue(*++p)) {
      value = value * base + d;
      if (value > 0xFFFFFFFFu) {
        tooBig = true;
        value = 0xFFFFFFFFu + uint64_t{1};  // keeps the product within 64 bits
      }
    }
    if (tooBig) return kInaddrNone;
    if (*p != '.') break;
    if (count == 3 || value > 0xFF) return kInaddrNone;
    parts[count++] = static_cast<uint32_t>(value);
    ++p;
  }
  if (*p != '\0' && !IsBlank(*p)) return kInaddrNone;

  static constexpr uint64_t kLastPartMax[4] = {0xFFFFFFFFu, 0xFFFFFFu, 0xFFFFu, 0xFFu};
  if (value > kLastPartMax[count]) return kInaddrNone;
  uint32_t host = static_cast<uint32_t>(value);
  for (int i = 0; i < count; ++i) host |= parts[i] << (24 - 8 * i);
  return ToNetworkOrder(host);
}

uint16_t Htons(uint16_t port) {
  if constexpr (std::endian::native == std::endian::little) return __builtin_bswap16(port);
  return port;
}

}  // namespace ov
