#include "net/frame_receiver.h"

#include <utility>

#include "core/debug_log.h"
#include "core/status_line.h"
#include "net/event_loop.h"
#include "net/socket_api.h"
#include "net/winsock_errors.h"

namespace ov {

void FrameReceiver::ReceiveFrames(int socket) {
  Session* session = sessions_.Find(socket);
  // Frames of an earlier read still wait for their turn: what follows them on the wire stays unread
  // until they are handed over, so nothing overtakes them. A hand-over under way (a wait) is another
  // matter: the reads that come during it are handled during it.
  if (session != nullptr && session->receiving.parked && session->receiving.handingOver == 0) {
    session->receiving.readWanted = true;
    return;
  }
  auto read = std::make_unique<Read>();
  std::string& text = read->text;
  text.assign(kReceiveBufferSize, '\0');
  const int n = sockets_.Recv(socket, text.data(), static_cast<int>(text.size()));
  if (n == -1) {
    status_.ShowStatus(
        "Socket (" + std::to_string(socket) + ") Receive error " + ErrorText(sockets_.LastError()), 5000, 2);
    return;
  }
  text.resize(n);
  if (debug_.DebugMode() == 1) debug_.Append("IN(" + std::to_string(socket) + ") : " + text);
  debug_.Append("len is " + std::to_string(n));
  // A connection that has closed hands nothing over.
  if (session == nullptr) return;

  if (n == 0) {
    read->frames.emplace_back();  // an empty read still makes its one pass, with an empty code
  } else if (session->receiving.assembler.Split(text, read->frames, read->joined)) {
    status_.ShowStatus("Socket (" + std::to_string(socket) + ") Oversized frame dropped", 5000, 2);
  }
  // Only the outermost hand-over of a socket is bounded: reads that come during a wait are handed over
  // whole, before the frames that followed the waiting one.
  if (!HandOverFrames(*session, *read, session->receiving.handingOver == 0)) Park(*session, std::move(read));
}

bool FrameReceiver::HandOverFrames(Session& session, Read& read, bool bounded) {
  const std::weak_ptr<Session> open = session.weak_from_this();
  const int socket = session.Socket();
  const Clock::time_point start = loop_.Now();
  size_t handed = 0;
  ++session.receiving.handingOver;
  while (read.next < read.frames.size()) {
    // A frame handed over earlier may have waited while the connection closed; what followed it is void.
    if (open.expired()) {
      read.next = read.frames.size();
      break;
    }
    if (bounded && handed > 0 && (handed >= kFramesPerTurn || loop_.Now() - start >= kTimePerTurn)) break;
    const FrameView& frame = read.frames[read.next++];
    debug_.Append(std::string("in_code: ").append(frame.code));
    HandOver(socket, frame);
    ++handed;
  }
  if (open.expired()) return true;
  --session.receiving.handingOver;
  return read.next == read.frames.size();
}

void FrameReceiver::Park(Session& session, std::unique_ptr<Read> read) {
  session.receiving.parked = std::move(read);
  loop_.Post([this, alive = std::weak_ptr<bool>(alive_), open = session.weak_from_this()] {
    // Null when the connection closed meanwhile; an open session is kept by the sessions, not here.
    Session* session = open.lock().get();
    if (!alive.expired() && session != nullptr) Resume(*session);
  });
}

void FrameReceiver::Resume(Session& session) {
  Session::Receiving& receiving = session.receiving;
  if (!receiving.parked) return;
  std::unique_ptr<Read> read = std::move(receiving.parked);
  const std::weak_ptr<Session> open = session.weak_from_this();
  if (!HandOverFrames(session, *read, true)) {
    Park(session, std::move(read));
    return;
  }
  if (open.expired()) return;  // the connection closed during the hand-over
  if (receiving.closeWaiting) {
    const std::function<void()> close = std::exchange(receiving.closeWaiting, nullptr);
    close();
    return;
  }
  // The read event that came meanwhile was not answered: its bytes are read now.
  if (std::exchange(receiving.readWanted, false)) ReceiveFrames(session.Socket());
}

bool FrameReceiver::CloseAfterFrames(int socket, std::function<void()> close) {
  Session* session = sessions_.Find(socket);
  if (session == nullptr || !session->receiving.parked) return false;
  session->receiving.closeWaiting = std::move(close);
  return true;
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

}  // namespace ov
