#pragma once
#include <deque>
#include <string>

#include "wire/messages.h"

namespace ov {

class Desktop;
class StatusLine;
class DebugLog;
class MessageCipher;
class FrameSender;
class AccountPrompts;
class Registry;
class ServerFigures;

class ControlDispatcher {
 public:
  ControlDispatcher(Desktop& desktop, StatusLine& status, DebugLog& debug, const MessageCipher& cipher,
                    FrameSender& sender, AccountPrompts& prompts, Registry& registry, ServerFigures& figures)
      : desktop_(desktop),
        status_(status),
        debug_(debug),
        cipher_(cipher),
        sender_(sender),
        prompts_(prompts),
        registry_(registry),
        figures_(figures) {}
  // Decodes control message n (deciphered first when it is an account message) into its typed form and
  // hands it to its handler; numbers without one are only logged.
  void DispatchControl(int socket, int n, const std::string& payload);

 private:
  void Beep(const msg::Beep& beep);
  void ShowServerMessage(std::string text);

  Desktop& desktop_;
  StatusLine& status_;
  DebugLog& debug_;
  const MessageCipher& cipher_;
  FrameSender& sender_;
  AccountPrompts& prompts_;
  Registry& registry_;
  ServerFigures& figures_;
  bool boxOpen_ = false;
  std::deque<std::string> waitingMessages_;
};

}  // namespace ov
