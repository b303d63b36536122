#include "registry/registry_updates.h"

#include <string>
#include <utility>

#include "consoles/consoles.h"
#include "core/status_line.h"
#include "net/frame_sender.h"
#include "net/server_record.h"
#include "registry/selection.h"
#include "wire/messages.h"

namespace ov {

namespace {

constexpr int kErrorTime = 5000;
constexpr int kErrorBeeps = 2;

// A server has one node: shown again, it gets the new text in place of a second node.
template <typename Record>
void ShowNode(ServersTreeView& tree, Record& record, int parent, const std::string& text) {
  if (record.TreeNode != 0) {
    tree.SetNodeText(record.TreeNode, text);
  } else {
    record.TreeNode = tree.AddNode(parent, text);
  }
}

// Deletes the node and marks the window dead of an OV or Quake server. The field is cleared before the
// node goes: deleting a selected node runs UpdateSelection at once, and it must not find a node that no
// longer exists.
template <typename Record>
void Clear(Selection& selection, Consoles& consoles, Record& record) {
  if (const int node = std::exchange(record.TreeNode, 0); node != 0) selection.DeleteNode(node);
  if (Console* window = std::exchange(record.Window, nullptr); window != nullptr) consoles.MarkDead(*window);
}

// Each server goes by its own entry, so every one of them goes, whatever ids they hold.
void RemoveAllQServers(Selection& selection, Consoles& consoles, OVIrec& ov) {
  while (!ov.QServers.empty()) {
    Clear(selection, consoles, ov.QServers.front());
    ov.QServers.pop_front();
  }
}

}  // namespace

std::string KeptName(std::string_view field) {
  // Only what is kept is looked at: the cost stays the same however long the field.
  std::string kept(field.substr(0, kMaxNameChars));
  for (char& c : kept) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || (byte >= 0x7F && byte < 0xA0)) c = ' ';
  }
  if (field.size() > kMaxNameChars) kept += kCutMark;
  return kept;
}

void Registry::OnConnectionOpened(int slot) {
  Session* session = sessions_.AtSlot(slot);
  if (session == nullptr) return;
  OVIrec& ov = session->Server();
  ShowNode(tree_, ov, 0, "[OV]" + session->Where().Text());
  tree_.SetNodeTip(ov.TreeNode, session->Where().Text());
}

void Registry::OnOVInfo(int socket, const msg::OvInfo& info) {
  Session* session = sessions_.Find(socket);
  if (session == nullptr) return;
  const int slot = session->Slot();

  OVIrec& ov = session->Server();
  if (info.name) ov.Name = KeptName(*info.name);
  // The connection's node (shown by its address until now) takes the name; a repeated 21 renames it
  // and the server's window, rather than leaving an older node behind.
  if (ov.TreeNode == 0) OnConnectionOpened(slot);
  ShowNode(tree_, ov, 0, "[OV]" + ov.Name);
  if (ov.Window != nullptr) consoles_.SetCaption(*ov.Window, "OV Server on " + ov.Name);
  const bool first = !ov.Introduced;
  ov.Introduced = true;

  // The first 21 answers the user's own Connect (and login): its console is where the user goes next.
  selection_.OpenServerWindow(slot, 0, first ? Opener::User : Opener::Server);
  sender_.Send(socket, msg::OvInfoRecorded{});
  sender_.Send(socket, msg::OvConsoleOpened{});
  if (first && onIntroduced_) onIntroduced_(slot);
}

void Registry::OnServerInfo(int socket, const msg::ServerInfo& info) {
  Session* session = sessions_.Find(socket);
  if (session == nullptr) {
    status_.ShowStatus("ERROR: received Serverinfo from nonexistant OV server", kErrorTime, kErrorBeeps);
    return;
  }

  const int id = info.id;
  if (id == 0) {
    status_.ShowStatus("Error: Bad ServerInfo received (illegible ID)", kErrorTime, kErrorBeeps);
    return;
  }
  // Information about a server this OV server never announced, or has removed, changes nothing.
  OVIrec& ov = session->Server();
  QSIrec* server = ov.FindQServer(id);
  if (server == nullptr) return;

  if (info.title) server->Title = KeptName(*info.title);
  if (info.consoleMode) server->ConsoleMode = *info.consoleMode;
  server->GamePort = info.gamePort;

  // Under the OV server's node, or at the top level while the OV server has none; a repeated 25 renames
  // the node and the window the server already has.
  ShowNode(tree_, *server, ov.TreeNode, "[G]" + server->Title);
  if (server->Window != nullptr) consoles_.SetCaption(*server->Window, server->Title);
  selection_.OpenServerWindow(session->Slot(), id);
}

void Registry::OnNewServer(int socket, const msg::NewServer& announced) {
  // Without a live connection there is no OV server to file the Quake server under.
  Session* session = sessions_.Find(socket);
  if (session == nullptr) return;

  const int id = announced.Id();
  const msg::NewServerAccepted answer{announced.idText};
  OVIrec& ov = session->Server();
  if (id != -1 && ov.FindQServer(id) != nullptr) {
    // Announced again: a second entry for the same id would never be found, and its window pointer
    // would outlive the window. The server is known, so it is simply acknowledged.
    sender_.Send(socket, answer);
    return;
  }

  const int gameSlot = sessions_.FreeGameSlot();
  if (gameSlot == -1) {
    status_.ShowStatus("ERROR: Too many servers open", kErrorTime, kErrorBeeps);
    return;
  }
  if (id == -1) {
    // Kept, it could never be removed and would fail every later removal.
    status_.ShowStatus("ERROR: Bad server ID", kErrorTime, kErrorBeeps);
    return;
  }
  QSIrec& server = ov.QServers.emplace_back();
  server.Slot = gameSlot;
  server.ServerId = id;
  sender_.Send(socket, answer);
}

void Registry::RemoveQServer(int socket, const msg::ServerRemoved& removed) {
  Session* session = sessions_.Find(socket);
  if (session == nullptr) {
    status_.ShowStatus("ERROR: received Remove from nonexistant OV Server", kErrorTime, kErrorBeeps);
    return;
  }
  const int id = removed.id;
  if (id == -1) {
    status_.ShowStatus("Error: Bad Remove received (illegible ID)", kErrorTime, kErrorBeeps);
    return;
  }
  OVIrec& ov = session->Server();
  QSIrec* server = ov.FindQServer(id);
  if (server == nullptr) return;
  if (onRemoving_) onRemoving_(session->Slot(), id);
  Clear(selection_, consoles_, *server);
  ov.QServers.remove_if([&](const QSIrec& q) { return &q == server; });
}

void Registry::OnServerTypes(int socket, const msg::ServerTypes& types) {
  Session* session = sessions_.Find(socket);
  if (session == nullptr) return;

  // Kept as offered: a start request names its type with these very bytes. Only what shows is cleaned.
  OVIrec& ov = session->Server();
  for (OVIst& type : ov.Types) type.TypeName.clear();
  for (size_t n = 0; n < types.names.size() && n < ov.Types.size(); ++n)
    ov.Types[n].TypeName = types.names[n];
}

void Registry::RemoveOVServer(OVIrec& ended, const std::string& endLine) {
  Console* window = ended.Window;
  RemoveAllQServers(selection_, consoles_, ended);
  Clear(selection_, consoles_, ended);
  // The dead window keeps the model: its log ends with the connection's last word.
  if (window != nullptr && !endLine.empty()) consoles_.AppendLine(*window, endLine);
}

}  // namespace ov
