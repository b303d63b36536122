#include "net/connection.h"

#include <algorithm>
#include <chrono>
#include <climits>

#include "net/winsock_errors.h"
#include "ui/client.h"

namespace ov {

namespace {

// One unit of the time-out count is 1/100000 day.
constexpr int64_t kMsPerCountUnit = 864;

// Enables mnuCon again on every way out of a connection attempt.
class ConnectCommandGuard {
 public:
  explicit ConnectCommandGuard(Desktop& desktop) : desktop_(desktop) { desktop_.SetConnectEnabled(false); }
  ~ConnectCommandGuard() { desktop_.SetConnectEnabled(true); }
  ConnectCommandGuard(const ConnectCommandGuard&) = delete;
  ConnectCommandGuard& operator=(const ConnectCommandGuard&) = delete;

 private:
  Desktop& desktop_;
};

std::string ErrorText(int error) { return std::to_string(error) + " (" + WSAErrorName(error) + ")"; }

// start + count units, saturating: a huge count waits for ever rather than wrapping into the past.
Clock::time_point ConnectDeadline(Clock::time_point start, int count) {
  const auto delta = std::chrono::duration_cast<Clock::duration>(
      std::chrono::milliseconds(int64_t{count} * kMsPerCountUnit));
  Clock::rep sum = 0;
  if (__builtin_add_overflow(start.time_since_epoch().count(), delta.count(), &sum)) {
    return count > 0 ? Clock::time_point::max() : Clock::time_point::min();
  }
  return Clock::time_point(Clock::duration(sum));
}

int AttemptingTime(int count) {
  const int64_t ms = (int64_t{count} + 1) * 1000;
  return static_cast<int>(std::clamp<int64_t>(ms, INT_MIN, INT_MAX));
}

}  // namespace

bool Connections::InitSockets() {
  client_.sockets.SetEventHandler(
      [this](int message, int socket, uint32_t eventWord) { HandleSocketEvent(message, socket, eventWord); });
  const int error = client_.sockets.Startup(kWinsockVersion);
  if (error != 0) {
    client_.desktop.MessageBox("Winsock init error " + std::to_string(error) + " - OV client terminating");
    client_.desktop.Quit();
    return false;
  }
  return true;
}

void Connections::ShutdownSockets() {
  for (int i = 0; i < kSlotCount; ++i) {
    OVIrec& slot = client_.tables.OVServers[i];
    if (slot.InUse != 1) continue;
    client_.sockets.CloseSocket(slot.Socket);
    client_.frames.Forget(slot.Socket);
    slot.InUse = 0;
  }
  client_.sockets.Cleanup();
}

int Connections::NewSocket() {
  const int slot = client_.tables.AllocOVSlot();
  if (slot == -1) {
    client_.desktop.MessageBox("Maximum servers connected already");
    return -1;
  }
  // A failed creation or registration gives the slot (and the socket) back, so failures cannot use up
  // the slots. The error text is read before anything else can change the last error.
  const int socket = client_.sockets.Socket(kAfInet, kSockStream, kIpProtoTcp);
  if (socket == -1) {
    const std::string text = LastErrorText();
    client_.tables.OVServers[slot].InUse = 0;
    client_.desktop.MessageBox("New socket init failure - error " + text);
    return -1;
  }
  if (client_.sockets.AsyncSelect(socket, kEventMask) == -1) {
    const std::string text = LastErrorText();
    client_.sockets.CloseSocket(socket);
    client_.tables.OVServers[slot].InUse = 0;
    client_.desktop.MessageBox("New socket AS failure - error " + text);
    return -1;
  }
  OVIrec& rec = client_.tables.OVServers[slot];
  rec.Socket = socket;
  rec.Connected = 0;
  return slot;
}

void Connections::ConnectToServer(const std::string& address, int port, int count) {
  ConnectCommandGuard guard(client_.desktop);

  const int slot = NewSocket();
  if (slot == -1) return;

  const uint32_t inetAddress = InetAddr(address);
  if (inetAddress == kInaddrNone) {
    client_.ShowStatus("Can't connect - Invalid IP address", 3000, 2);
    Disconnect(slot, 1);
    return;
  }
  if (port > 65535 || port < 0) {
    client_.ShowStatus("Can't connect - Invalid Port number", 3000, 2);
    Disconnect(slot, 1);
    return;
  }

  const int socket = client_.tables.OVServers[slot].Socket;
  if (client_.sockets.Connect(socket, inetAddress, Htons(static_cast<uint16_t>(port))) == 0) {
    client_.ShowStatus("Connect (I)", 2000, 0);
    return;
  }
  const int error = client_.sockets.LastError();
  if (error != kWsaeWouldBlock) {
    Disconnect(slot, 1);
    client_.ShowStatus("Connect error " + ErrorText(error), 5000, 2);
    return;
  }

  client_.ShowStatus("Attempting to connect", AttemptingTime(count), 0);
  const Clock::time_point deadline = ConnectDeadline(client_.loop.Now(), count);
  for (;;) {
    if (client_.loop.Now() >= deadline) {
      Disconnect(slot, 1);
      client_.ShowStatus("Connection failed - Timed out", 5000, 2);
      return;
    }
    client_.loop.WaitForEvents(deadline);

    // Everything may have run meanwhile: the connection closed, its slot perhaps taken by another
    // attempt. Then this attempt is over and the slot is no longer ours to touch.
    const OVIrec& rec = client_.tables.OVServers[slot];
    if (rec.InUse != 1 || rec.Socket != socket) return;
    if (rec.Connected != 1) continue;

    const int connectError = rec.ConnectError;
    if (connectError == 0) {
      client_.ShowStatus("Connected to server", 5000, 0);
      return;
    }
    client_.tables.OVServers[slot].Connected = 0;
    if (connectError == kWsaeConnRefused) {
      client_.ShowStatus(" Connection refused by remote host (Server may not be running)", 5000, 1);
    } else {
      client_.ShowStatus("Connect error " + ErrorText(connectError), 5000, 2);
    }
    Disconnect(slot, 1);
    return;
  }
}

void Connections::HandleSocketEvent(int message, int socket, uint32_t eventWord) {
  if (message != kSocketMessage) return;
  const uint16_t event = eventWord & 0xFFFF;
  const uint16_t error = eventWord >> 16;
  // A notification still queued when its connection closed finds no live slot and is dropped.
  const int slot = client_.tables.LiveSlot(socket);
  if (slot == -1) return;
  switch (event) {
    case kFdRead:
      client_.frames.ReceiveFrames(socket);
      break;
    case kFdWrite:
      client_.tables.OVServers[slot].Writable = 1;
      client_.frames.OnWritable(socket);
      break;
    case kFdConnect:
      client_.tables.OVServers[slot].Connected = 1;
      client_.tables.OVServers[slot].ConnectError = error;
      break;
    case kFdClose:
      Disconnect(slot, error);
      break;
    default:
      break;
  }
}

void Connections::Disconnect(int slot, int reason) {
  if (slot < 0 || slot >= kSlotCount || client_.tables.OVServers[slot].InUse != 1) return;
  OVIrec& rec = client_.tables.OVServers[slot];
  rec.Connected = 0;
  rec.Reserved1 = 0;
  rec.Reserved2 = 0;
  switch (reason) {
    case 0:
    case 10054:
      client_.ShowStatus("Server closed connection", 5000, 1);
      break;
    case 10050:
      client_.ShowStatus("Network system failure - disconnecting", 5000, 2);
      break;
    case 10053:
      client_.ShowStatus("Connection abort/timeout - disconnecting", 5000, 2);
      break;
    default:
      break;
  }
  const int socket = rec.Socket;
  client_.sockets.CloseSocket(socket);
  client_.frames.Forget(socket);
  client_.registry.RemoveOVServer(slot);
  client_.selection.UpdateSelection();
}

std::string Connections::LastErrorText() const { return ErrorText(client_.sockets.LastError()); }

}  // namespace ov
