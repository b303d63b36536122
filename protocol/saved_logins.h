#pragma once
// "Remember password" in the login dialog: a password per OV server (address and port) and login name,
// kept in the desktop's keyring, never anywhere else. The login name kept for a server is what the next
// login prompt from that address and port fills in, with its password; the user still answers.
#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "protocol/password_store.h"

namespace ov {

class StatusLine;

// The Remember box, its Forget button and the fields of the login dialog.
class RememberView {
 public:
  virtual ~RememberView() = default;
  // tip: why the box cannot be ticked, or what it does.
  virtual void SetRememberBox(bool enabled, bool checked, const std::string& tip) = 0;
  virtual void SetForgetEnabled(bool enabled) = 0;
  // Fills the login name and the password unless the user has typed into either meanwhile.
  virtual void FillFields(const std::string& login, const std::string& password) = 0;
};

class SavedLogins {
 public:
  // Servers whose login is kept, at most; the oldest kept goes beyond.
  static constexpr size_t kMaxKept = 50;
  using Kept = std::map<std::string, std::string>;  // "address:port" to its login name

  SavedLogins(PasswordStore& store, RememberView& view, StatusLine& status)
      : store_(store), view_(view), status_(status) {}

  // The logins kept, as the settings hold them, and who writes them back when they change.
  void Load(const Kept& kept);
  void SetKeptHandler(std::function<void(const Kept&)> onChange) { onKept_ = std::move(onChange); }
  const Kept& KeptLogins() const { return kept_; }
  static std::string KeyOf(const std::string& server, const std::string& login);

  // The dialog shows a step for server; only a login step offers remembering.
  void StepShown(const std::string& server, bool offered);
  void LoginEdited(const std::string& login);  // the user changed the login name shown
  void Forget();                               // the Forget button
  // OK on a login step: held until the server accepts the login, then kept (or forgotten when unticked).
  void Answered(const std::string& server, const std::string& login, const std::string& password,
                bool remember);
  void LoginAccepted(const std::string& server);  // the OV server named itself after the login

 private:
  struct Answer {
    std::string login;
    std::string password;
    bool remember = false;
  };
  void Keep(const std::string& server, const std::string& login);
  void Drop(const std::string& server);
  void ShowBox(bool checked);
  void UpdateForget();  // enabled while the login shown is the one kept for the server shown
  bool Current(uint64_t step) const { return step == step_; }

  PasswordStore& store_;
  RememberView& view_;
  StatusLine& status_;
  std::function<void(const Kept&)> onKept_;
  Kept kept_;
  std::map<std::string, Answer> answers_;  // by server, until it accepts or another answer comes
  uint64_t step_ = 0;                      // counts the steps shown: an answer for an older one is dropped
  std::string shown_;                      // the server of the login step shown, if any
  std::string shownLogin_;
  bool available_ = false;  // the keyring answered for the step shown
};

}  // namespace ov
