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

namespace ov {

class SocketApi;
class Sessions;
class Session;
class ServerTables;
class StatusLine;
class DebugLog;
class MessageCipher;

constexpr size_t kMaxUnsent = 16 << 20;  // a peer that leaves this much unread has stopped reading

class FrameSender {
 public:
  FrameSender(SocketApi& sockets, Sessions& sessions, const ServerTables& tables, StatusLine& status,
              DebugLog& debug, const MessageCipher& cipher)
      : sockets_(sockets),
        sessions_(sessions),
        tables_(tables),
        status_(status),
        debug_(debug),
        cipher_(cipher) {}

  // The peer of socket left more than kMaxUnsent unread; the handler disconnects it.
  void SetStalledHandler(std::function<void(int socket)> onStalled) { onStalled_ = std::move(onStalled); }

  void SendFrame(int socket, int32_t code, std::string_view payload);
  void SendControl(int socket, ControlMessage message, std::string_view payload);  // account ones enciphered
  void SendConsole(int slot, int32_t serverId, std::string_view text);
  void OnWritable(int socket);  // flushes what the socket did not take earlier

 private:
  void Queue(Session& session, std::string_view bytes);  // into the session's unsent frames

  SocketApi& sockets_;
  Sessions& sessions_;
  const ServerTables& tables_;
  StatusLine& status_;
  DebugLog& debug_;
  const MessageCipher& cipher_;
  std::function<void(int socket)> onStalled_;
};

}  // namespace ov
