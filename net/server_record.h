#pragma once
// What an OV server has said of itself and of its game servers on one connection, and where the client
// shows them: tree nodes and console windows. It belongs to the connection (Session::Server()) and ends
// with it. Only the parts that keep the tree and the windows read it whole; everything else asks the
// connection or the directory of connections (net/session.h).
#include <array>
#include <list>
#include <string>

#include "net/session.h"

namespace ov {

class Console;

struct OVIst {
  std::string TypeName;  // kept as offered: a start request sends these very bytes back
};

// A Quake server the OV server announced (message 27).
struct QSIrec {
  int Slot = 0;  // its place among all game servers, the lowest of 1..20 free when it was announced
  int ServerId = 0;
  Console* Window = nullptr;
  int TreeNode = 0;  // node id in the servers tree, 0 = none
  std::string Title;
  int ConsoleMode = 0;
  int GamePort = 0;  // where the game server answers (its status query too), 0 = unknown
};

struct OVIrec {
  Console* Window = nullptr;
  int TreeNode = 0;
  bool Introduced = false;  // once the OV server has sent 21 on this connection
  std::string Name;
  std::array<OVIst, kTypeCount> Types;
  std::list<QSIrec> QServers;  // in the order announced; a reference to one stays good while it is kept

  QSIrec* FindQServer(int serverId) {
    for (QSIrec& q : QServers)
      if (q.ServerId == serverId) return &q;
    return nullptr;
  }
  const QSIrec* FindQServer(int serverId) const { return const_cast<OVIrec*>(this)->FindQServer(serverId); }
};

}  // namespace ov
