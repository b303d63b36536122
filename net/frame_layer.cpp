#include "net/frame_layer.h"

#include <algorithm>
#include <climits>

#include "ui/client.h"

namespace ov {

namespace {

int SendLength(size_t size) { return static_cast<int>(std::min<size_t>(size, INT_MAX)); }

}  // namespace

void FrameLayer::ReceiveFrames(int socket) {
  // Local to the call: a hand-over can wait in a nested loop that reads this socket again.
  std::string text(kReceiveBufferSize, '\0');
  const int n = client_.sockets.Recv(socket, text.data(), static_cast<int>(text.size()));
  if (n == -1) {
    client_.ShowStatus(
        "Socket (" + std::to_string(socket) + ") Receive error " + client_.connections.LastErrorText(), 5000,
        2);
    return;
  }
  text.resize(n);
  const uint64_t read = ++reads_;
  if (client_.DebugMode == 1) client_.LogLine("IN(" + std::to_string(socket) + ") : " + text);
  client_.LogLine("len is " + std::to_string(n));

  // The frames point into text, or into joined for one completed from bytes kept from earlier reads:
  // both belong to this call, so a nested read of the same socket cannot change them.
  std::vector<FrameView> frames;
  std::string joined;
  if (n == 0) {
    frames.emplace_back();  // an empty read still makes its one pass, with an empty code
  } else if (client_.tables.LiveSlot(socket) != -1) {
    if (connections_[socket].assembler.Split(text, frames, joined)) {
      client_.ShowStatus("Socket (" + std::to_string(socket) + ") Oversized frame dropped", 5000, 2);
    }
  }
  for (const FrameView& frame : frames) {
    // A frame handed over earlier may have waited while the connection closed; what followed it is void.
    if (client_.tables.LiveSlot(socket) == -1) break;
    client_.LogLine(std::string("in_code: ").append(frame.code));
    const uint64_t outer = handingOver_;
    handingOver_ = read;
    HandOver(socket, frame);
    handingOver_ = outer;
  }
}

void FrameLayer::HandOver(int socket, const FrameView& frame) {
  if (!frame.outside) {
    const CodeClass kind = ClassifyCode(frame.code);
    if (kind.kind == CodeKind::Control) {
      client_.dispatch.DispatchControl(socket, kind.number, std::string(frame.payload));
      return;
    }
    if (kind.kind == CodeKind::Console) {
      client_.consoles.RouteConsoleText(socket, kind.number, frame.payload);
      return;
    }
  }
  client_.ShowStatus("Unknown code received - " + std::string(frame.code), 1500, 1);
}

void FrameLayer::SendFrame(int socket, int32_t code, std::string_view payload) {
  const int slot = client_.tables.LiveSlot(socket);
  if (slot == -1 || client_.tables.OVServers[slot].Connected != 1) return;
  const std::string frame = MakeFrame(code, payload);
  Connection& connection = connections_[socket];

  size_t taken = 0;
  // Frames go out whole and in order: behind frames still waiting, a new one waits too.
  if (connection.unsentHead == connection.unsent.size()) {
    const int n = client_.sockets.Send(socket, frame.data(), SendLength(frame.size()));
    if (n == -1) {
      if (client_.sockets.LastError() != kWsaeWouldBlock) {
        client_.ShowStatus("Socket Send error " + client_.connections.LastErrorText(), 5000, 2);
        return;
      }
    } else {
      taken = static_cast<size_t>(n);
    }
  }
  if (client_.DebugMode == 1) {
    // Account messages carry passwords, and their cipher's key is no secret: their payload is not shown.
    const bool account = code >= 1900 && code <= 1999;
    client_.LogLine("OUT: [" + std::to_string(code) + "] " +
                    (account ? MakeFrame(code, std::string(payload.size(), '*')) : frame));
  }
  if (taken < frame.size()) Queue(socket, connection, std::string_view(frame).substr(taken));
}

void FrameLayer::Queue(int socket, Connection& connection, std::string_view bytes) {
  connection.unsent += bytes;
  if (connection.unsent.size() - connection.unsentHead <= kMaxUnsent) return;
  // The peer has stopped reading; holding more would only grow without end.
  client_.ShowStatus("Socket (" + std::to_string(socket) + ") Server not reading - disconnecting", 5000, 2);
  client_.connections.Disconnect(client_.tables.LiveSlot(socket), 1);  // forgets the connection
}

void FrameLayer::OnWritable(int socket) {
  auto it = connections_.find(socket);
  if (it == connections_.end()) return;
  Connection& c = it->second;
  while (c.unsentHead < c.unsent.size()) {
    const int chunk = SendLength(c.unsent.size() - c.unsentHead);
    const int n = client_.sockets.Send(socket, c.unsent.data() + c.unsentHead, chunk);
    if (n == -1) {
      if (client_.sockets.LastError() == kWsaeWouldBlock) break;
      client_.ShowStatus("Socket Send error " + client_.connections.LastErrorText(), 5000, 2);
      // The connection is broken and its close event follows; nothing queued can reach the server.
      std::string().swap(c.unsent);
      c.unsentHead = 0;
      return;
    }
    c.unsentHead += static_cast<size_t>(n);
    if (n < chunk) break;  // the socket is full again; its next write event carries on
  }
  if (c.unsentHead == c.unsent.size()) {
    std::string().swap(c.unsent);
    c.unsentHead = 0;
  } else if (c.unsentHead > c.unsent.size() / 2) {
    c.unsent.erase(0, c.unsentHead);
    c.unsentHead = 0;
  }
}

void FrameLayer::Forget(int socket) { connections_.erase(socket); }

void FrameLayer::SendControl(int socket, int32_t n, std::string_view payload) {
  const int32_t code = static_cast<int32_t>(static_cast<uint32_t>(n) + 1000u);
  if (n >= 900 && n <= 999) {
    SendFrame(socket, code, client_.cipher.EncryptMsg(payload));
  } else {
    SendFrame(socket, code, payload);
  }
}

void FrameLayer::SendConsole(int slot, int32_t serverId, std::string_view text) {
  if (slot < 0 || slot >= kSlotCount || serverId == -1) return;
  SendFrame(client_.tables.OVServers[slot].Socket, serverId, text);
}

}  // namespace ov
