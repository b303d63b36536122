#pragma once
#include <string>

namespace ov {

class Client;

class ControlDispatcher {
 public:
  explicit ControlDispatcher(Client& client) : client_(client) {}
  void DispatchControl(int socket, int n, const std::string& payload);

 private:
  Client& client_;
};

}  // namespace ov
