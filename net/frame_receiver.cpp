#include "net/frame_receiver.h"

#include "net/event_loop.h"
#include "net/socket_api.h"
#include "net/winsock_errors.h"
#include "core/server_tables.h"
#include "core/debug_log.h"
#include "core/status_line.h"

namespace ov {

void FrameReceiver::ReceiveFrames(int socket) {
  // Frames of an earlier read still wait for their turn: what follows them on the wire stays unread
  // until they are handed over, so nothing overtakes them. A hand-over under way (a wait) is another
  // matter: the reads that come during it are handled during it.
  if (parked_.count(socket) != 0 && handingOver_.count(socket) == 0) {
    readWanted_.insert(socket);
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

  if (n == 0) {
    read->frames.emplace_back();  // an empty read still makes its one pass, with an empty code
  } else if (tables_.LiveSlot(socket) != -1) {
    if (assemblers_[socket].Split(text, read->frames, read->joined)) {
      status_.ShowStatus("Socket (" + std::to_string(socket) + ") Oversized frame dropped", 5000, 2);
    }
  }
  // Only the outermost hand-over of a socket is bounded: reads that come during a wait are handed over
  // whole, before the frames that followed the waiting one.
  if (!HandOverFrames(socket, *read, handingOver_.count(socket) == 0)) Park(socket, std::move(read));
}

bool FrameReceiver::HandOverFrames(int socket, Read& read, bool bounded) {
  const Clock::time_point start = loop_.Now();
  size_t handed = 0;
  ++handingOver_[socket];
  while (read.next < read.frames.size()) {
    // A frame handed over earlier may have waited while the connection closed; what followed it is void.
    if (tables_.LiveSlot(socket) == -1) {
      read.next = read.frames.size();
      break;
    }
    if (bounded && handed > 0 && (handed >= kFramesPerTurn || loop_.Now() - start >= kTimePerTurn)) break;
    const FrameView& frame = read.frames[read.next++];
    debug_.Append(std::string("in_code: ").append(frame.code));
    HandOver(socket, frame);
    ++handed;
  }
  if (--handingOver_[socket] == 0) handingOver_.erase(socket);
  return read.next == read.frames.size();
}

void FrameReceiver::Park(int socket, std::unique_ptr<Read> read) {
  parked_[socket] = std::move(read);
  loop_.Post([this, alive = std::weak_ptr<bool>(alive_), socket] {
    if (!alive.expired()) Resume(socket);
  });
}

void FrameReceiver::Resume(int socket) {
  auto it = parked_.find(socket);
  if (it == parked_.end()) return;  // the connection closed meanwhile
  std::unique_ptr<Read> read = std::move(it->second);
  parked_.erase(it);
  if (!HandOverFrames(socket, *read, true)) {
    Park(socket, std::move(read));
    return;
  }
  if (auto close = closeWaiting_.find(socket); close != closeWaiting_.end()) {
    const std::function<void()> run = std::move(close->second);
    closeWaiting_.erase(close);
    run();
    return;
  }
  // The read event that came meanwhile was not answered: its bytes are read now.
  if (readWanted_.erase(socket) != 0 && tables_.LiveSlot(socket) != -1) ReceiveFrames(socket);
}

bool FrameReceiver::CloseAfterFrames(int socket, std::function<void()> close) {
  if (parked_.count(socket) == 0) return false;
  closeWaiting_[socket] = std::move(close);
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

void FrameReceiver::Forget(int socket) {
  assemblers_.erase(socket);
  parked_.erase(socket);
  readWanted_.erase(socket);
  closeWaiting_.erase(socket);
}

}  // namespace ov
