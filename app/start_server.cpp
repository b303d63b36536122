#include "app/start_server.h"

#include "core/status_line.h"
#include "net/frame_sender.h"
#include "registry/registry_updates.h"
#include "wire/messages.h"

namespace ov {

std::string BuildStartPayload(const std::string& type, const std::string& title,
                              const std::string& commandLine) {
  return msg::StartServer{type, title, commandLine}.Encode().value_or("");
}

std::vector<std::string> StartServer::RefillHosts() {
  hostSlots_.fill(-1);
  std::vector<std::string> names;
  sessions_.ForEach([&](Session& session) {
    hostSlots_[names.size()] = session.Slot();
    hosts_[names.size()] = ConnectionHandle(session);
    names.push_back(session.Name());
  });
  return names;
}

int StartServer::PreselectedLine(int selectedSlot) const {
  int lines = 0;
  for (int line = 0; line < kSlotCount && hostSlots_[line] != -1; ++line) {
    if (selectedSlot > 0 && hostSlots_[line] == selectedSlot) return line;
    ++lines;
  }
  return lines == 1 ? 0 : -1;
}

std::vector<std::string> StartServer::TypesForHost(int hostLine) const {
  std::vector<std::string> types;
  if (hostLine < 0 || hostLine >= kSlotCount || hostSlots_[hostLine] == -1) return types;
  // The line stands for the connection listed: one that took its slot since offers nothing here.
  const std::shared_ptr<Session> host = hosts_[hostLine].Lock();
  if (host == nullptr) return types;
  for (const std::string& type : sessions_.OfferedTypes(host->Slot())) types.push_back(KeptName(type));
  return types;
}

int StartServer::Go(int hostLine, int typeLine, const std::string& typeText, const std::string& title,
                    const std::string& commandLine) {
  const bool hostChosen = hostLine >= 0 && hostLine < kSlotCount && hostSlots_[hostLine] != -1;
  if (!hostChosen || typeLine < 0) {
    status_.ShowStatus("START ERROR: Host or Type not selected", 3000, 1);
    return -1;
  }
  const auto invalidType = [this] {
    status_.ShowStatus("START ERROR: Couldn't start - invalid servertype", 2000, 1);
    return -1;
  };
  if (typeText.empty()) return invalidType();
  // The list is not refreshed while the dialog is open: when the chosen connection has closed, and
  // perhaps another has taken its slot since, the request goes nowhere rather than to another server.
  const std::shared_ptr<Session> host = hosts_[hostLine].Lock();
  if (host == nullptr || !host->connected) {
    status_.ShowStatus("START ERROR: Couldn't start - host no longer connected", 3000, 1);
    return -1;
  }
  // The type goes back as the server offered it; the line must still show it (a later 31 may have
  // changed the list under the open dialog).
  const std::vector<std::string> offered = sessions_.OfferedTypes(host->Slot());
  if (size_t(typeLine) >= offered.size() || KeptName(offered[typeLine]) != typeText) return invalidType();
  return sender_.Send(host->Socket(), msg::StartServer{offered[typeLine], title, commandLine}) ? 1 : -1;
}

}  // namespace ov
