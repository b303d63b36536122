#include "net/frame_sender.h"

#include <algorithm>
#include <climits>

#include "core/debug_log.h"
#include "core/status_line.h"
#include "net/session.h"
#include "net/socket_api.h"
#include "net/winsock_errors.h"
#include "wire/cipher.h"
#include "wire/frames.h"

namespace ov {

namespace {

int SendLength(size_t size) { return static_cast<int>(std::min<size_t>(size, INT_MAX)); }

}  // namespace

bool FrameSender::SendFrame(int socket, int32_t code, std::string_view payload) {
  const std::optional<std::string> frame = PlainFrame(code, payload);
  if (!frame) {
    return Refuse(code, payload.size() > kMaxPayload ? "too long for one frame"
                                                     : "\xFE and \xFD cannot be sent to the server");
  }
  return Transmit(socket, code, *frame, payload);
}

bool FrameSender::SendEnciphered(int socket, int32_t code, std::string_view plain) {
  const std::string sealed = cipher_.EncryptMsg(plain);
  return Transmit(socket, code, EncipheredFrame(code, sealed), sealed);
}

bool FrameSender::Refuse(int32_t code, const std::string& why) {
  status_.ShowStatus("Not sent - " + why, 5000, 1);
  debug_.Append("NOT SENT: [" + std::to_string(code) + "] " + why);
  return false;
}

bool FrameSender::Transmit(int socket, int32_t code, const std::string& frame, std::string_view payload) {
  Session* session = sessions_.Find(socket);
  if (session == nullptr || !session->connected) return false;
  const Session::Sending& sending = session->sending;

  size_t taken = 0;
  // Frames go out whole and in order: behind frames still waiting, a new one waits too.
  if (sending.unsentHead == sending.unsent.size()) {
    const int n = sockets_.Send(socket, frame.data(), SendLength(frame.size()));
    if (n == -1) {
      if (sockets_.LastError() != kWsaeWouldBlock) {
        status_.ShowStatus("Socket Send error " + ErrorText(sockets_.LastError()), 5000, 2);
        return false;
      }
    } else {
      taken = static_cast<size_t>(n);
    }
  }
  if (debug_.DebugMode() == 1) {
    // Account messages carry passwords, and their cipher's key is no secret: their payload is not shown.
    const bool account = IsAccountCode(code);
    debug_.Append("OUT: [" + std::to_string(code) + "] " +
                  (account ? MakeFrame(code, std::string(payload.size(), '*')) : frame));
  }
  if (taken < frame.size()) Queue(*session, std::string_view(frame).substr(taken));
  return true;
}

void FrameSender::Queue(Session& session, std::string_view bytes) {
  Session::Sending& sending = session.sending;
  sending.unsent += bytes;
  if (sending.unsent.size() - sending.unsentHead <= kMaxUnsent) return;
  // The peer has stopped reading; holding more would only grow without end.
  const int socket = session.Socket();
  status_.ShowStatus("Socket (" + std::to_string(socket) + ") Server not reading - disconnecting", 5000, 2);
  onStalled_(socket);  // disconnects, which closes the session with its unsent frames
}

void FrameSender::OnWritable(int socket) {
  Session* session = sessions_.Find(socket);
  if (session == nullptr) return;
  Session::Sending& c = session->sending;
  while (c.unsentHead < c.unsent.size()) {
    const int chunk = SendLength(c.unsent.size() - c.unsentHead);
    const int n = sockets_.Send(socket, c.unsent.data() + c.unsentHead, chunk);
    if (n == -1) {
      if (sockets_.LastError() == kWsaeWouldBlock) break;
      status_.ShowStatus("Socket Send error " + ErrorText(sockets_.LastError()), 5000, 2);
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

bool FrameSender::SendControl(int socket, ControlMessage message, std::string_view payload) {
  const int32_t code = ControlCode(message);
  if (IsAccountMessage(Number(message))) return SendEnciphered(socket, code, payload);
  return SendFrame(socket, code, payload);
}

bool FrameSender::SendConsole(int slot, int32_t serverId, std::string_view text) {
  if (slot < 0 || slot >= kSlotCount || serverId == -1) return false;
  // A free slot has no socket: the line is still checked, and then goes nowhere (socket 0 is none).
  const Session* session = sessions_.AtSlot(slot);
  return SendFrame(session != nullptr ? session->Socket() : 0, serverId, text);
}

}  // namespace ov
