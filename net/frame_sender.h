#pragma once
// The sending half of a connection's frames: what the socket does not take at once waits, whole frames
// in order, until the socket is writable again. It stands alone: a peer that stops reading is handed to
// the handler the root sets.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "wire/codes.h"
#include "wire/messages.h"

namespace ov {

class SocketApi;
class Sessions;
class Session;
class StatusLine;
class DebugLog;
class MessageCipher;

constexpr size_t kMaxUnsent = 16 << 20;  // a peer that leaves this much unread has stopped reading

class FrameSender {
 public:
  FrameSender(SocketApi& sockets, Sessions& sessions, StatusLine& status, DebugLog& debug,
              const MessageCipher& cipher)
      : sockets_(sockets), sessions_(sessions), status_(status), debug_(debug), cipher_(cipher) {}

  // The peer of socket left more than kMaxUnsent unread; the handler disconnects it.
  void SetStalledHandler(std::function<void(int socket)> onStalled) { onStalled_ = std::move(onStalled); }

  // Each Send returns whether the frame went out or waits its turn in the queue. A payload the wire
  // cannot carry plain (a frame byte, 0xFE or 0xFD, inside it, or over kMaxPayload) is refused whoever
  // sends it, with a note on the status line and in the debug log; nothing at all is sent for it.
  bool SendFrame(int socket, int32_t code, std::string_view payload);
  // A typed control message, encoded once; refused like a plain payload when a field cannot travel.
  template <typename Message>
  bool Send(int socket, const Message& message) {
    const std::optional<std::string> payload = message.Encode();
    if (!payload) return Refuse(ControlCode(Message::kId), "a field holds a byte the protocol cannot carry");
    return SendControl(socket, Message::kId, *payload);
  }
  // Account messages go enciphered, the one payload that may hold any byte; every other one plain.
  bool SendControl(int socket, ControlMessage message, std::string_view payload);
  bool SendConsole(int slot, int32_t serverId, std::string_view text);
  void OnWritable(int socket);  // flushes what the socket did not take earlier

 private:
  bool SendEnciphered(int socket, int32_t code, std::string_view plain);
  bool Transmit(int socket, int32_t code, const std::string& frame, std::string_view payload);
  bool Refuse(int32_t code, const std::string& why);
  void Queue(Session& session, std::string_view bytes);  // into the session's unsent frames

  SocketApi& sockets_;
  Sessions& sessions_;
  StatusLine& status_;
  DebugLog& debug_;
  const MessageCipher& cipher_;
  std::function<void(int socket)> onStalled_;
};

}  // namespace ov
