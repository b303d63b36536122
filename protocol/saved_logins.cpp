#include "protocol/saved_logins.h"

#include <algorithm>

#include "core/status_line.h"

namespace ov {

namespace {
constexpr const char* kAskingTip = "Asking the desktop's keyring\u2026";
constexpr const char* kRememberTip =
    "Keep the password in the desktop's keyring for this OV server and login name";
// Answers held until their servers accept them: one per server, and no more servers than connections.
constexpr size_t kMaxAnswers = 20;
}  // namespace

std::string SavedLogins::KeyOf(const std::string& server, const std::string& login) {
  return login + "@" + server;
}

void SavedLogins::Load(const Kept& kept) {
  kept_ = kept;
  while (kept_.size() > kMaxKept) kept_.erase(kept_.begin());
}

void SavedLogins::StepShown(const std::string& server, bool offered) {
  ++step_;
  available_ = false;
  shown_ = offered ? server : std::string();
  if (!offered) return;
  view_.SetRememberBox(false, false, kAskingTip);
  view_.SetForgetEnabled(false);
  const uint64_t step = step_;
  // Only whether a keyring is there: no password is read, and no unlock asked for, unless one is kept.
  store_.Probe([this, step, server](const KeyringAnswer& probe) {
    if (!Current(step)) return;
    if (probe.kind != KeyringAnswer::Kind::Done) {
      view_.SetRememberBox(false, false, probe.reason);
      return;
    }
    available_ = true;
    const auto kept = kept_.find(server);
    ShowBox(kept != kept_.end());
    if (kept == kept_.end()) return;
    const std::string login = kept->second;
    store_.Read(KeyOf(server, login), [this, step, server, login](const KeyringAnswer& read) {
      if (!Current(step)) return;
      switch (read.kind) {
        case KeyringAnswer::Kind::Done:
          view_.FillFields(login, read.password);
          break;
        case KeyringAnswer::Kind::NotFound:  // removed from the keyring by other means
          Drop(server);
          ShowBox(false);
          break;
        case KeyringAnswer::Kind::Unavailable:
          available_ = false;
          view_.SetRememberBox(false, false, read.reason);
          view_.SetForgetEnabled(false);
          break;
        case KeyringAnswer::Kind::Failed:
          status_.ShowStatus("Saved password not read - " + read.reason, 5000, 1);
          break;
      }
    });
  });
}

void SavedLogins::LoginEdited(const std::string& login) {
  shownLogin_ = login;
  UpdateForget();
}

void SavedLogins::ShowBox(bool checked) {
  if (shown_.empty() || !available_) return;
  view_.SetRememberBox(true, checked, kRememberTip);
  UpdateForget();
}

void SavedLogins::UpdateForget() {
  const auto kept = kept_.find(shown_);
  view_.SetForgetEnabled(available_ && kept != kept_.end() && kept->second == shownLogin_);
}

void SavedLogins::Forget() {
  const auto kept = kept_.find(shown_);
  if (!available_ || kept == kept_.end() || kept->second != shownLogin_) return;
  const std::string server = shown_;
  const uint64_t step = step_;
  store_.Remove(KeyOf(server, kept->second), [this, server, step](const KeyringAnswer& removed) {
    if (removed.kind != KeyringAnswer::Kind::Done) {
      status_.ShowStatus("Saved password not forgotten - " + removed.reason, 5000, 1);
      return;
    }
    Drop(server);
    status_.ShowStatus("Saved password forgotten for " + server, 5000, 0);
    if (Current(step)) ShowBox(false);
  });
}

void SavedLogins::Answered(const std::string& server, const std::string& login, const std::string& password,
                           bool remember) {
  // Without a keyring the box could not be ticked nor unticked: what is kept stays as it was.
  if (!available_ || server != shown_) return;
  const auto kept = kept_.find(server);
  if (!remember && (kept == kept_.end() || kept->second != login)) {
    answers_.erase(server);
    return;
  }
  if (answers_.size() >= kMaxAnswers && answers_.count(server) == 0) answers_.erase(answers_.begin());
  answers_[server] = Answer{login, remember ? password : std::string(), remember};
}

void SavedLogins::LoginAccepted(const std::string& server) {
  const auto held = answers_.find(server);
  if (held == answers_.end()) return;
  const Answer answer = std::move(held->second);
  answers_.erase(held);
  if (!answer.remember) {
    // Unticked for the login kept: it is forgotten.
    store_.Remove(KeyOf(server, answer.login), [this, server](const KeyringAnswer& removed) {
      if (removed.kind == KeyringAnswer::Kind::Done) {
        Drop(server);
      } else {
        status_.ShowStatus("Saved password not forgotten - " + removed.reason, 5000, 1);
      }
    });
    return;
  }
  const std::string login = answer.login;
  store_.Write(KeyOf(server, login), answer.password, [this, server, login](const KeyringAnswer& written) {
    if (written.kind != KeyringAnswer::Kind::Done) {
      status_.ShowStatus("Password not kept - " + written.reason, 5000, 1);
      return;
    }
    // One login per server: the one kept before leaves the keyring too.
    const auto before = kept_.find(server);
    if (before != kept_.end() && before->second != login)
      store_.Remove(KeyOf(server, before->second), [](const KeyringAnswer&) {});
    Keep(server, login);
  });
}

void SavedLogins::Keep(const std::string& server, const std::string& login) {
  kept_[server] = login;
  if (kept_.size() > kMaxKept) {
    // Beyond the bound another server's entry goes, from the keyring as well.
    const auto other = kept_.begin()->first != server ? kept_.begin() : std::next(kept_.begin());
    store_.Remove(KeyOf(other->first, other->second), [](const KeyringAnswer&) {});
    kept_.erase(other);
  }
  if (onKept_) onKept_(kept_);
}

void SavedLogins::Drop(const std::string& server) {
  if (kept_.erase(server) > 0 && onKept_) onKept_(kept_);
}

}  // namespace ov
