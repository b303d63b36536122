// Remember password: what is kept in the keyring, when, and what the login dialog is told.
#include <gtest/gtest.h>

#include <deque>

#include "core/status_line.h"
#include "protocol/saved_logins.h"
#include "tests/common/fakes.h"

namespace ov {
namespace {

using Kind = KeyringAnswer::Kind;

// A keyring that answers when the test says, from a map.
struct FakeStore : PasswordStore {
  std::map<std::string, std::string> held;
  bool available = true;
  std::deque<std::function<void()>> waiting;
  std::vector<std::string> asked;  // "probe", "read KEY", "write KEY", "remove KEY"

  void Later(std::string what, Handler done, std::function<KeyringAnswer()> act) {
    asked.push_back(std::move(what));
    waiting.push_back([act, done] { done(act()); });
  }
  void Probe(Handler done) override {
    Later("probe", done, [this] {
      return KeyringAnswer{available ? Kind::Done : Kind::Unavailable, {}, "no keyring here"};
    });
  }
  void Read(const std::string& key, Handler done) override {
    Later("read " + key, done, [this, key] {
      const auto it = held.find(key);
      return it == held.end() ? KeyringAnswer{Kind::NotFound, {}, {}}
                              : KeyringAnswer{Kind::Done, it->second, {}};
    });
  }
  void Write(const std::string& key, const std::string& password, Handler done) override {
    Later("write " + key, done, [this, key, password] {
      held[key] = password;
      return KeyringAnswer{Kind::Done, {}, {}};
    });
  }
  void Remove(const std::string& key, Handler done) override {
    Later("remove " + key, done, [this, key] {
      held.erase(key);
      return KeyringAnswer{Kind::Done, {}, {}};
    });
  }
  void AnswerAll() {
    while (!waiting.empty()) {
      auto next = std::move(waiting.front());
      waiting.pop_front();
      next();
    }
  }
};

struct FakeRemember : RememberView {
  bool enabled = false, checked = false, forget = false;
  std::string tip, filled;
  void SetRememberBox(bool e, bool c, const std::string& t) override {
    enabled = e;
    checked = c;
    tip = t;
  }
  void SetForgetEnabled(bool e) override { forget = e; }
  void FillFields(const std::string& login, const std::string& password) override {
    filled = login + "/" + password;
  }
};

struct Logins {
  FakeStore store;
  FakeRemember view;
  test::RecordingDesktop desktop;
  StatusLine status{desktop};
  SavedLogins logins{store, view, status};
  std::vector<SavedLogins::Kept> written;
  Logins() {
    logins.SetKeptHandler([this](const SavedLogins::Kept& kept) { written.push_back(kept); });
  }
  // A login prompt from server, answered with what the user typed, then accepted or not.
  void Login(const std::string& server, const std::string& login, const std::string& password, bool remember,
             bool accepted) {
    logins.StepShown(server, true);
    store.AnswerAll();
    logins.LoginEdited(login);
    logins.Answered(server, login, password, remember);
    if (accepted) logins.LoginAccepted(server);
    store.AnswerAll();
  }
};

TEST(SavedLogins, KeptOnlyOnceTheServerAcceptsTheLoginAndForgottenWhenUnticked) {
  // Filling the next prompt and Forget are tried against a real keyring in gui_saved_logins.cpp.
  Logins l;
  l.Login("10.0.0.1:4044", "alice", "wrong", true, false);  // refused: the server asks again
  l.Login("10.0.0.1:4044", "alice", "s3cret", true, true);
  EXPECT_EQ(l.store.held, (std::map<std::string, std::string>{{"alice@10.0.0.1:4044", "s3cret"}}));
  ASSERT_EQ(l.written.size(), 1u);
  EXPECT_EQ(l.written.back(), (SavedLogins::Kept{{"10.0.0.1:4044", "alice"}}));  // the name, no password

  // Another server's prompt reads no password; on this one's, Forget is for the login kept only.
  l.store.asked.clear();
  l.logins.StepShown("10.0.0.1:5055", true);
  l.store.AnswerAll();
  EXPECT_EQ(l.store.asked, std::vector<std::string>{"probe"});
  EXPECT_TRUE(l.view.enabled && !l.view.checked && l.view.filled.empty());
  l.Login("10.0.0.1:4044", "bob", "", false, false);
  EXPECT_EQ(l.view.filled, "alice/s3cret");
  EXPECT_FALSE(l.view.forget);

  l.Login("10.0.0.1:4044", "alice", "", false, true);
  EXPECT_TRUE(l.store.held.empty());
  EXPECT_TRUE(l.logins.KeptLogins().empty());

  // Another login kept for a server takes the place of the one before, in the keyring too.
  l.Login("10.0.0.1:4044", "alice", "s3cret", true, true);
  l.Login("10.0.0.1:4044", "bob", "b0b", true, true);
  EXPECT_EQ(l.store.held, (std::map<std::string, std::string>{{"bob@10.0.0.1:4044", "b0b"}}));
  EXPECT_EQ(l.logins.KeptLogins(), (SavedLogins::Kept{{"10.0.0.1:4044", "bob"}}));
}

TEST(SavedLogins, AnAnswerForAStepNoLongerShownAndAMissingKeyringChangeNothing) {
  Logins l;
  l.logins.Load({{"10.0.0.1:4044", "alice"}});
  l.store.held["alice@10.0.0.1:4044"] = "s3cret";
  l.logins.StepShown("10.0.0.1:4044", true);
  l.logins.StepShown("10.0.0.2:4044", false);  // another server's new-user prompt took the dialog meanwhile
  l.store.AnswerAll();
  EXPECT_TRUE(l.view.filled.empty());
  EXPECT_EQ(l.view.tip, "Asking the desktop's keyring\u2026");

  l.store.available = false;
  l.logins.StepShown("10.0.0.1:4044", true);
  l.store.AnswerAll();
  EXPECT_FALSE(l.view.enabled || l.view.checked || l.view.forget);
  EXPECT_EQ(l.view.tip, "no keyring here");
  // The box could not be unticked: what is kept stays.
  l.logins.Answered("10.0.0.1:4044", "alice", "s3cret", false);
  l.logins.LoginAccepted("10.0.0.1:4044");
  l.store.AnswerAll();
  EXPECT_EQ(l.store.held.size(), 1u);
  EXPECT_EQ(l.logins.KeptLogins().size(), 1u);

  // An answer for a server other than the one shown is not kept, even once that server accepts it.
  l.store.available = true;
  l.logins.StepShown("10.0.0.1:4044", true);
  l.store.AnswerAll();
  l.logins.Answered("10.0.0.2:4044", "carol", "pw", true);
  l.logins.LoginAccepted("10.0.0.2:4044");
  l.store.AnswerAll();
  EXPECT_EQ(l.store.held.count("carol@10.0.0.2:4044"), 0u);
  EXPECT_EQ(l.logins.KeptLogins().count("10.0.0.2:4044"), 0u);
}

}  // namespace
}  // namespace ov
