#include "registry/registry_updates.h"

#include <string>
#include <vector>

#include "consoles/consoles.h"
#include "core/server_tables.h"
#include "core/status_line.h"
#include "net/frame_sender.h"
#include "registry/selection.h"
#include "wire/messages.h"

namespace ov {

namespace {

constexpr int kErrorTime = 5000;
constexpr int kErrorBeeps = 2;

bool IsSlotIndex(int index) { return index >= 1 && index < kSlotCount; }

// A server has one node: shown again, it gets the new text in place of a second node.
template <typename Record>
void ShowNode(ServersTreeView& tree, Record& record, int parent, const std::string& text) {
  if (record.TreeNode != 0) {
    tree.SetNodeText(record.TreeNode, text);
  } else {
    ServerTables::SetTreeNode(record, tree.AddNode(parent, text));
  }
}

// The live Quake slot of a server, or -1. A released slot still holds its pair but no longer names a
// server: writing to it would leave nodes and windows that nothing ever removes.
int LiveQServer(const ServerTables& tables, int ovIndex, int serverId) {
  const int q = tables.FindQServer(ovIndex, serverId);
  return q != -1 && tables.QServers[q].InUse == 1 ? q : -1;
}

// Deletes the node, marks the window dead and frees the slot of an OV or Quake server. The field is
// cleared before the node goes: deleting a selected node runs UpdateSelection at once, and it must not
// find a node that no longer exists.
template <typename Record>
void ReleaseSlot(Selection& selection, Consoles& consoles, Record& record) {
  if (const int node = ServerTables::TakeTreeNode(record); node != 0) selection.DeleteNode(node);
  if (Console* window = ServerTables::TakeWindow(record); window != nullptr) consoles.MarkDead(*window);
  ServerTables::Release(record);
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
  if (!IsSlotIndex(slot)) return;
  OVIrec& ov = tables_.OVServers[slot];
  ShowNode(tree_, ov, 0, "[OV]" + ov.Where.Text());
  tree_.SetNodeTip(ov.TreeNode, ov.Where.Text());
}

void Registry::OnOVInfo(int socket, const msg::OvInfo& info) {
  const int slot = tables_.LiveSlot(socket);
  if (slot == -1) return;

  OVIrec& ov = tables_.OVServers[slot];
  ov.Info1 = KeptName(info.info);
  if (info.name) ov.Name = KeptName(*info.name);
  // The connection's node (shown by its address until now) takes the name; a repeated 21 renames it
  // and the server's window, rather than leaving an older node behind.
  if (ov.TreeNode == 0) OnConnectionOpened(slot);
  ShowNode(tree_, ov, 0, "[OV]" + ov.Name);
  if (ov.Window != nullptr) consoles_.SetCaption(*ov.Window, "OV Server on " + ov.Name);
  const bool first = ov.Introduced == 0;
  ov.Introduced = 1;

  // The first 21 answers the user's own Connect (and login): its console is where the user goes next.
  selection_.OpenServerWindow(slot, 0, first ? Opener::User : Opener::Server);
  sender_.Send(socket, msg::OvInfoRecorded{});
  sender_.Send(socket, msg::OvConsoleOpened{});
  if (first && onIntroduced_) onIntroduced_(slot);
}

void Registry::OnServerInfo(int socket, const msg::ServerInfo& info) {
  const int slot = tables_.LiveSlot(socket);
  if (slot == -1) {
    status_.ShowStatus("ERROR: received Serverinfo from nonexistant OV server", kErrorTime, kErrorBeeps);
    return;
  }

  const int id = info.id;
  if (id == 0) {
    status_.ShowStatus("Error: Bad ServerInfo received (illegible ID)", kErrorTime, kErrorBeeps);
    return;
  }
  // Information about a server this OV server never announced, or has removed, changes nothing.
  const int q = LiveQServer(tables_, slot, id);
  if (q == -1) return;

  QSIrec& server = tables_.QServers[q];
  if (info.type) server.Info2 = KeptName(*info.type);
  if (info.title) server.Title = KeptName(*info.title);
  if (info.commandLine) server.Info4 = KeptName(*info.commandLine);
  if (info.info5) server.Info5 = *info.info5;
  if (info.consoleMode) server.ConsoleMode = *info.consoleMode;
  server.GamePort = info.gamePort;

  // Under the OV server's node, or at the top level while the OV server has none; a repeated 25 renames
  // the node and the window the server already has.
  ShowNode(tree_, server, tables_.OVServers[slot].TreeNode, "[G]" + server.Title);
  if (server.Window != nullptr) consoles_.SetCaption(*server.Window, server.Title);
  selection_.OpenServerWindow(slot, id);
}

void Registry::OnNewServer(int socket, const msg::NewServer& announced) {
  // Without a live connection there is no OV server to file the Quake server under.
  const int slot = tables_.LiveSlot(socket);
  if (slot == -1) return;

  const int id = announced.Id();
  const msg::NewServerAccepted answer{announced.idText};
  if (id != -1 && LiveQServer(tables_, slot, id) != -1) {
    // Announced again: a second slot for the same pair would never be found, and its window pointer
    // would outlive the window. The server is known, so it is simply acknowledged.
    sender_.Send(socket, answer);
    return;
  }

  const int q = tables_.AllocQSlot();
  if (q == -1) {
    status_.ShowStatus("ERROR: Too many servers open", kErrorTime, kErrorBeeps);
    return;
  }
  if (id == -1) {
    // Give the slot back: kept, it could never be removed and would fail every later removal.
    tables_.ReleaseQSlot(q);
    status_.ShowStatus("ERROR: Bad server ID", kErrorTime, kErrorBeeps);
    return;
  }
  QSIrec& server = tables_.QServers[q];
  server.OVIndex = slot;
  server.ServerId = id;
  server.GamePort = 0;  // unknown until its ServerInfo tells, whatever the slot held before
  sender_.Send(socket, answer);
}

void Registry::RemoveQServer(int socket, const msg::ServerRemoved& removed) {
  const int slot = tables_.LiveSlot(socket);
  if (slot == -1) {
    status_.ShowStatus("ERROR: received Remove from nonexistant OV Server", kErrorTime, kErrorBeeps);
    return;
  }
  const int id = removed.id;
  if (id == -1) {
    status_.ShowStatus("Error: Bad Remove received (illegible ID)", kErrorTime, kErrorBeeps);
    return;
  }
  const int q = LiveQServer(tables_, slot, id);
  if (q == -1) return;
  if (onRemoving_) onRemoving_(slot, q);
  ReleaseSlot(selection_, consoles_, tables_.QServers[q]);
}

void Registry::OnServerTypes(int socket, const msg::ServerTypes& types) {
  const int slot = tables_.LiveSlot(socket);
  if (slot == -1) return;

  // Kept as offered: a start request names its type with these very bytes. Only what shows is cleaned.
  OVIrec& ov = tables_.OVServers[slot];
  for (OVIst& type : ov.Types) type.TypeName.clear();
  for (size_t n = 0; n < types.names.size() && n < ov.Types.size(); ++n)
    ov.Types[n].TypeName = types.names[n];
}

void Registry::RemoveOVServer(int slot, const std::string& endLine) {
  if (!IsSlotIndex(slot)) return;
  Console* window = tables_.OVServers[slot].Window;
  RemoveAllQServers(slot);
  ReleaseSlot(selection_, consoles_, tables_.OVServers[slot]);
  // The dead window keeps the model: its log ends with the connection's last word.
  if (window != nullptr && !endLine.empty()) consoles_.AppendLine(*window, endLine);
}

void Registry::RemoveAllQServers(int slot) {
  if (!IsSlotIndex(slot)) return;
  // Each server is removed by its own slot, so every one of them goes, whatever ids they hold.
  for (int q = 1; q < kSlotCount; ++q) {
    if (tables_.QServers[q].InUse == 1 && tables_.QServers[q].OVIndex == slot)
      ReleaseSlot(selection_, consoles_, tables_.QServers[q]);
  }
}

}  // namespace ov
