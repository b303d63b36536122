#include "net/connection.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <memory>
#include <optional>

#include "core/debug_log.h"
#include "core/desktop.h"
#include "core/status_line.h"
#include "net/event_loop.h"
#include "net/frame_sender.h"
#include "net/session.h"
#include "net/socket_api.h"
#include "net/winsock_errors.h"

namespace ov {

namespace {

// One unit of the time-out count is 1/100000 day.
constexpr int64_t kMsPerCountUnit = 864;

// Enables Connect again on every way out of a connection attempt.
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
  shutDown_ = true;
  std::vector<int> open;
  sessions_.ForEach([&](const Session& session) { open.push_back(session.Socket()); });
  for (const int socket : open) CloseConnection(socket);
  sockets_.Cleanup();
}

Session* Connections::TakeSlot(const Endpoint& where, std::string* failure) {
  auto fail = [&](const std::string& text) -> Session* {
    if (failure != nullptr) {
      *failure = text;
    } else {
      desktop_.MessageBox(text);
    }
    return nullptr;
  };
  const int slot = sessions_.FreeSlot();
  if (slot == -1) return fail("Maximum servers connected already");
  // A failed creation or registration takes no slot and keeps no socket, so failures cannot use up the
  // slots. The error text is read before anything else can change the last error.
  const int socket = sockets_.Socket(kAfInet, kSockStream, kIpProtoTcp);
  if (socket == -1) return fail("New socket init failure - error " + LastErrorText());
  if (sockets_.AsyncSelect(socket, kEventMask) == -1) {
    const std::string text = LastErrorText();
    sockets_.CloseSocket(socket);
    return fail("New socket AS failure - error " + text);
  }
  return &sessions_.Open(socket, slot, where);
}

void Connections::CloseConnection(int socket) {
  sockets_.CloseSocket(socket);
  sessions_.Close(socket);
}

bool Connections::ConnectToServer(const std::string& address, int port, int count) {
  return Attempt(Endpoint{address, port, count}, nullptr);
}

// What an attempt says when it fails: on the status line, and to whoever asked for the reason.
struct Connections::Failure {
  StatusLine& status;
  std::string* reason;
  bool Say(const std::string& text, int time, int beeps) const {
    status.ShowStatus(text, time, beeps);
    if (reason != nullptr) *reason = text;
    return false;
  }
  bool Gone() const {
    if (reason != nullptr) *reason = "Disconnected before the connection was made";
    return false;
  }
};

bool Connections::Attempt(const Endpoint& where, std::string* failure) {
  ConnectCommandGuard guard(desktop_);
  const Failure fail{status_, failure};
  Session* taken = TakeSlot(where, failure);
  if (taken == nullptr) return false;
  // Every wait below may see the connection end and its slot and socket number go to another; the
  // handle tells.
  const ConnectionHandle connection(*taken);
  const int slot = taken->Slot();

  // Dotted IPv4 connects as it always did; a host name or an IPv6 literal is looked up first, and a
  // name that finds no address is an invalid address like any other.
  const uint32_t inetAddress = InetAddr(where.address);
  std::vector<SocketAddress> found;
  if (inetAddress == kInaddrNone) {
    const AddressParts parts = ClassifyAddress(where.address);
    if (parts.form != AddressForm::Refused && !LookUp(connection, parts, found)) return fail.Gone();
    if (found.empty()) {
      fail.Say("Can't connect - Invalid IP address", 3000, 2);
      Disconnect(slot, 1);
      return false;
    }
  }
  if (where.port > 65535 || where.port < 0) {
    fail.Say("Can't connect - Invalid Port number", 3000, 2);
    Disconnect(slot, 1);
    return false;
  }
  // From here the connection shows in the servers tree, where the user can end it.
  if (onOpened_) onOpened_(slot);
  if (found.empty()) found.push_back(SocketAddress{});  // none looked up: the dotted address itself
  return ConnectToAny(*taken, inetAddress, found, fail);
}

bool Connections::ConnectToAny(Session& session, uint32_t inetAddress,
                               const std::vector<SocketAddress>& found, const Failure& fail) {
  const ConnectionHandle connection(session);
  const int slot = session.Slot();
  const int socket = session.Socket();
  const Endpoint where = session.Where();
  const bool dotted = inetAddress != kInaddrNone;
  // A name's addresses are tried in turn, within the one deadline, until one takes the connection.
  const uint16_t port = Htons(static_cast<uint16_t>(where.port));
  size_t next = 0;
  std::optional<Clock::time_point> deadline;
  for (;;) {
    const int result =
        dotted ? sockets_.Connect(socket, inetAddress, port) : sockets_.ConnectTo(socket, found[next], port);
    const bool more = ++next < found.size();
    if (result == 0) {
      status_.ShowStatus("Connect (I)", 2000, 0);
      return true;
    }
    const int error = sockets_.LastError();
    if (error != kWsaeWouldBlock) {
      if (more) continue;
      Disconnect(slot, 1);
      return fail.Say("Connect error " + ErrorText(error), 5000, 2);
    }
    if (!deadline) {
      status_.ShowStatus("Attempting to connect", AttemptingTime(where.count), 0);
      deadline = ConnectDeadline(loop_.Now(), where.count);
    }
    const std::optional<int> connectError = AwaitConnect(connection, *deadline);
    if (!connection.Lives()) return fail.Gone();
    if (!connectError) {
      Disconnect(slot, 1);
      return fail.Say("Connection failed - Timed out", 5000, 2);
    }
    if (*connectError == 0) {
      status_.ShowStatus("Connected to server", 5000, 0);
      return true;
    }
    if (more) continue;
    const bool refused = *connectError == kWsaeConnRefused;
    fail.Say(refused ? " Connection refused by remote host (Server may not be running)"
                     : "Connect error " + ErrorText(*connectError),
             5000, refused ? 1 : 2);
    Disconnect(slot, 1);
    return false;
  }
}

std::optional<int> Connections::AwaitConnect(const ConnectionHandle& connection, Clock::time_point deadline) {
  for (;;) {
    if (loop_.Now() >= deadline) return std::nullopt;
    loop_.WaitForEvents(deadline);
    // Everything may have run meanwhile: the connection closed, its slot perhaps taken by another
    // attempt. Then this attempt is over and the slot is no longer ours to touch.
    const std::shared_ptr<Session> open = connection.Lock();
    if (open == nullptr) return std::nullopt;
    if (!open->connected) continue;
    open->connected = open->connectError == 0;  // a failed connect leaves the socket for the next address
    return open->connectError;
  }
}

bool Connections::LookUp(const ConnectionHandle& connection, const AddressParts& parts,
                         std::vector<SocketAddress>& found) {
  // One look-up per attempt, waited for at most kLookupWaitMs while every other event flows; an answer
  // that comes after the attempt gave up on it is dropped.
  auto answer = std::make_shared<std::optional<std::vector<SocketAddress>>>();
  const int id = sockets_.AsyncGetHostByName(
      parts.lookup, parts.form == AddressForm::Ipv6,
      [answer](std::vector<SocketAddress> addresses) { *answer = std::move(addresses); });
  if (id == -1) return true;
  status_.ShowStatus("Looking up " + parts.lookup, kLookupWaitMs, 0);
  const Clock::time_point deadline = loop_.Now() + std::chrono::milliseconds(kLookupWaitMs);
  while (!answer->has_value()) {
    if (loop_.Now() >= deadline) {
      sockets_.CancelLookup(id);
      debug_.Append("No answer looking up " + parts.lookup + " within " +
                    std::to_string(kLookupWaitMs / 1000) + " s");
      return true;
    }
    loop_.WaitForEvents(deadline);
    if (!connection.Lives()) {
      sockets_.CancelLookup(id);
      return false;
    }
  }
  found = std::move(**answer);
  if (found.empty()) debug_.Append("No address found for " + parts.lookup);
  return true;
}

bool Connections::Reconnect(const Endpoint& where) {
  bool open = false;
  sessions_.ForEach([&](const Session& session) {
    open = open || (session.Where().address == where.address && session.Where().port == where.port);
  });
  if (open) {
    status_.ShowStatus("Already connecting or connected to " + where.Text(), 3000, 0);
    return false;
  }
  return ConnectToServer(where.address, where.port, where.count);
}

void Connections::ConnectAtStart(const std::vector<Endpoint>& targets) {
  // The reasons in the order they first came, each with the servers it stopped.
  constexpr size_t kNamedPerReason = 5;
  constexpr size_t kMaxReasons = 20;
  struct Failed {
    std::string reason;
    std::vector<std::string> where;
    size_t count = 0;
  };
  std::vector<Failed> failed;
  size_t failures = 0;
  size_t tried = 0;
  for (const Endpoint& where : targets) {
    if (shutDown_) return;  // the program ends: nothing more is tried or told
    ++tried;
    std::string reason;
    if (Attempt(where, &reason)) continue;
    if (shutDown_) return;
    ++failures;
    debug_.Append("Start-up connection to " + where.Text() + " failed: " + reason);
    auto it = std::find_if(failed.begin(), failed.end(), [&](const Failed& f) { return f.reason == reason; });
    if (it == failed.end()) {
      if (failed.size() == kMaxReasons) continue;  // counted above, named in the debug log
      failed.push_back({reason, {}, 0});
      it = failed.end() - 1;
    }
    if (it->where.size() < kNamedPerReason) it->where.push_back(where.Text());
    ++it->count;
  }
  if (failures == 0) return;

  std::string text = "Could not connect to " + std::to_string(failures) + " of the " + std::to_string(tried) +
                     " servers named at start-up:";
  size_t listed = 0;
  for (const Failed& f : failed) {
    text += "\n" + f.reason + ": ";
    for (size_t i = 0; i < f.where.size(); ++i) text += (i > 0 ? ", " : "") + f.where[i];
    if (f.count > f.where.size()) text += " and " + std::to_string(f.count - f.where.size()) + " more";
    listed += f.count;
  }
  if (listed < failures) {
    text += "\n" + std::to_string(failures - listed) + " more for other reasons, named in the debug log";
  }
  desktop_.MessageBox(text);
}

void Connections::HandleSocketEvent(int message, int socket, uint32_t eventWord) {
  if (message != kSocketMessage) return;
  const uint16_t event = eventWord & 0xFFFF;
  const uint16_t error = eventWord >> 16;
  // A notification still queued when its connection closed finds no connection and is dropped.
  Session* connection = sessions_.Find(socket);
  if (connection == nullptr) return;
  const int slot = connection->Slot();
  switch (event) {
    case kFdRead:
      onReadable_(socket);
      break;
    case kFdWrite:
      sender_.OnWritable(socket);
      break;
    case kFdConnect:
      connection->connected = true;  // whatever the outcome, which connectError tells
      connection->connectError = error;
      break;
    case kFdClose:
      // What the peer sent before it closed is handed over first.
      if (closeGate_ && closeGate_(socket, [this, handle = ConnectionHandle(*connection), error] {
            int live = -1;
            if (const auto open = handle.Lock()) live = open->Slot();
            Disconnect(live, error);
          })) {
        break;
      }
      Disconnect(slot, error);
      break;
    default:
      break;
  }
}

void Connections::Disconnect(int slot, int reason) {
  Session* session = sessions_.AtSlot(slot);
  if (session == nullptr) return;
  session->connected = false;
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
      "Connection to " + session->Where().Text() + " ended at " + desktop_.LocalTime() + ": " + why;
  const ConnectionHandle connection(*session);
  const int socket = session->Socket();
  // What the connection held of its servers outlives it, so that they leave the tree and the windows once
  // it has ended.
  const std::shared_ptr<OVIrec> ended = session->KeepServer();
  if (reason != 1 && onLost_) onLost_(slot, why);
  if (!connection.Lives()) return;  // ended meanwhile, and was removed then
  CloseConnection(socket);
  onRemoved_(slot, *ended, endLine);
}

std::string Connections::LastErrorText() const { return ErrorText(sockets_.LastError()); }

}  // namespace ov
