#include "wire/cipher.h"

#include <array>
#include <cstdint>

namespace ov {

namespace {

// The constant shared with every OV server; the key is each byte plus 128.
constexpr std::array<uint8_t, 16> kStoredKey = {0x3A, 0xC5, 0x17, 0x6E, 0x92, 0x0B, 0xF4, 0x58,
                                                0x21, 0xAD, 0x7C, 0x03, 0xE9, 0x46, 0xB8, 0x5F};

char FlipTopBit(char c) { return static_cast<char>(static_cast<uint8_t>(c) ^ 0x80u); }

}  // namespace

std::string XorWithKey(std::string_view text, std::string_view key) {
  std::string out(text);
  if (key.empty()) return out;
  for (size_t i = 0; i < out.size(); ++i) out[i] = static_cast<char>(out[i] ^ key[i % key.size()]);
  return out;
}

void MessageCipher::BuildMessageKey() {
  key_.clear();
  for (uint8_t b : kStoredKey) key_.push_back(static_cast<char>(static_cast<uint8_t>(b + 128)));
}

std::string MessageCipher::EncryptMsg(std::string_view payload) const {
  std::string out{kCipherMarker[0], kCipherMarker[1]};
  out.reserve(payload.size() + 2);
  for (char c : XorWithKey(payload, key_)) out.push_back(FlipTopBit(c));
  return out;
}

std::string MessageCipher::DecryptMsg(std::string_view payload) const {
  if (payload.size() < 2) return {};
  const bool enciphered = payload[0] == kCipherMarker[0] && payload[1] == kCipherMarker[1];
  payload.remove_prefix(2);
  // Without the marker the OV server sent plain text behind two bytes of its choice.
  if (!enciphered) return std::string(payload);
  std::string flipped;
  flipped.reserve(payload.size());
  for (char c : payload) flipped.push_back(FlipTopBit(c));
  return XorWithKey(flipped, key_);
}

}  // namespace ov
