#include "ovserver/connection.h"

#include <QHostAddress>
#include <QTcpSocket>
#include <QTimer>
#include <algorithm>

#include "ovserver/game_servers.h"
#include "ovserver/log.h"

namespace ovs {

Connection::Connection(int number, QTcpSocket* socket, std::string group, const ov::MessageCipher& cipher,
                       PeerLog& log)
    : number_(number),
      socket_(socket),
      peer_(socket->peerAddress().toString().toStdString() + ":" + std::to_string(socket->peerPort())),
      address_(socket->peerAddress().toString().toStdString()),
      group_(std::move(group)),
      cipher_(cipher),
      log_(log) {}

std::string Connection::Who() const {
  std::string who = "connection " + std::to_string(number_);
  if (!user.empty()) who += " (" + user + ")";
  return who;
}

void Connection::Write(const std::optional<std::string>& frame, int32_t code) {
  if (closed_) return;
  if (!frame) {
    Log(Who() + ": frame " + ov::FormatCode(code) + " not sent: it cannot carry what it was given");
    return;
  }
  if (socket_->bytesToWrite() > kMaxUnreadOutput) {
    Log(Who() + ": closed, " + std::to_string(socket_->bytesToWrite()) +
        " bytes sent to it are still unread");
    socket_->abort();
    return;
  }
  socket_->write(frame->data(), qint64(frame->size()));
}

void Connection::SendNote(const std::string& text) { Send(ov::msg::StatusNote{ConsoleSafe(text)}); }

void Connection::SendConsoleLine(int id, const std::string& line) {
  // A client that does not keep up loses console text, never control messages.
  if (socket_->bytesToWrite() > kMaxQueuedOutput) {
    ++droppedLines_;
    return;
  }
  Write(ov::PlainFrame(id, ConsoleSafe(line) + "\r\n"), id);
}

void Connection::CaughtUp() {
  if (droppedLines_ == 0 || socket_->bytesToWrite() >= kMaxQueuedOutput / 2) return;
  const size_t dropped = droppedLines_;
  droppedLines_ = 0;
  Say("[" + std::to_string(dropped) + " console lines dropped: this connection fell behind]");
}

void Connection::Malformed(const std::string& problem, size_t count) {
  if (malformed_ == 0) firstProblem_ = problem;
  malformed_ += count;
}

void Connection::ReportMalformed(bool closing) {
  const auto now = Clock::now();
  unreported_ += malformed_;
  malformed_ = 0;
  if (unreported_ == 0) return;
  if (!closing && lastReport_ != Clock::time_point() &&
      now - lastReport_ < std::chrono::milliseconds(kMalformedLogIntervalMs))
    return;
  log_.Line(nullptr, Who() + ": " + std::to_string(unreported_) + " malformed request" +
                         (unreported_ == 1 ? "" : "s") + ", the first: " + firstProblem_);
  unreported_ = 0;
  lastReport_ = now;
}

void Connection::Refuse(const std::string& reason, Clock::time_point since, std::chrono::milliseconds delay) {
  state = State::Refused;
  // Every refusal leaves the same time after its request, so that guessing costs the guesser time and
  // the moment of the answer tells nothing about why.
  const auto wait = std::max(std::chrono::milliseconds(0),
                             std::chrono::ceil<std::chrono::milliseconds>(since + delay - Clock::now()));
  QTimer::singleShot(wait, Qt::PreciseTimer, socket_, [self = Handle(), reason] {
    const auto open = Open(self);
    if (!open) return;
    // A message box: a status note would be replaced at once by the client's note of the close.
    open->Send(ov::msg::MessageBox{ConsoleSafe(reason)});
    open->CloseGently();
  });
}

void Connection::CloseGently() {
  socket_->disconnectFromHost();
  // A peer that does not read its last messages does not keep the connection open.
  QTimer::singleShot(kCloseWaitMs, socket_, [self = Handle()] {
    if (const auto open = Open(self)) open->socket_->abort();
  });
}

std::string Connection::MarkClosed() {
  closed_ = true;
  ReportMalformed(true);
  return Who() + " closed" +
         (logBudget_.held ? " (" + std::to_string(logBudget_.held) + " more of its log lines held back)"
                          : "");
}

}  // namespace ovs
