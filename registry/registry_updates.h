#pragma once
// The registry messages of an OV server (21, 25, 27, 28, 31) and the removal of an OV server.
#include <string>

namespace ov {

class ServerTables;
class StatusLine;
class FrameSender;
class ServersTreeView;
class Selection;
class Consoles;

class Registry {
 public:
  Registry(ServerTables& tables, StatusLine& status, FrameSender& sender, ServersTreeView& tree,
           Selection& selection, Consoles& consoles)
      : tables_(tables),
        status_(status),
        sender_(sender),
        tree_(tree),
        selection_(selection),
        consoles_(consoles) {}

  void OnOVInfo(int socket, const std::string& payload);       // 21
  void OnServerInfo(int socket, const std::string& payload);   // 25
  void OnNewServer(int socket, const std::string& payload);    // 27
  void RemoveQServer(int socket, const std::string& payload);  // 28
  void OnServerTypes(int socket, const std::string& payload);  // 31
  // endLine, when given, is appended to the OV server's window once it is dead.
  void RemoveOVServer(int slot, const std::string& endLine = {});
  void RemoveAllQServers(int slot);

 private:
  ServerTables& tables_;
  StatusLine& status_;
  FrameSender& sender_;
  ServersTreeView& tree_;
  Selection& selection_;
  Consoles& consoles_;
};

}  // namespace ov
