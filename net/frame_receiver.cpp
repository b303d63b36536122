#include "net/frame_receiver.h"

#include "net/socket_api.h"
#include "net/winsock_errors.h"
#include "registry/server_tables.h"
#include "ui/debug_log.h"
#include "ui/status_line.h"

namespace ov {

void FrameReceiver::ReceiveFrames(int socket) {
  // Local to the call: a hand-over can wait in a nested loop that reads this socket again.
  std::string text(kReceiveBufferSize, '\0');
  const int n = sockets_.Recv(socket, text.data(), static_cast<int>(text.size()));
  if (n == -1) {
    status_.ShowStatus(
        "Socket (" + std::to_string(socket) + ") Receive error " + ErrorText(sockets_.LastError()), 5000, 2);
    return;
  }
  text.resize(n);
  if (debug_.DebugMode() == 1) debug_.Append("IN(" + std::to_string(socket) + ") : " + text);
  debug_.Append("len is " + std::to_string(n));

  // The frames point into text, or into joined for one completed from bytes kept from earlier reads:
  // both belong to this call, so a nested read of the same socket cannot change them.
  std::vector<FrameView> frames;
  std::string joined;
  if (n == 0) {
    frames.emplace_back();  // an empty read still makes its one pass, with an empty code
  } else if (tables_.LiveSlot(socket) != -1) {
    if (assemblers_[socket].Split(text, frames, joined)) {
      status_.ShowStatus("Socket (" + std::to_string(socket) + ") Oversized frame dropped", 5000, 2);
    }
  }
  for (const FrameView& frame : frames) {
    // A frame handed over earlier may have waited while the connection closed; what followed it is void.
    if (tables_.LiveSlot(socket) == -1) break;
    debug_.Append(std::string("in_code: ").append(frame.code));
    HandOver(socket, frame);
  }
}

void FrameReceiver::HandOver(int socket, const FrameView& frame) {
  if (!frame.outside) {
    const CodeClass kind = ClassifyCode(frame.code);
    if (kind.kind == CodeKind::Control) {
      onControl_(socket, kind.number, std::string(frame.payload));
      return;
    }
    if (kind.kind == CodeKind::Console) {
      onConsole_(socket, kind.number, frame.payload);
      return;
    }
  }
  status_.ShowStatus("Unknown code received - " + std::string(frame.code), 1500, 1);
}

void FrameReceiver::Forget(int socket) { assemblers_.erase(socket); }

}  // namespace ov
