#include "registry/selection.h"

#include <string>
#include <vector>

#include "consoles/consoles.h"
#include "core/desktop.h"
#include "net/frame_sender.h"
#include "net/server_record.h"

namespace ov {

void Selection::UpdateSelection() {
  // Only the connections and the tree's current selection are read: this also runs inside a node
  // deletion.
  const int node = tree_.SelectedNode();
  kind_ = SelectionKind::None;
  if (node != 0) {
    sessions_.ForEach([&](const Session& session) {
      if (kind_ == SelectionKind::None && session.Server().TreeNode == node) {
        selected_ = {session.Slot(), 0};
        kind_ = SelectionKind::OVServer;
      }
    });
    if (kind_ == SelectionKind::None) {
      for (const GameServerView& server : sessions_.Games()) {
        if (server.treeNode != node) continue;
        selected_ = {server.ovSlot, server.serverId};
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
  // Only a connection in use has a server whose window could be shown.
  Session* session = sessions_.AtSlot(slot);
  if (session == nullptr || serverId < 0) return nullptr;
  OVIrec& ov = session->Server();

  if (serverId == 0) {
    if (ov.Window != nullptr) {
      if (ov.Window->view != nullptr) ov.Window->view->BringToFront();
      return ov.Window;
    }
    ov.Window = &consoles_.Create(ConsoleKind::OVServer, ConnectionHandle(*session), 0, 1,
                                  "OV Server on " + ov.Name, session->Where());
    return ov.Window;
  }

  QSIrec* server = ov.FindQServer(serverId);
  if (server == nullptr) return nullptr;
  if (server->Window != nullptr) {
    if (server->Window->view != nullptr) server->Window->view->BringToFront();
    return server->Window;
  }
  server->Window = &consoles_.Create(ConsoleKind::QuakeServer, ConnectionHandle(*session), serverId,
                                     server->ConsoleMode, server->Title);
  sender_.Send(session->Socket(), msg::ConsoleOpened{serverId});
  return server->Window;
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
