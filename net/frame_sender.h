#pragma once
// The sending half of a connection's frames: what the socket does not take at once waits, whole frames
// in order, until the socket is writable again. It stands alone: a peer that stops reading is handed to
// the handler the root sets.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "wire/codes.h"

namespace ov {

class SocketApi;
class ServerTables;
class StatusLine;
class DebugLog;
class MessageCipher;

constexpr size_t kMaxUnsent = 16 << 20;  // a peer that leaves this much unread has stopped reading

class FrameSender {
 public:
  FrameSender(SocketApi& sockets, const ServerTables& tables, StatusLine& status, DebugLog& debug,
              const MessageCipher& cipher)
      : sockets_(sockets), tables_(tables), status_(status), debug_(debug), cipher_(cipher) {}

  // The peer of socket left more than kMaxUnsent unread; the handler disconnects it.
  void SetStalledHandler(std::function<void(int socket)> onStalled) { onStalled_ = std::move(onStalled); }

  void SendFrame(int socket, int32_t code, std::string_view payload);
  void SendControl(int socket, ControlMessage message, std::string_view payload);  // account ones enciphered
  void SendConsole(int slot, int32_t serverId, std::string_view text);
  void OnWritable(int socket);  // flushes what the socket did not take earlier
  void Forget(int socket);      // the connection closed: drop its unsent frames

 private:
  struct Unsent {
    std::string unsent;
    size_t unsentHead = 0;  // bytes at the front of unsent that have gone out already
  };
  void Queue(int socket, Unsent& connection, std::string_view bytes);

  SocketApi& sockets_;
  const ServerTables& tables_;
  StatusLine& status_;
  DebugLog& debug_;
  const MessageCipher& cipher_;
  std::function<void(int socket)> onStalled_;
  std::unordered_map<int, Unsent> connections_;
};

}  // namespace ov
