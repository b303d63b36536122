#pragma once
// The login, new-user and change-password prompts, run in the one login dialog.
#include <string>
#include <string_view>
#include <vector>

namespace ov {

class EventLoop;
class Sessions;
class Session;
class StatusLine;
class DebugLog;
class FrameSender;
class Connections;
class Consoles;

// What one step of a prompt puts into the dialog. Showing a step empties both fields.
struct LoginStep {
  std::string caption;
  std::string label1;         // lPW1
  std::string label2;         // lPW2
  bool secondVisible = true;  // the second field and its label
  bool field1Masked = false;  // the first field shows "*" for each character
  bool field2Masked = true;
  std::string server{};         // the address and port of the OV server that asks, which it cannot choose
  bool offersRemember = false;  // a login: the dialog offers to keep the password in the desktop's keyring
};

// The login dialog on screen (LoginDialog). Its OK, Cancel and close go to AccountPrompts.
class LoginDialogView {
 public:
  virtual ~LoginDialogView() = default;
  virtual void ShowStep(
      const LoginStep& step) = 0;  // sets the texts, empties the fields, shows, focuses the first field
  virtual void HideDialog() = 0;
  virtual std::string Field1() const = 0;  // the first field
  virtual std::string Field2() const = 0;  // the second field
};

class AccountPrompts {
 public:
  AccountPrompts(EventLoop& loop, Sessions& sessions, StatusLine& status, DebugLog& debug,
                 FrameSender& sender, LoginDialogView& loginDialog, Connections& connections,
                 Consoles& consoles)
      : loop_(loop),
        sessions_(sessions),
        status_(status),
        debug_(debug),
        sender_(sender),
        loginDialog_(loginDialog),
        connections_(connections),
        consoles_(consoles) {}

  void AccountPrompt(int socket, const std::string& kind, const std::string& caption);

  // The user answers the step the dialog shows; the dialog then asks for the next prompt waiting.
  void Answer();   // OK
  void Cancel();   // Cancel
  void Dismiss();  // close box or Escape; also after OK and Cancel
  int PWResult() const;

 private:
  struct Step;  // a waiting step of a prompt

  // Waits for the step's answer, showing it once the dialog is free: 1 OK, 2 Cancel, 0 when the
  // connection closed meanwhile.
  int RunStep(Step& step);
  void Login(Session& session, const std::string& caption);
  void NewUser(Session& session);
  void ChangePassword(Session& session);
  bool StillLive(const Step& step) const;
  void Show(Step& step);
  // The dialog shows the prompt that has waited longest and is still unanswered, or hides.
  void ShowWaitingStep();
  void Answered(int result);

  EventLoop& loop_;
  Sessions& sessions_;
  StatusLine& status_;
  DebugLog& debug_;
  FrameSender& sender_;
  LoginDialogView& loginDialog_;
  Connections& connections_;
  Consoles& consoles_;
  std::vector<Step*> waiting_;  // in the order they came; the innermost wait is the last
  Step* shown_ = nullptr;       // the step whose texts the dialog holds; its answer is the user's
  int lastResult_ = 0;
};

}  // namespace ov
