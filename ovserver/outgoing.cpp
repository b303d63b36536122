#include "ovserver/outgoing.h"

#include "wire/payload.h"

namespace ovs {

std::string FieldSafe(std::string_view text) {
  std::string safe(text);
  for (char& c : safe)
    if (c == ov::kFieldSeparator || c == ov::kFrameEnd || c == ov::kFrameStart) c = '?';
  return safe;
}

std::string EncipherForFrame(const ov::MessageCipher& cipher, std::string plain) {
  std::string sealed = cipher.EncryptMsg(plain);
  bool replaced = false;
  for (size_t i = 2; i < sealed.size(); ++i) {
    if (sealed[i] == ov::kFrameEnd || sealed[i] == '\0') {
      plain[i - 2] = '?';
      replaced = true;
    }
  }
  return replaced ? cipher.EncryptMsg(plain) : sealed;
}

}  // namespace ovs
