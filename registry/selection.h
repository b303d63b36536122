#pragma once
// The servers tree's selection, the opening of console windows and the cleaning up of dead ones.

#include <string>

namespace ov {

class ServerTables;
class Desktop;
class Consoles;
class FrameSender;
class Console;

// The tree trSvrs on screen. Nodes are known by ids that are never reused; 0 is none.
class ServersTreeView {
 public:
  virtual ~ServersTreeView() = default;
  virtual int AddNode(int parent, const std::string& text) = 0;  // parent 0: top level; appended last
  // Deletes the node with its children. When that moves the selection, the view runs UpdateSelection at once.
  virtual void DeleteNode(int node) = 0;
  virtual int SelectedNode() const = 0;
  virtual void SetNodeTip(int node, const std::string& tip) = 0;  // shown when the pointer rests on it
};

struct SelectedServer {
  int ovIndex = 0;
  int serverId = 0;
};

// Who opens a console window: only the user's own request takes the keyboard focus to it.
enum class Opener { Server, User };

// What the tree's current selection maps to.
enum class SelectionKind { None, OVServer, QuakeServer };

class Selection {
 public:
  Selection(ServerTables& tables, Desktop& desktop, ServersTreeView& tree, Consoles& consoles,
            FrameSender& sender)
      : tables_(tables), desktop_(desktop), tree_(tree), consoles_(consoles), sender_(sender) {}

  void UpdateSelection();
  void OpenServerWindow(int slot, int serverId, Opener opener = Opener::Server);
  void CleanupDeadWindows();
  const SelectedServer& Selected() const { return selected_; }
  SelectionKind Kind() const { return kind_; }

 private:
  Console* OpenWindow(int slot, int serverId);  // the window shown, or none

  ServerTables& tables_;
  Desktop& desktop_;
  ServersTreeView& tree_;
  Consoles& consoles_;
  FrameSender& sender_;
  SelectedServer selected_;
  SelectionKind kind_ = SelectionKind::None;
};

}  // namespace ov
