#include "registry/selection.h"

#include <string>
#include <vector>

#include "consoles/consoles.h"
#include "core/desktop.h"
#include "core/server_tables.h"
#include "net/frame_sender.h"

namespace ov {

void Selection::UpdateSelection() {
  // Only the tables and the tree's current selection are read: this also runs inside a node deletion.
  const int node = tree_.SelectedNode();
  kind_ = SelectionKind::None;
  if (node != 0) {
    for (int s = 1; s < kSlotCount; ++s) {
      const OVIrec& ov = tables_.OVServers[s];
      if (ov.InUse == 1 && ov.TreeNode == node) {
        selected_ = {s, 0};
        kind_ = SelectionKind::OVServer;
        break;
      }
    }
    for (int q = 1; q < kSlotCount && kind_ == SelectionKind::None; ++q) {
      const QSIrec& server = tables_.QServers[q];
      if (server.InUse == 1 && server.TreeNode == node) {
        selected_ = {server.OVIndex, server.ServerId};
        kind_ = SelectionKind::QuakeServer;
      }
    }
  }

  const bool ov = kind_ == SelectionKind::OVServer;
  const bool quake = kind_ == SelectionKind::QuakeServer;
  Desktop& d = desktop_;
  d.SetCommandEnabled(Command::Disconnect, ov);
  d.SetCommandEnabled(Command::Kill, ov || quake);
  d.SetCommandEnabled(Command::OpenWindow, ov || quake);
  d.SetCommandEnabled(Command::EvilKill, quake);
}

void Selection::DeleteNode(int node) {
  const int before = tree_.SelectedNode();
  tree_.DeleteNode(node);
  const int after = tree_.SelectedNode();
  if (after != 0 && after != before) {
    movedTo_ = after;
    movedAt_ = loop_.Now();
  }
}

bool Selection::MayAct() {
  const int node = tree_.SelectedNode();
  return node == 0 || node != movedTo_ || loop_.Now() - movedAt_ >= doubleClick_;
}

void Selection::OpenServerWindow(int slot, int serverId, Opener opener) {
  Console* window = OpenWindow(slot, serverId);
  if (window != nullptr && window->view != nullptr && opener == Opener::User) window->view->TakeFocus();
}

Console* Selection::OpenWindow(int slot, int serverId) {
  // Only a connection in use has a server whose window could be shown; slot 0 is never one.
  if (slot < 1 || slot >= kSlotCount || tables_.OVServers[slot].InUse != 1 || serverId < 0) return nullptr;

  if (serverId == 0) {
    OVIrec& ov = tables_.OVServers[slot];
    if (ov.Window != nullptr) {
      if (ov.Window->view != nullptr) ov.Window->view->BringToFront();
      return ov.Window;
    }
    Console& window =
        consoles_.Create(ConsoleKind::OVServer, slot, 0, 1, "OV Server on " + ov.Name, ov.Where);
    ServerTables::SetWindow(tables_.OVServers[slot], &window);
    return &window;
  }

  // A released slot keeps its pair but no longer names a server.
  const int q = tables_.FindQServer(slot, serverId);
  if (q == -1 || tables_.QServers[q].InUse != 1) return nullptr;
  QSIrec& server = tables_.QServers[q];
  if (server.Window != nullptr) {
    if (server.Window->view != nullptr) server.Window->view->BringToFront();
    return server.Window;
  }
  Console& window =
      consoles_.Create(ConsoleKind::QuakeServer, slot, serverId, server.ConsoleMode, server.Title);
  ServerTables::SetWindow(tables_.QServers[q], &window);
  sender_.Send(tables_.OVServers[slot].Socket, msg::ConsoleOpened{serverId});
  return &window;
}

void Selection::CleanupDeadWindows() {
  // Gathered first: a window system that closed at once would otherwise shorten the list under the loop.
  std::vector<ConsoleView*> dead;
  for (const auto& window : consoles_.Windows()) {
    if (window->caption.empty()) continue;
    if (window->IsDead() && window->view != nullptr) dead.push_back(window->view);
  }
  for (ConsoleView* view : dead) view->CloseLater();
}

}  // namespace ov
