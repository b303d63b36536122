#pragma once
// The registry messages of an OV server (21, 25, 27, 28, 31) and the removal of an OV server.
#include <functional>
#include <string>
#include <string_view>

#include "wire/messages.h"

namespace ov {

// What a server names or titles (its name, its Quake servers' titles and the fields kept beside them) is
// kept to kMaxNameChars characters, followed by kCutMark when it was longer, and with control characters
// as blanks: a caption, a tree node or a menu line stays one short line. Type names are kept as offered,
// since the start request sends them back, and shown in this form.
constexpr size_t kMaxNameChars = 200;
constexpr std::string_view kCutMark = " [...]";
std::string KeptName(std::string_view field);

class Sessions;
struct OVIrec;
class StatusLine;
class FrameSender;
class ServersTreeView;
class Selection;
class Consoles;

class Registry {
 public:
  Registry(Sessions& sessions, StatusLine& status, FrameSender& sender, ServersTreeView& tree,
           Selection& selection, Consoles& consoles)
      : sessions_(sessions),
        status_(status),
        sender_(sender),
        tree_(tree),
        selection_(selection),
        consoles_(consoles) {}

  void OnOVInfo(int socket, const msg::OvInfo& info);
  void OnServerInfo(int socket, const msg::ServerInfo& info);
  void OnNewServer(int socket, const msg::NewServer& announced);
  void RemoveQServer(int socket, const msg::ServerRemoved& removed);
  void OnServerTypes(int socket, const msg::ServerTypes& types);
  // A connection has taken its slot: it shows in the tree from now on, by its address until its OV
  // server names itself, so that the user can see and end every connection the client holds.
  void OnConnectionOpened(int slot);
  // A connection has ended: its servers leave the tree, and their windows die. endLine, when given, is
  // appended to the OV server's window once it is dead.
  void RemoveOVServer(OVIrec& ended, const std::string& endLine = {});
  // A game server that message 28 is about to remove (still found by its slot and id).
  void SetRemovingHandler(std::function<void(int slot, int serverId)> onRemoving) {
    onRemoving_ = std::move(onRemoving);
  }
  // The first 21 on a connection: the OV server accepted the client (a login it asked for succeeded).
  void SetIntroducedHandler(std::function<void(int slot)> onIntroduced) {
    onIntroduced_ = std::move(onIntroduced);
  }

 private:
  Sessions& sessions_;
  StatusLine& status_;
  FrameSender& sender_;
  ServersTreeView& tree_;
  Selection& selection_;
  Consoles& consoles_;
  std::function<void(int slot)> onIntroduced_;
  std::function<void(int slot, int serverId)> onRemoving_;
};

}  // namespace ov
