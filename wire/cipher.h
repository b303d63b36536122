#pragma once
// The cipher of the account messages: repeating-key XOR, the top bit flipped, behind the marker 07 05.
#include <string>
#include <string_view>

namespace ov {

// Every enciphered payload starts with these two bytes.
constexpr char kCipherMarker[2] = {'\x07', '\x05'};

std::string XorWithKey(std::string_view text, std::string_view key);

class MessageCipher {
 public:
  void BuildMessageKey();
  const std::string& MessageKey() const { return key_; }
  std::string EncryptMsg(std::string_view payload) const;
  std::string DecryptMsg(std::string_view payload) const;

 private:
  std::string key_;
};

}  // namespace ov
