// The account prompts: what goes on the wire for every answer, the dialog's steps, and prompts that
// meet each other or lose their connection while they wait.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/common/fakes.h"

namespace ov {
namespace {

using test::FrameOf;
using test::TestClient;

// The frames sent on a socket, their account payloads deciphered as the OV server would.
std::vector<Frame> Deciphered(TestClient& t, int socket) {
  std::vector<Frame> frames = t.SentFrames(socket);
  for (Frame& f : frames) {
    EXPECT_EQ(f.payload.substr(0, 2), "\x07\x05") << f.code;
    f.payload = t.client.cipher.DecryptMsg(f.payload);
  }
  return frames;
}

// A connected OV server with its console window, as after its information message.
int ConnectedOV(TestClient& t, const std::string& name) {
  const int socket = t.Socket(t.Connect());
  t.client.dispatch.DispatchControl(socket, 21, "v1\x80" + name);
  t.sockets.sockets.at(socket).sent.clear();
  return socket;
}

std::string ConsoleText(TestClient& t, int socket) {
  const int slot = t.client.tables.LiveSlot(socket);
  return slot == -1 || t.client.tables.OVServers[slot].Window == nullptr
             ? std::string()
             : t.client.tables.OVServers[slot].Window->log.Text();
}

TEST(AccountPrompt, LoginSendsNameAndPasswordAtFixedWidths) {
  TestClient t;
  const int socket = ConnectedOV(t, "Arena");
  t.AnswerLogin(true, "administrator", "a password longer than sixteen");
  t.client.prompts.AccountPrompt(socket, "login", "Arena login");

  ASSERT_EQ(t.login.steps.size(), 1u);
  EXPECT_EQ(t.login.steps[0].caption, "Arena login");
  EXPECT_FALSE(t.login.visible);
  EXPECT_EQ(t.client.prompts.PWResult(), 1);

  auto sent = Deciphered(t, socket);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].code, "1905");
  EXPECT_EQ(sent[0].payload, "administa password longe");

  // Short and empty fields are sent as blanks.
  t.AnswerLogin(true, "bob", "");
  t.client.prompts.AccountPrompt(socket, "login", "");
  sent = Deciphered(t, socket);
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[1].payload, "bob     " + std::string(16, ' '));
  EXPECT_EQ(t.client.tables.LiveSlot(socket), t.client.tables.FindBySocket(socket));
}

TEST(AccountPrompt, CancelOrCloseBoxAtLoginClosesTheConnection) {
  for (const bool closeBox : {false, true}) {
    TestClient t;
    const int socket = ConnectedOV(t, "Arena");
    ASSERT_EQ(t.tree.Texts().size(), 1u);
    t.desktop.Clear();
    if (closeBox) {
      t.loop.After(1, [&] { t.client.prompts.Dismiss(); });
    } else {
      t.AnswerLogin(false, "typed", "but cancelled");
    }
    t.client.prompts.AccountPrompt(socket, "login", "Arena");

    EXPECT_EQ(t.client.prompts.PWResult(), 2);
    EXPECT_TRUE(t.SentFrames(socket).empty());
    EXPECT_EQ(t.sockets.closed, std::vector<int>{socket});
    EXPECT_EQ(t.client.tables.LiveSlot(socket), -1);
    EXPECT_TRUE(t.tree.Texts().empty());
    EXPECT_FALSE(t.login.visible);
    // The user chose to go: no note of its own, and nothing that a closing connection would report.
    EXPECT_TRUE(t.desktop.bar.empty()) << t.desktop.Bar();
    EXPECT_EQ(t.desktop.Beeps(), 0);
  }
}

TEST(AccountPrompt, NewUserSendsOnlyWhenBothPasswordsAgree) {
  struct Case {
    std::string password, confirmation;
    std::string sent;  // the 906's payload, empty when none may go out
  };
  const std::vector<Case> cases = {
      {"secret", "secret", "newbie  secret          "},
      {"secret", "secret  ", "newbie  secret          "},  // trailing blanks pad away
      {"0123456789abcdefXYZ", "0123456789abcdef-other", "newbie  0123456789abcdef"},  // compared as sent
      {"secret", "Secret", ""},
      {"secret", "", ""},
  };
  for (const Case& c : cases) {
    TestClient t;
    const int socket = ConnectedOV(t, "Arena");
    t.AnswerLogin(true, "newbie", c.password);
    t.AnswerLogin(true, c.confirmation, "ignored", 2);
    t.client.prompts.AccountPrompt(socket, "newuser", "");

    ASSERT_EQ(t.login.steps.size(), 2u);

    const auto sent = Deciphered(t, socket);
    if (!c.sent.empty()) {
      ASSERT_EQ(sent.size(), 1u) << c.password;
      EXPECT_EQ(sent[0].code, "1906");
      EXPECT_EQ(sent[0].payload, c.sent);
      EXPECT_EQ(ConsoleText(t, socket).find("NewUser error"), std::string::npos);
    } else {
      EXPECT_TRUE(sent.empty()) << c.password;
      const std::string text = ConsoleText(t, socket);
      const std::string report = "\r\nNewUser error - passwords do not match";
      ASSERT_GE(text.size(), report.size());
      EXPECT_EQ(text.substr(text.size() - report.size()), report);
    }
    EXPECT_FALSE(t.login.visible);
  }
}

TEST(AccountPrompt, ChangePasswordSendsFortyCharactersAndLogsNoPassword) {
  TestClient t;
  const int socket = ConnectedOV(t, "Arena");
  const uint64_t mark = t.client.debug.TotalAppended();
  t.AnswerLogin(true, "alice", "oldpass");
  t.AnswerLogin(true, "newpass", "newpass", 2);
  t.client.prompts.AccountPrompt(socket, "chpwd", "");

  ASSERT_EQ(t.login.steps.size(), 2u);
  auto sent = Deciphered(t, socket);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].code, "1907");
  EXPECT_EQ(sent[0].payload, "alice   oldpass         newpass         ");

  const auto& lines = t.client.debug.Lines();
  ASSERT_GT(t.client.debug.TotalAppended(), mark);
  bool found = false;
  for (auto it = lines.end() - static_cast<std::ptrdiff_t>(t.client.debug.TotalAppended() - mark);
       it != lines.end(); ++it) {
    EXPECT_EQ(it->find("oldpass"), std::string::npos) << *it;
    EXPECT_EQ(it->find("newpass"), std::string::npos) << *it;
    if (*it == "[alice   " + std::string(32, '*') + "]") found = true;
  }
  EXPECT_TRUE(found);

  // Differing new passwords: reported in the OV server's console, nothing sent.
  t.AnswerLogin(true, "alice", "oldpass");
  t.AnswerLogin(true, "newpass", "newpas", 2);
  t.client.prompts.AccountPrompt(socket, "chpwd", "");
  EXPECT_EQ(Deciphered(t, socket).size(), 1u);
  const std::string text = ConsoleText(t, socket);
  const std::string report = "\r\nChPwd error - new passwords do not match";
  ASSERT_GE(text.size(), report.size());
  EXPECT_EQ(text.substr(text.size() - report.size()), report);
}

TEST(AccountPrompt, CancelInNewUserOrChangePasswordSendsAndReportsNothing) {
  for (const char* kind : {"newuser", "chpwd"}) {
    for (int cancelAt = 1; cancelAt <= 2; ++cancelAt) {
      TestClient t;
      const int socket = ConnectedOV(t, "Arena");
      const std::string consoleBefore = ConsoleText(t, socket);
      if (cancelAt == 2) t.AnswerLogin(true, "alice", "pw");
      t.AnswerLogin(false, "x", "x", cancelAt);
      t.client.prompts.AccountPrompt(socket, kind, "");

      EXPECT_EQ(t.login.steps.size(), static_cast<size_t>(cancelAt)) << kind;
      EXPECT_TRUE(t.SentFrames(socket).empty()) << kind;
      EXPECT_TRUE(t.sockets.closed.empty()) << kind;
      EXPECT_NE(t.client.tables.LiveSlot(socket), -1) << kind;
      EXPECT_EQ(ConsoleText(t, socket), consoleBefore) << kind;
      EXPECT_FALSE(t.login.visible);
    }
  }
}

TEST(AccountPrompt, ASecondPromptTakesTheDialogOverAndGivesItBack) {
  TestClient t;
  const int s1 = ConnectedOV(t, "One");
  const int s2 = ConnectedOV(t, "Two");

  // While One's login waits, Two asks for a new user; the user answers Two, then One afresh.
  t.loop.After(1, [&] { t.Receive(s2, FrameOf("1902", t.client.cipher.EncryptMsg("newuser"))); });
  t.AnswerLogin(true, "two", "twopw", 2);
  t.AnswerLogin(true, "twopw", "", 3);
  t.loop.After(4, [&] {
    // One's step is back, emptied: nothing typed for Two is left in it.
    ASSERT_EQ(t.login.steps.size(), 4u);
    EXPECT_EQ(t.login.steps[3].caption, "One's login");
    EXPECT_EQ(t.login.steps[3].label1, "Login:");
    EXPECT_TRUE(t.login.steps[3].secondVisible);
    EXPECT_EQ(t.login.Field1(), "");
    EXPECT_TRUE(t.login.visible);
    EXPECT_EQ(t.client.prompts.PWResult(), 0);
  });
  t.AnswerLogin(true, "one", "onepw", 5);
  t.client.prompts.AccountPrompt(s1, "login", "One's login");

  auto one = Deciphered(t, s1);
  ASSERT_EQ(one.size(), 1u);
  EXPECT_EQ(one[0].code, "1905");
  EXPECT_EQ(one[0].payload, "one     onepw           ");
  auto two = Deciphered(t, s2);
  ASSERT_EQ(two.size(), 1u);
  EXPECT_EQ(two[0].code, "1906");
  EXPECT_EQ(two[0].payload, "two     twopw           ");
  EXPECT_FALSE(t.login.visible);

  // One answers, and in the same moment Two asks again: One keeps what was typed for it and is not
  // asked twice; Two's answer goes to Two only.
  t.login.steps.clear();
  t.AnswerLogin(true, "one", "again", 1);
  t.loop.After(1, [&] { t.Receive(s2, FrameOf("1900", t.client.cipher.EncryptMsg("Two"))); });
  t.AnswerLogin(true, "two", "later", 2);
  t.client.prompts.AccountPrompt(s1, "login", "One");
  EXPECT_EQ(t.login.steps.size(), 2u);
  one = Deciphered(t, s1);
  ASSERT_EQ(one.size(), 2u);
  EXPECT_EQ(one[1].payload, "one     again           ");
  two = Deciphered(t, s2);
  ASSERT_EQ(two.size(), 2u);
  EXPECT_EQ(two[1].payload, "two     later           ");
  EXPECT_FALSE(t.login.visible);
}

TEST(AccountPrompt, AServerAskingAgainWhileItsPromptWaitsIsRefusedWithANote) {
  TestClient t;
  const int s1 = ConnectedOV(t, "One");
  const int s2 = ConnectedOV(t, "Two");
  const std::string refused = "Account prompt refused - the server already has one waiting";
  // While One's login waits, One asks for a login, a new user and a password change again: each is
  // refused at once, without a step of its own. Two still takes the dialog over as before.
  t.loop.After(1, [&] {
    t.Receive(s1, FrameOf("1900", t.client.cipher.EncryptMsg("One again")) +
                      FrameOf("1902", t.client.cipher.EncryptMsg("newuser")) +
                      FrameOf("1902", t.client.cipher.EncryptMsg("chpwd")));
  });
  t.loop.After(2, [&] {
    EXPECT_EQ(std::count(t.desktop.bar.begin(), t.desktop.bar.end(), refused), 3);
    EXPECT_EQ(t.desktop.Beeps(), 3);
    EXPECT_EQ(t.login.steps.size(), 1u);
    t.Receive(s2, FrameOf("1900", t.client.cipher.EncryptMsg("Two")));
  });
  t.loop.After(3, [&] {
    // Two asking again while its own prompt is on screen is refused too.
    t.Receive(s2, FrameOf("1900", t.client.cipher.EncryptMsg("Two again")));
  });
  t.AnswerLogin(true, "two", "pw2", 4);
  t.AnswerLogin(true, "one", "pw1", 5);
  t.client.prompts.AccountPrompt(s1, "login", "One");

  EXPECT_EQ(std::count(t.desktop.bar.begin(), t.desktop.bar.end(), refused), 4);
  ASSERT_EQ(t.login.steps.size(), 3u);
  EXPECT_EQ(t.login.steps[1].caption, "Two");
  EXPECT_EQ(t.login.steps[2].caption, "One");
  const auto one = Deciphered(t, s1);
  ASSERT_EQ(one.size(), 1u);
  EXPECT_EQ(one[0].payload, "one     pw1             ");
  ASSERT_EQ(Deciphered(t, s2).size(), 1u);

  // Once its prompt has ended, the server may ask again.
  t.AnswerLogin(true, "one", "pw3");
  t.client.prompts.AccountPrompt(s1, "login", "One once more");
  EXPECT_EQ(Deciphered(t, s1).size(), 2u);
}

TEST(AccountPrompt, APromptWhoseConnectionClosedEndsWithoutSending) {
  // The OV server closes the connection while its login is on screen.
  {
    TestClient t;
    const int s1 = ConnectedOV(t, "One");
    t.loop.After(1, [&] { t.sockets.Post(s1, kFdClose); });
    t.AnswerLogin(true, "late", "answer", 50);  // the user answers after the close
    t.client.prompts.AccountPrompt(s1, "login", "One");
    EXPECT_EQ(t.client.tables.LiveSlot(s1), -1);
    EXPECT_TRUE(t.SentFrames(s1).empty());
    EXPECT_EQ(t.sockets.closed, std::vector<int>{s1});
    EXPECT_FALSE(t.login.visible);
  }
  // One's connection closes while Two has the dialog: after Two, the dialog hides instead of asking
  // for One.
  {
    TestClient t;
    const int s1 = ConnectedOV(t, "One");
    const int s2 = ConnectedOV(t, "Two");
    t.loop.After(1, [&] { t.Receive(s2, FrameOf("1900", t.client.cipher.EncryptMsg("Two"))); });
    t.loop.After(2, [&] { t.sockets.Post(s1, kFdClose); });
    t.AnswerLogin(true, "two", "pw", 3);
    t.client.prompts.AccountPrompt(s1, "login", "One");
    EXPECT_EQ(t.login.steps.size(), 2u);
    EXPECT_TRUE(t.SentFrames(s1).empty());
    ASSERT_EQ(Deciphered(t, s2).size(), 1u);
    EXPECT_FALSE(t.login.visible);
  }
  // Two's connection closes while Two has the dialog: One's step comes back and One goes on.
  {
    TestClient t;
    const int s1 = ConnectedOV(t, "One");
    const int s2 = ConnectedOV(t, "Two");
    t.loop.After(1, [&] { t.Receive(s2, FrameOf("1902", t.client.cipher.EncryptMsg("chpwd"))); });
    t.loop.After(2, [&] { t.sockets.Post(s2, kFdClose); });
    t.AnswerLogin(true, "one", "pw", 3);
    t.client.prompts.AccountPrompt(s1, "login", "One");
    ASSERT_EQ(t.login.steps.size(), 3u);
    EXPECT_EQ(t.login.steps[2].caption, "One");
    EXPECT_TRUE(t.SentFrames(s2).empty());
    const auto one = Deciphered(t, s1);
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(one[0].payload, "one     pw              ");
  }
  // A prompt for a connection that is already gone shows nothing.
  {
    TestClient t;
    const int s1 = ConnectedOV(t, "One");
    t.client.connections.Disconnect(t.client.tables.LiveSlot(s1), 1);
    t.client.prompts.AccountPrompt(s1, "login", "One");
    EXPECT_TRUE(t.login.steps.empty());
  }
}

}  // namespace
}  // namespace ov
