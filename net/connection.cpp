#include "net/connection.h"

#include <algorithm>
#include <chrono>
#include <climits>

#include "net/event_loop.h"
#include "net/frame_sender.h"
#include "net/socket_api.h"
#include "net/winsock_errors.h"
#include "registry/server_tables.h"
#include "ui/desktop.h"
#include "ui/status_line.h"

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
  sockets_.SetEventHandler(
      [this](int message, int socket, uint32_t eventWord) { HandleSocketEvent(message, socket, eventWord); });
  const int error = sockets_.Startup(kWinsockVersion);
  if (error != 0) {
    desktop_.MessageBox("Winsock init error " + std::to_string(error) + " - OV client terminating");
    desktop_.Quit();
    return false;
  }
  return true;
}

void Connections::ShutdownSockets() {
  for (int i = 0; i < kSlotCount; ++i) {
    const OVIrec& slot = tables_.OVServers[i];
    if (slot.InUse != 1) continue;
    sockets_.CloseSocket(slot.Socket);
    sender_.Forget(slot.Socket);
    onForget_(slot.Socket);
    tables_.ReleaseOVSlot(i);
  }
  sockets_.Cleanup();
}

int Connections::NewSocket() {
  const int slot = tables_.AllocOVSlot();
  if (slot == -1) {
    desktop_.MessageBox("Maximum servers connected already");
    return -1;
  }
  // A failed creation or registration gives the slot (and the socket) back, so failures cannot use up
  // the slots. The error text is read before anything else can change the last error.
  const int socket = sockets_.Socket(kAfInet, kSockStream, kIpProtoTcp);
  if (socket == -1) {
    const std::string text = LastErrorText();
    tables_.ReleaseOVSlot(slot);
    desktop_.MessageBox("New socket init failure - error " + text);
    return -1;
  }
  if (sockets_.AsyncSelect(socket, kEventMask) == -1) {
    const std::string text = LastErrorText();
    sockets_.CloseSocket(socket);
    tables_.ReleaseOVSlot(slot);
    desktop_.MessageBox("New socket AS failure - error " + text);
    return -1;
  }
  tables_.AssignSocket(slot, socket);
  return slot;
}

bool Connections::ConnectToServer(const std::string& address, int port, int count) {
  ConnectCommandGuard guard(desktop_);

  const int slot = NewSocket();
  if (slot == -1) return false;
  tables_.SetEndpoint(slot, Endpoint{address, port, count});

  const uint32_t inetAddress = InetAddr(address);
  if (inetAddress == kInaddrNone) {
    status_.ShowStatus("Can't connect - Invalid IP address", 3000, 2);
    Disconnect(slot, 1);
    return false;
  }
  if (port > 65535 || port < 0) {
    status_.ShowStatus("Can't connect - Invalid Port number", 3000, 2);
    Disconnect(slot, 1);
    return false;
  }

  const int socket = tables_.OVServers[slot].Socket;
  if (sockets_.Connect(socket, inetAddress, Htons(static_cast<uint16_t>(port))) == 0) {
    status_.ShowStatus("Connect (I)", 2000, 0);
    return true;
  }
  const int error = sockets_.LastError();
  if (error != kWsaeWouldBlock) {
    Disconnect(slot, 1);
    status_.ShowStatus("Connect error " + ErrorText(error), 5000, 2);
    return false;
  }

  status_.ShowStatus("Attempting to connect", AttemptingTime(count), 0);
  const Clock::time_point deadline = ConnectDeadline(loop_.Now(), count);
  for (;;) {
    if (loop_.Now() >= deadline) {
      Disconnect(slot, 1);
      status_.ShowStatus("Connection failed - Timed out", 5000, 2);
      return false;
    }
    loop_.WaitForEvents(deadline);

    // Everything may have run meanwhile: the connection closed, its slot perhaps taken by another
    // attempt. Then this attempt is over and the slot is no longer ours to touch.
    const OVIrec& rec = tables_.OVServers[slot];
    if (rec.InUse != 1 || rec.Socket != socket) return false;
    if (rec.Connected != 1) continue;

    const int connectError = rec.ConnectError;
    if (connectError == 0) {
      status_.ShowStatus("Connected to server", 5000, 0);
      return true;
    }
    tables_.MarkNotConnected(slot);
    if (connectError == kWsaeConnRefused) {
      status_.ShowStatus(" Connection refused by remote host (Server may not be running)", 5000, 1);
    } else {
      status_.ShowStatus("Connect error " + ErrorText(connectError), 5000, 2);
    }
    Disconnect(slot, 1);
    return false;
  }
}

void Connections::HandleSocketEvent(int message, int socket, uint32_t eventWord) {
  if (message != kSocketMessage) return;
  const uint16_t event = eventWord & 0xFFFF;
  const uint16_t error = eventWord >> 16;
  // A notification still queued when its connection closed finds no live slot and is dropped.
  const int slot = tables_.LiveSlot(socket);
  if (slot == -1) return;
  switch (event) {
    case kFdRead:
      onReadable_(socket);
      break;
    case kFdWrite:
      tables_.MarkWritable(slot);
      sender_.OnWritable(socket);
      break;
    case kFdConnect:
      tables_.MarkConnected(slot, error);
      break;
    case kFdClose:
      Disconnect(slot, error);
      break;
    default:
      break;
  }
}

void Connections::Disconnect(int slot, int reason) {
  if (slot < 0 || slot >= kSlotCount || tables_.OVServers[slot].InUse != 1) return;
  const OVIrec& rec = tables_.OVServers[slot];
  tables_.MarkClosed(slot);
  std::string why;
  switch (reason) {
    case 0:
    case 10054:
      why = "Server closed connection";
      status_.ShowStatus(why, 5000, 1);
      break;
    case 10050:
      why = "Network system failure - disconnecting";
      status_.ShowStatus(why, 5000, 2);
      break;
    case 10053:
      why = "Connection abort/timeout - disconnecting";
      status_.ShowStatus(why, 5000, 2);
      break;
    case 1:
      why = "Disconnected by the client";  // the user, a cancelled login or a peer that stopped reading
      break;
    default:
      why = "Connection closed - error " + ErrorText(reason);
      break;
  }
  const std::string endLine =
      "Connection to " + rec.Where.Text() + " ended at " + desktop_.LocalTime() + ": " + why;
  const int socket = rec.Socket;
  sockets_.CloseSocket(socket);
  sender_.Forget(socket);
  onForget_(socket);
  onRemoved_(slot, endLine);
}

std::string Connections::LastErrorText() const { return ErrorText(sockets_.LastError()); }

}  // namespace ov
