#pragma once
// One connection's frames: what the socket did not take waits here, and what arrives is split into frames.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>

#include "wire/frames.h"

namespace ov {

class Client;

constexpr size_t kReceiveBufferSize = 32768;
constexpr size_t kMaxUnsent = 16 << 20;  // a peer that leaves this much unread has stopped reading

class FrameLayer {
 public:
  explicit FrameLayer(Client& client) : client_(client) {}

  void ReceiveFrames(int socket);
  void SendFrame(int socket, int32_t code, std::string_view payload);
  void SendControl(int socket, int32_t n, std::string_view payload);
  void SendConsole(int slot, int32_t serverId, std::string_view text);
  void OnWritable(int socket);  // flushes what the socket did not take earlier
  void Forget(int socket);      // the connection closed: drop its kept bytes and unsent frames

  // Reads are numbered as they are made. Handlers that wait can tell a frame received before their
  // wait ended (handed over only after it, as the rest of the same read) from one received later.
  uint64_t ReadsSoFar() const { return reads_; }
  uint64_t ReadOfFrame() const { return handingOver_; }  // 0 outside a hand-over

 private:
  struct Connection {
    FrameAssembler assembler;
    std::string unsent;
    size_t unsentHead = 0;  // bytes at the front of unsent that have gone out already
  };
  void Queue(int socket, Connection& connection, std::string_view bytes);
  void HandOver(int socket, const FrameView& frame);
  Client& client_;
  std::unordered_map<int, Connection> connections_;
  uint64_t reads_ = 0;
  uint64_t handingOver_ = 0;
};

}  // namespace ov
