#pragma once
#include <deque>
#include <string>

namespace ov {

class Client;

class ControlDispatcher {
 public:
  explicit ControlDispatcher(Client& client) : client_(client) {}
  void DispatchControl(int socket, int n, const std::string& payload);

 private:
  void ShowServerMessage(std::string text);

  Client& client_;
  bool boxOpen_ = false;
  std::deque<std::string> waitingMessages_;
};

}  // namespace ov
