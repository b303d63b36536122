#pragma once
// The servers tree's selection, the opening of console windows and the cleaning up of dead ones.

#include <string>

#include "net/event_loop.h"

namespace ov {

class Sessions;
class Desktop;
class Consoles;
class FrameSender;
class Console;

// The servers tree on screen. Nodes are known by ids that are never reused; 0 is none.
class ServersTreeView {
 public:
  virtual ~ServersTreeView() = default;
  virtual int AddNode(int parent, const std::string& text) = 0;  // parent 0: top level; appended last
  // Deletes the node with its children. When that moves the selection, the view runs UpdateSelection at once.
  virtual void DeleteNode(int node) = 0;
  virtual int SelectedNode() const = 0;
  virtual void SetNodeTip(int node, const std::string& tip) = 0;  // shown when the pointer rests on it
  virtual void SetNodeText(int node, const std::string& text) = 0;
};

struct SelectedServer {
  int ovIndex = 0;
  int serverId = 0;
};

// Said when a command leaves alone a selection that a removal has only just made (see MayAct).
inline constexpr const char* kSelectionMovedNote =
    "Not done - the selection has just moved to another server: choose again to act on it";

// Who opens a console window: only the user's own request takes the keyboard focus to it.
enum class Opener { Server, User };

// What the tree's current selection maps to.
enum class SelectionKind { None, OVServer, QuakeServer };

class Selection {
 public:
  Selection(Sessions& sessions, EventLoop& loop, Desktop& desktop, ServersTreeView& tree, Consoles& consoles,
            FrameSender& sender)
      : sessions_(sessions),
        loop_(loop),
        desktop_(desktop),
        tree_(tree),
        consoles_(consoles),
        sender_(sender) {}

  void UpdateSelection();
  // Deletes a server's node; when that moves the selection to another node, the commands leave the
  // new selection alone for a double-click interval (see MayAct).
  void DeleteNode(int node);
  // False while the selection is one that a removal made less than the double-click interval ago: the
  // second click of a double click on Disconnect meant the server that has just gone, not its neighbour.
  bool MayAct();
  void SetDoubleClickInterval(int ms) { doubleClick_ = std::chrono::milliseconds(ms); }
  void OpenServerWindow(int slot, int serverId, Opener opener = Opener::Server);
  void CleanupDeadWindows();
  const SelectedServer& Selected() const { return selected_; }
  SelectionKind Kind() const { return kind_; }

 private:
  Console* OpenWindow(int slot, int serverId);  // the window shown, or none

  Sessions& sessions_;
  EventLoop& loop_;
  Desktop& desktop_;
  ServersTreeView& tree_;
  Consoles& consoles_;
  FrameSender& sender_;
  SelectedServer selected_;
  SelectionKind kind_ = SelectionKind::None;
  std::chrono::milliseconds doubleClick_{400};
  int movedTo_ = 0;  // the node a removal last moved the selection to, and when
  Clock::time_point movedAt_{};
};

}  // namespace ov
