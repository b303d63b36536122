#include "protocol/account_prompt.h"

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

#include "consoles/consoles.h"
#include "core/debug_log.h"
#include "core/status_line.h"
#include "net/connection.h"
#include "net/event_loop.h"
#include "net/frame_sender.h"
#include "net/session.h"
#include "wire/payload.h"

namespace ov {

namespace {

// Prompts that may wait at once, the one on screen included; each is a nested loop on the stack.
constexpr size_t kMaxWaitingPrompts = 20;

// What a connection keeps of the account prompts: it has one prompt at a time.
struct ConnectionPrompt : SessionAttachment {
  bool waiting = false;
};

// The connection a step asks for, as it was when the user answered.
struct Asker {
  int socket;
  int slot;
};

}  // namespace

struct AccountPrompts::Step {
  Step(Session& session, LoginStep view) : connection(session), view(std::move(view)) {
    this->view.server = session.Where().Text();
  }
  ConnectionHandle connection;  // the server that asks; no longer lives once the connection closes
  LoginStep view;
  int result = 0;  // PWResult of this step
  // The fields as they were when the user answered, so a later prompt cannot change them.
  std::string field1;
  std::string field2;
  // What the last step of a prompt does with its answer, run as the user answers: the wait of a prompt
  // that came meanwhile (nested in this one's) must not hold the answer back.
  std::function<void(Step&, const Asker& open)> onAnswer;
};

bool AccountPrompts::StillLive(const Step& step) const { return step.connection.Lives(); }

void AccountPrompts::Show(Step& step) {
  step.result = 0;
  shown_ = &step;
  loginDialog_.ShowStep(step.view);
}

int AccountPrompts::RunStep(Step& step) {
  waiting_.push_back(&step);
  // Leaves the list as it found it even if the wait ends by an exception.
  struct Leave {
    AccountPrompts& self;
    Step& step;
    ~Leave() {
      self.waiting_.erase(std::remove(self.waiting_.begin(), self.waiting_.end(), &step),
                          self.waiting_.end());
      if (self.shown_ == &step) self.shown_ = nullptr;
    }
  } leave{*this, step};
  // A prompt never takes the dialog from another: what the user types goes to the server the dialog
  // named when the typing began.
  if (shown_ == nullptr) Show(step);
  loop_.WaitUntil([&] {
    if (shown_ != nullptr && !StillLive(*shown_)) ShowWaitingStep();  // its server has gone
    return step.result != 0 || !StillLive(step);
  });
  return StillLive(step) ? step.result : 0;
}

void AccountPrompts::ShowWaitingStep() {
  for (Step* step : waiting_) {
    if (step->result == 0 && StillLive(*step)) {
      if (step != shown_) Show(*step);
      return;
    }
  }
  shown_ = nullptr;
  loginDialog_.HideDialog();
}

void AccountPrompts::AccountPrompt(int socket, const std::string& kind, const std::string& caption) {
  if (kind != "login" && kind != "newuser" && kind != "chpwd") return;
  // A connection that is already gone has nobody to answer to.
  Session* session = sessions_.Find(socket);
  if (session == nullptr) return;
  // A server that asks again while its prompt waits would stack one nested wait on another without
  // end: it has one prompt at a time, and the newer one is refused.
  ConnectionPrompt& prompt = session->Attached<ConnectionPrompt>();
  if (prompt.waiting) {
    status_.ShowStatus("Account prompt refused - the server already has one waiting", 5000, 1);
    return;
  }
  // Prompts of connections that closed stay in the list until the waits nested in theirs end.
  if (waiting_.size() >= kMaxWaitingPrompts) {
    status_.ShowStatus("Too many account prompts waiting - one was refused", 5000, 1);
    return;
  }

  // The mark goes with the connection if it closes first.
  prompt.waiting = true;
  struct Done {
    ConnectionHandle connection;
    ~Done() {
      if (const auto open = connection.Lock()) open->Attached<ConnectionPrompt>().waiting = false;
    }
  } done{ConnectionHandle(*session)};
  if (kind == "login") {
    Login(*session, caption);
  } else if (kind == "newuser") {
    NewUser(*session);
  } else {
    ChangePassword(*session);
  }
  ShowWaitingStep();
}

void AccountPrompts::Login(Session& session, const std::string& caption) {
  Step step{session, {caption, "Login:", "Password:", true, false, true}};
  step.view.offersRemember = true;
  step.onAnswer = [this](Step& s, const Asker& open) {
    if (s.result == 2) {
      connections_.Disconnect(open.slot, 1);
    } else {
      sender_.Send(open.socket, msg::Login{s.field1, s.field2});
    }
  };
  RunStep(step);
}

// A step's wait gives an answer only while the connection is open, so the session is still there for
// the next step.
void AccountPrompts::NewUser(Session& session) {
  Step first{session, {"New User", "New user login name:", "New user Password:", true, false, true}};
  if (RunStep(first) != 1) return;
  const std::string name = PadTo8(first.field1);
  const std::string password = PadTo16(first.field2);

  Step confirm{session, {"New User", "Confirm new user Password:", "New user Password:", false, true, true}};
  confirm.onAnswer = [this, name, password](Step& s, const Asker& open) {
    if (s.result != 1) return;
    if (PadTo16(s.field1) == password) {
      sender_.Send(open.socket, msg::NewUser{name, password});
    } else {
      consoles_.RouteConsoleText(open.socket, 0, "\r\nNewUser error - passwords do not match");
    }
  };
  RunStep(confirm);
}

void AccountPrompts::ChangePassword(Session& session) {
  Step first{session, {"Change Password", "Login name:", "Old password:", true, false, true}};
  if (RunStep(first) != 1) return;
  const std::string name = PadTo8(first.field1);
  const std::string old = PadTo16(first.field2);

  Step second{session, {"Change Password", "New password:", "Confirm new password:", true, true, true}};
  second.onAnswer = [this, name, old](Step& s, const Asker& open) {
    if (s.result != 1) return;
    const std::string fresh = PadTo16(s.field1);
    if (fresh != PadTo16(s.field2)) {
      consoles_.RouteConsoleText(open.socket, 0, "\r\nChPwd error - new passwords do not match");
      return;
    }
    sender_.Send(open.socket, msg::ChangePassword{name, old, fresh});
    // The debug pane is a plain window that anyone may read: the passwords stay masked there.
    debug_.Append("[" + name + std::string(32, '*') + "]");
  };
  RunStep(second);
}

void AccountPrompts::Answered(int result) {
  lastResult_ = result;
  Step* step = std::exchange(shown_, nullptr);
  if (step != nullptr) {
    step->result = result;
    if (result == 1) {
      step->field1 = loginDialog_.Field1();
      step->field2 = loginDialog_.Field2();
    }
    // Only what names the connection is taken from it: the answer may end it (a cancelled login).
    std::optional<Asker> open;
    if (const std::shared_ptr<Session> session = step->connection.Lock())
      open = {session->Socket(), session->Slot()};
    if (open && step->onAnswer) step->onAnswer(*step, *open);
  }
  ShowWaitingStep();
}

void AccountPrompts::Answer() { Answered(1); }

void AccountPrompts::Cancel() { Answered(2); }

void AccountPrompts::Dismiss() {
  if (shown_ != nullptr) {
    Answered(2);
  } else {
    loginDialog_.HideDialog();
  }
}

int AccountPrompts::PWResult() const { return shown_ != nullptr ? shown_->result : lastResult_; }

}  // namespace ov
