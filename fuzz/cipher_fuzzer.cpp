// The account cipher: whatever is enciphered comes back whole, and any payload a peer sends deciphers
// without harm, to the length the marker promises.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "wire/cipher.h"

namespace {

const ov::MessageCipher& Cipher() {
  static const ov::MessageCipher cipher = [] {
    ov::MessageCipher c;
    c.BuildMessageKey();
    return c;
  }();
  return cipher;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const ov::MessageCipher& cipher = Cipher();

  const std::string sealed = cipher.EncryptMsg(input);
  if (sealed.size() != input.size() + 2 || sealed[0] != '\x07' || sealed[1] != '\x05') abort();
  if (cipher.DecryptMsg(sealed) != input) abort();

  // As received: two bytes of marker (or of anything), then the text.
  const std::string opened = cipher.DecryptMsg(input);
  if (opened.size() != (size < 2 ? 0 : size - 2)) abort();
  if (size >= 2 && input.substr(0, 2) != "\x07\x05" && opened != input.substr(2)) abort();

  // XOR with any key is its own inverse; an empty key changes nothing.
  const std::string_view key = input.substr(0, size % 17);
  if (ov::XorWithKey(ov::XorWithKey(input, key), key) != input) abort();
  return 0;
}
