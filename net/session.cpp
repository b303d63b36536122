#include "net/session.h"

#include <algorithm>

#include "net/server_record.h"

namespace ov {

Session::Session(int socket, int slot, Endpoint where)
    : socket_(socket), slot_(slot), where_(std::move(where)), server_(std::make_shared<OVIrec>()) {}

Session::~Session() = default;

const std::string& Session::Name() const { return server_->Name; }
bool Session::Introduced() const { return server_->Introduced; }
Console* Session::Window() const { return server_->Window; }

int Sessions::FreeSlot() const {
  for (int slot = 1; slot < kSlotCount; ++slot)
    if (!open_[slot]) return slot;
  return -1;
}

Session& Sessions::Open(int socket, int slot, Endpoint where) {
  std::shared_ptr<Session>& session = open_[slot];
  session = std::make_shared<Session>(socket, slot, std::move(where));
  return *session;
}

void Sessions::Close(int socket) {
  for (auto& open : open_) {
    if (!open || open->Socket() != socket) continue;
    // Out of the directory first: what the session's state runs as it goes finds the connection closed.
    const std::shared_ptr<Session> closing = std::move(open);
    return;
  }
}

Session* Sessions::Find(int socket) const {
  for (const auto& open : open_)
    if (open && open->Socket() == socket) return open.get();
  return nullptr;
}

Session* Sessions::AtSlot(int slot) const {
  return slot >= 1 && slot < kSlotCount ? open_[slot].get() : nullptr;
}

int Sessions::FreeGameSlot() const {
  bool taken[kSlotCount] = {};
  ForEach([&](const Session& s) {
    for (const QSIrec& q : s.Server().QServers) taken[q.Slot] = true;
  });
  for (int slot = 1; slot < kSlotCount; ++slot)
    if (!taken[slot]) return slot;
  return -1;
}

Console* Sessions::WindowOf(int slot, int serverId) const {
  Session* session = AtSlot(slot);
  if (session == nullptr) return nullptr;
  if (serverId == 0) return session->Server().Window;
  const QSIrec* q = session->Server().FindQServer(serverId);
  return q != nullptr ? q->Window : nullptr;
}

void Sessions::ForgetWindow(int slot, int serverId, const Console& window) {
  Session* session = AtSlot(slot);
  if (session == nullptr) return;
  OVIrec& ov = session->Server();
  if (serverId == 0) {
    if (ov.Window == &window) ov.Window = nullptr;
  } else if (QSIrec* q = ov.FindQServer(serverId); q != nullptr && q->Window == &window) {
    q->Window = nullptr;
  }
}

namespace {
GameServerView ViewOf(Session& session, const QSIrec& q) {
  return {session.Slot(), q.ServerId, q.Title, q.GamePort, q.TreeNode, q.Window, ConnectionHandle(session)};
}
}  // namespace

std::optional<GameServerView> Sessions::Game(int slot, int serverId) const {
  Session* session = AtSlot(slot);
  const QSIrec* q = session != nullptr ? session->Server().FindQServer(serverId) : nullptr;
  if (q == nullptr) return std::nullopt;
  return ViewOf(*session, *q);
}

std::vector<GameServerView> Sessions::Games() const {
  std::vector<std::pair<int, GameServerView>> bySlot;
  for (const auto& open : open_) {
    if (!open) continue;
    for (const QSIrec& q : open->Server().QServers) bySlot.emplace_back(q.Slot, ViewOf(*open, q));
  }
  std::sort(bySlot.begin(), bySlot.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<GameServerView> games;
  for (auto& [slot, view] : bySlot) games.push_back(std::move(view));
  return games;
}

std::vector<std::string> Sessions::OfferedTypes(int slot) const {
  std::vector<std::string> types;
  if (const Session* session = AtSlot(slot)) {
    for (const OVIst& type : session->Server().Types)
      if (!type.TypeName.empty()) types.push_back(type.TypeName);
  }
  return types;
}

}  // namespace ov
