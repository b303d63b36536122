#include "core/server_tables.h"

namespace ov {

namespace {
template <typename Table>
int AllocSlot(Table& table) {
  for (int i = 1; i < kSlotCount; ++i) {
    if (table[i].InUse == 0) {
      table[i].InUse = 1;
      return i;
    }
  }
  return -1;
}
}  // namespace

void ServerTables::InitTables() {
  for (auto& s : OVServers) s.InUse = 0;
  for (auto& q : QServers) q.InUse = 0;
}

int ServerTables::AllocOVSlot() { return AllocSlot(OVServers); }
int ServerTables::AllocQSlot() { return AllocSlot(QServers); }

int ServerTables::FindQServer(int ovIndex, int serverId) const {
  for (int i = 1; i < kSlotCount; ++i) {
    if (QServers[i].OVIndex == ovIndex && QServers[i].ServerId == serverId) return i;
  }
  return -1;
}

int ServerTables::FindBySocket(int socket) const {
  for (int i = 0; i < kSlotCount; ++i) {
    if (OVServers[i].Socket == socket) return i;
  }
  return -1;
}

int ServerTables::LiveSlot(int socket) const {
  const int slot = FindBySocket(socket);
  return slot != -1 && OVServers[slot].InUse == 1 ? slot : -1;
}

}  // namespace ov
