#include "net/socket_api.h"

#include <algorithm>
#include <bit>
#include <string_view>

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

AddressParts ClassifyAddress(const std::string& text) {
  if (InetAddr(text) != kInaddrNone) return {AddressForm::Dotted, {}};
  // A last part of digits (or 0x and hex digits) makes it a dotted address that inet_addr refused, such
  // as 255.255.255.255 or 1.2.3.4.5: refused, never looked up as a name.
  std::string_view last(text);
  if (const size_t dot = last.rfind('.'); dot != std::string_view::npos) last.remove_prefix(dot + 1);
  const bool hex = last.size() > 2 && last[0] == '0' && (last[1] == 'x' || last[1] == 'X');
  if (!last.empty() && std::all_of(last.begin() + (hex ? 2 : 0), last.end(),
                                   [&](char c) { return DigitValue(c) < (hex ? 16 : 10); }))
    return {};

  std::string_view inner(text);
  const bool bracketed = inner.size() > 2 && inner.front() == '[' && inner.back() == ']';
  if (bracketed) inner = inner.substr(1, inner.size() - 2);
  if (inner.find(':') != std::string_view::npos) {
    // Hex groups, colons, an IPv4 tail and a zone after %: the look-up takes it as a number only.
    const size_t zone = inner.find('%');
    const std::string_view address = inner.substr(0, zone);
    const bool ok =
        address.size() <= 45 && inner.size() <= 64 &&
        std::all_of(address.begin(), address.end(),
                    [](char c) { return c == ':' || c == '.' || DigitValue(c) < 16; }) &&
        (zone == std::string_view::npos || std::all_of(inner.begin() + zone + 1, inner.end(), [](char c) {
           return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-' ||
                  c == '_' || c == '.';
         }));
    if (ok) return {AddressForm::Ipv6, std::string(inner)};
    return {};
  }
  if (bracketed || text.empty() || text.size() > 253) return {};
  // Labels of letters, digits, '-' and '_', 1 to 63 each, with a final dot allowed.
  std::string_view name(text);
  if (name.back() == '.') name.remove_suffix(1);
  size_t label = 0;
  for (const char c : name) {
    if (c == '.') {
      if (label == 0) return {};
      label = 0;
      continue;
    }
    const bool allowed =
        (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-' || c == '_';
    if (!allowed || ++label > 63) return {};
  }
  if (label == 0) return {};
  return {AddressForm::Name, text};
}

uint16_t Htons(uint16_t port) {
  if constexpr (std::endian::native == std::endian::little) return __builtin_bswap16(port);
  return port;
}

}  // namespace ov
