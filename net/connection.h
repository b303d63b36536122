#pragma once
// The connections to OV servers: slots, sockets, the connect wait, socket events and disconnecting.
#include <cstdint>
#include <string>

namespace ov {

class Client;

class Connections {
 public:
  explicit Connections(Client& client) : client_(client) {}

  bool InitSockets();  // false after the failure box; the program then ends
  void ShutdownSockets();
  int NewSocket();  // slot index or -1
  void ConnectToServer(const std::string& address, int port, int count);
  void HandleSocketEvent(int message, int socket, uint32_t eventWord);
  void Disconnect(int slot, int reason);
  std::string LastErrorText() const;

 private:
  Client& client_;
};

}  // namespace ov
