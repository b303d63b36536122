#include "protocol/control_dispatch.h"

#include <algorithm>

#include "core/debug_log.h"
#include "core/desktop.h"
#include "core/status_line.h"
#include "net/frame_sender.h"
#include "protocol/account_prompt.h"
#include "registry/registry_updates.h"
#include "registry/server_figures.h"
#include "wire/cipher.h"
#include "wire/codes.h"
#include "wire/messages.h"

namespace ov {

namespace {
// The beep count comes off the network and every beep may take a while: a large count must not
// hold the program.
constexpr int kMaxBeeps = 10;
// Server messages waiting behind the box that is up; beyond this a flooding server is only told of.
constexpr size_t kMaxWaitingMessages = 50;
}  // namespace

void ControlDispatcher::DispatchControl(int socket, int n, const std::string& payload) {
  debug_.Append("ramsg called code " + std::to_string(n) + " msg: " + payload);
  // Kept by value: the handlers below may wait in nested loops while the caller's frames change.
  std::string text = payload;
  if (IsDecipheredOnReceipt(n)) text = cipher_.DecryptMsg(text);
  debug_.Append("decrypted msg: " + text);

  // Each handler is given its message decoded, once, here.
  switch (static_cast<ControlMessage>(n)) {
    case ControlMessage::StatusNote:
      status_.ShowStatus(msg::StatusNote::Decode(text).text, 5000, 0);
      break;
    case ControlMessage::Beep:
      Beep(msg::Beep::Decode(text));
      break;
    case ControlMessage::MessageBox:
      ShowServerMessage(msg::MessageBox::Decode(text).text);
      break;
    case ControlMessage::OvInfo:
      registry_.OnOVInfo(socket, msg::OvInfo::Decode(text));
      break;
    case ControlMessage::ServerInfo:
      registry_.OnServerInfo(socket, msg::ServerInfo::Decode(text));
      break;
    case ControlMessage::NewServer:
      registry_.OnNewServer(socket, msg::NewServer::Decode(text));
      break;
    case ControlMessage::ServerRemoved: {
      const msg::ServerRemoved removed = msg::ServerRemoved::Decode(text);
      figures_.Forget(socket, removed.id);
      registry_.RemoveQServer(socket, removed);
      break;
    }
    case ControlMessage::ServerTypes:
      registry_.OnServerTypes(socket, msg::ServerTypes::Decode(text));
      break;
    case ControlMessage::Figures:
      figures_.OnFigures(socket, msg::Figures::Decode(text));
      break;
    case ControlMessage::LoginRequest:
      prompts_.AccountPrompt(socket, "login", msg::LoginRequest::Decode(text).caption);
      break;
    case ControlMessage::AnswerRequest:
      sender_.Send(socket, msg::Answer{});
      break;
    case ControlMessage::PromptRequest:
      prompts_.AccountPrompt(socket, msg::PromptRequest::Decode(text).prompt, "");
      break;
    default:
      break;  // no action: the two log lines are all
  }
}

void ControlDispatcher::Beep(const msg::Beep& beep) {
  const int count = std::min(beep.count, kMaxBeeps);
  if (count > 0 && desktop_.BeepsAllowed()) {
    for (int i = 0; i < count; ++i) desktop_.Beep();
  }
}

// Boxes do not nest: a message that arrives while one is up waits its turn and is shown when the user
// has dismissed it, so a server sending message after message cannot pile up nested loops without end.
void ControlDispatcher::ShowServerMessage(std::string text) {
  if (boxOpen_) {
    if (waitingMessages_.size() < kMaxWaitingMessages) {
      waitingMessages_.push_back(std::move(text));
    } else {
      status_.ShowStatus("Too many messages from the server - some were not shown", 5000, 1);
    }
    return;
  }
  boxOpen_ = true;
  waitingMessages_.push_back(std::move(text));
  while (!waitingMessages_.empty()) {
    const std::string next = std::move(waitingMessages_.front());
    waitingMessages_.pop_front();
    desktop_.MessageBox(next);
  }
  boxOpen_ = false;
}

}  // namespace ov
