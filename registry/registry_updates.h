#pragma once
// The registry messages of an OV server (21, 25, 27, 28, 31) and the removal of an OV server.
#include <string>

namespace ov {

class Client;

class Registry {
 public:
  explicit Registry(Client& client) : client_(client) {}

  void OnOVInfo(int socket, const std::string& payload);      // 21
  void OnServerInfo(int socket, const std::string& payload);  // 25
  void OnNewServer(int socket, const std::string& payload);   // 27
  void RemoveQServer(int socket, const std::string& payload); // 28
  void OnServerTypes(int socket, const std::string& payload); // 31
  void RemoveOVServer(int slot);
  void RemoveAllQServers(int slot);

 private:
  Client& client_;
};

}  // namespace ov
