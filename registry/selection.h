#pragma once
// The servers tree's selection, the opening of console windows and the cleaning up of dead ones.

#include <string>

namespace ov {

class Client;
class ConsoleWindow;

// The tree trSvrs on screen. Nodes are known by ids that are never reused; 0 is none.
class ServersTreeView {
 public:
  virtual ~ServersTreeView() = default;
  virtual int AddNode(int parent, const std::string& text) = 0;  // parent 0: top level; appended last
  // Deletes the node with its children. When that moves the selection, the view runs UpdateSelection at once.
  virtual void DeleteNode(int node) = 0;
  virtual int SelectedNode() const = 0;
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
  explicit Selection(Client& client) : client_(client) {}

  void UpdateSelection();
  void OpenServerWindow(int slot, int serverId, Opener opener = Opener::Server);
  void CleanupDeadWindows();
  const SelectedServer& Selected() const { return selected_; }
  SelectionKind Kind() const { return kind_; }

 private:
  ConsoleWindow* OpenWindow(int slot, int serverId);  // the window shown, or none

  Client& client_;
  SelectedServer selected_;
  SelectionKind kind_ = SelectionKind::None;
};

}  // namespace ov
