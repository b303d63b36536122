#include "net/session.h"

namespace ov {

Session& Sessions::Open(int socket, int slot) {
  std::shared_ptr<Session>& session = open_[socket];
  session = std::make_shared<Session>(socket, slot);
  return *session;
}

void Sessions::Close(int socket) {
  auto it = open_.find(socket);
  if (it == open_.end()) return;
  // Out of the table first: what the session's state runs as it goes finds the connection closed.
  const std::shared_ptr<Session> closing = std::move(it->second);
  open_.erase(it);
}

Session* Sessions::Find(int socket) const {
  auto it = open_.find(socket);
  return it != open_.end() ? it->second.get() : nullptr;
}

}  // namespace ov
