#pragma once
// What the OV server sends, made into frames one way. A control message goes through its typed encoder
// here (ControlFrame), then ov::PlainFrame, which refuses a frame byte (0xFE, 0xFD) inside a plain
// payload, or, for an account message, enciphered, the one payload that may hold any byte; console text
// goes through ov::PlainFrame in Connection::SendConsoleLine. The server frames nothing any other way, so
// no path of it can cut a frame in two.
//
// A text of the server's that cannot travel where it goes is sent changed rather than not at all:
// - console text, status notes and message boxes: a frame byte loses its high bit (0xFD '}', 0xFE '~'),
//   by ConsoleSafe in Connection's senders, as game servers' output is;
// - a field among several (the names of 21 and 31, the type, title and command line of 25): the field
//   separator and the frame bytes become '?', by FieldSafe where those messages are made;
// - the login request's caption (900): a character whose enciphered byte would end the frame becomes
//   '?', by EncipherForFrame, and the server warns of it at start-up.
// The configuration's names and caption were refused when read if they hold those bytes; a message its
// encoder still refuses is not sent, and the sender logs it.
#include <optional>
#include <string>
#include <string_view>

#include "wire/cipher.h"
#include "wire/codes.h"
#include "wire/frames.h"
#include "wire/messages.h"

namespace ovs {

// A text for a field among several: the separator and the frame bytes become '?'.
std::string FieldSafe(std::string_view text);

// Enciphers an account-range payload so that the frame can carry it: a character whose enciphered byte
// would be 0xFE (end of frame) or 0x00 is replaced by "?" first.
std::string EncipherForFrame(const ov::MessageCipher& cipher, std::string plain);

// The frame of a control message, or nothing when its encoder refuses a field.
template <typename Message>
std::optional<std::string> ControlFrame(const Message& message, const ov::MessageCipher& cipher) {
  const std::optional<std::string> payload = message.Encode();
  if (!payload) return std::nullopt;
  constexpr int32_t code = ov::ControlCode(Message::kId);
  if constexpr (ov::IsAccountMessage(ov::Number(Message::kId)))
    return ov::EncipheredFrame(code, EncipherForFrame(cipher, *payload));
  return ov::PlainFrame(code, *payload);
}

}  // namespace ovs
