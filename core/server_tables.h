#pragma once
// The two fixed tables of OV servers and Quake servers. Slots 1..20 are handed out; slot 0 never is.
#include <array>
#include <string>
#include <utility>

#include "core/endpoint.h"

namespace ov {

constexpr int kSlotCount = 21;
constexpr int kTypeCount = 6;

class Console;

struct OVIst {
  std::string TypeName;
};

struct OVIrec {
  int InUse = 0;
  Console* Window = nullptr;
  int TreeNode = 0;  // node id in the servers tree, 0 = none
  int Socket = 0;    // handles start at 1, so 0 never matches a socket
  int Connected = 0;
  int ConnectError = 0;
  int Introduced = 0;  // 1 once the OV server has sent 21 on this connection
  std::string Info1;
  std::string Name;
  Endpoint Where;
  std::array<OVIst, kTypeCount> Types;
};

struct QSIrec {
  int InUse = 0;
  int OVIndex = 0;
  int ServerId = 0;
  Console* Window = nullptr;
  int TreeNode = 0;
  std::string Info2;
  std::string Title;
  std::string Info4;
  int Info5 = 0;
  int ConsoleMode = 0;
  int GamePort = 0;  // where the game server answers (its status query too), 0 = unknown
};

class ServerTables {
 public:
  std::array<OVIrec, kSlotCount> OVServers;
  std::array<QSIrec, kSlotCount> QServers;

  void InitTables();
  int AllocOVSlot();  // lowest free of 1..20, or -1
  int AllocQSlot();
  int FindQServer(int ovIndex, int serverId) const;  // InUse not tested; -1 when none
  int FindBySocket(int socket) const;                // InUse not tested; -1 when none
  // The slot of a socket whose connection is still open (slot found and in use), or -1.
  int LiveSlot(int socket) const;

  // The slot fields (in use, an OV server's connection, tree nodes and windows) are written here and
  // nowhere else.
  void ReleaseOVSlot(int slot) { Release(OVServers[slot]); }
  void ReleaseQSlot(int q) { Release(QServers[q]); }
  template <typename Record>
  static void Release(Record& record) {
    record.InUse = 0;
  }
  // A new connection in the slot: what the slot's last OV server said of itself is not this one's.
  void AssignSocket(int slot, int socket) {
    OVIrec& ov = OVServers[slot];
    ov.Socket = socket;
    ov.Connected = 0;
    ov.Introduced = 0;
    ov.Info1.clear();
    ov.Name.clear();
    for (OVIst& type : ov.Types) type.TypeName.clear();
  }
  void SetEndpoint(int slot, const Endpoint& where) { OVServers[slot].Where = where; }
  // FD_CONNECT came: Connected is set whatever the outcome, which ConnectError then tells.
  void MarkConnected(int slot, int connectError) {
    OVServers[slot].Connected = 1;
    OVServers[slot].ConnectError = connectError;
  }
  void MarkNotConnected(int slot) { OVServers[slot].Connected = 0; }
  // A server's tree node and console window, for OV and Quake slots alike. Take* clears the field and
  // returns what it held, so the caller can delete the node or mark the window dead after the slot
  // already forgot it.
  template <typename Record>
  static void SetTreeNode(Record& record, int node) {
    record.TreeNode = node;
  }
  template <typename Record>
  static int TakeTreeNode(Record& record) {
    return std::exchange(record.TreeNode, 0);
  }
  template <typename Record>
  static void SetWindow(Record& record, Console* window) {
    record.Window = window;
  }
  template <typename Record>
  static Console* TakeWindow(Record& record) {
    return std::exchange(record.Window, nullptr);
  }
  // Clears the field only while it still points to this window: a newer window may have taken its place.
  template <typename Record>
  static void ForgetWindow(Record& record, const Console& window) {
    if (record.Window == &window) record.Window = nullptr;
  }
  void MarkClosed(int slot) { OVServers[slot].Connected = 0; }
};

}  // namespace ov
