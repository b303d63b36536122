// The account prompts: what goes on the wire for every answer, the dialog's steps, and prompts that
// meet each other or lose their connection while they wait.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/common/fakes.h"
#include "wire/payload.h"

namespace ov {
namespace {

using test::FrameOf;
using test::TestClient;

// The frames sent on a socket, their account payloads deciphered as the OV server would.
std::vector<Frame> Deciphered(TestClient& t, int socket) {
  std::vector<Frame> frames = t.SentFrames(socket);
  for (Frame& f : frames) {
    EXPECT_EQ(f.payload.substr(0, 2), "\x07\x05") << f.code;
    f.payload = t.client.Cipher().DecryptMsg(f.payload);
  }
  return frames;
}

// A connected OV server with its console window, as after its information message.
int ConnectedOV(TestClient& t, const std::string& name, int port = 4044) {
  const int socket = t.Socket(t.Connect("127.0.0.1", port));
  t.client.Dispatch().DispatchControl(socket, 21, "v1\x80" + name);
  t.sockets.sockets.at(socket).sent.clear();
  return socket;
}

std::string ConsoleText(TestClient& t, int socket) {
  const Console* window = t.Window(t.SlotOf(socket));
  return window == nullptr ? std::string() : window->log.Text();
}

TEST(AccountPrompt, LoginSendsNameAndPasswordAtFixedWidths) {
  TestClient t;
  const int socket = ConnectedOV(t, "Arena");
  t.AnswerLogin(true, "administrator", "a password longer than sixteen");
  t.client.Prompts().AccountPrompt(socket, "login", "Arena login");

  ASSERT_EQ(t.login.steps.size(), 1u);
  EXPECT_EQ(t.login.steps[0].caption, "Arena login");
  EXPECT_FALSE(t.login.visible);
  EXPECT_EQ(t.client.Prompts().PWResult(), 1);

  auto sent = Deciphered(t, socket);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].code, "1905");
  EXPECT_EQ(sent[0].payload, "administa password longe");

  // Short and empty fields are sent as blanks.
  t.AnswerLogin(true, "bob", "");
  t.client.Prompts().AccountPrompt(socket, "login", "");
  sent = Deciphered(t, socket);
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[1].payload, "bob     " + std::string(16, ' '));
  EXPECT_NE(t.SlotOf(socket), -1);
}

TEST(AccountPrompt, CancelOrCloseBoxAtLoginClosesTheConnection) {
  for (const bool closeBox : {false, true}) {
    TestClient t;
    const int socket = ConnectedOV(t, "Arena");
    ASSERT_EQ(t.tree.Texts().size(), 1u);
    t.desktop.Clear();
    if (closeBox) {
      t.loop.After(1, [&] { t.client.Prompts().Dismiss(); });
    } else {
      t.AnswerLogin(false, "typed", "but cancelled");
    }
    t.client.Prompts().AccountPrompt(socket, "login", "Arena");

    EXPECT_EQ(t.client.Prompts().PWResult(), 2);
    EXPECT_TRUE(t.SentFrames(socket).empty());
    EXPECT_EQ(t.sockets.closed, std::vector<int>{socket});
    EXPECT_EQ(t.SlotOf(socket), -1);
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
    t.client.Prompts().AccountPrompt(socket, "newuser", "");

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
  const uint64_t mark = t.client.Debug().TotalAppended();
  t.AnswerLogin(true, "alice", "oldpass");
  t.AnswerLogin(true, "newpass", "newpass", 2);
  t.client.Prompts().AccountPrompt(socket, "chpwd", "");

  ASSERT_EQ(t.login.steps.size(), 2u);
  auto sent = Deciphered(t, socket);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].code, "1907");
  EXPECT_EQ(sent[0].payload, "alice   oldpass         newpass         ");

  const auto& lines = t.client.Debug().Lines();
  ASSERT_GT(t.client.Debug().TotalAppended(), mark);
  bool found = false;
  for (auto it = lines.end() - static_cast<std::ptrdiff_t>(t.client.Debug().TotalAppended() - mark);
       it != lines.end(); ++it) {
    EXPECT_EQ(it->find("oldpass"), std::string::npos) << *it;
    EXPECT_EQ(it->find("newpass"), std::string::npos) << *it;
    if (*it == "[alice   " + std::string(32, '*') + "]") found = true;
  }
  EXPECT_TRUE(found);

  // Differing new passwords: reported in the OV server's console, nothing sent.
  t.AnswerLogin(true, "alice", "oldpass");
  t.AnswerLogin(true, "newpass", "newpas", 2);
  t.client.Prompts().AccountPrompt(socket, "chpwd", "");
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
      t.client.Prompts().AccountPrompt(socket, kind, "");

      EXPECT_EQ(t.login.steps.size(), static_cast<size_t>(cancelAt)) << kind;
      EXPECT_TRUE(t.SentFrames(socket).empty()) << kind;
      EXPECT_TRUE(t.sockets.closed.empty()) << kind;
      EXPECT_NE(t.SlotOf(socket), -1) << kind;
      EXPECT_EQ(ConsoleText(t, socket), consoleBefore) << kind;
      EXPECT_FALSE(t.login.visible);
    }
  }
}

TEST(AccountPrompt, ASecondPromptWaitsItsTurnAndEachAnswerGoesToTheServerItNames) {
  TestClient t;
  const int s1 = ConnectedOV(t, "One", 4044);
  const int s2 = ConnectedOV(t, "Two", 5000);

  // The user is typing One's password when Two asks with One's very caption: the dialog stays One's,
  // with what was typed; Two's prompt comes once One's is answered, and names the server that asks.
  t.loop.After(1, [&] {
    t.login.field1 = "one";
    t.login.field2 = "onepw";
    t.Receive(s2, FrameOf("1900", t.client.Cipher().EncryptMsg("One's login")));
  });
  t.loop.After(2, [&] {
    EXPECT_EQ(t.login.steps.size(), 1u);
    EXPECT_EQ(t.login.field2, "onepw");
    EXPECT_EQ(t.client.Prompts().PWResult(), 0);
    t.client.Prompts().Answer();
  });
  t.loop.After(3, [&] {
    // One's answer has gone already, though Two's prompt still waits (in a wait nested in One's).
    EXPECT_EQ(Deciphered(t, s1).size(), 1u);
    ASSERT_EQ(t.login.steps.size(), 2u);
    EXPECT_EQ(t.login.steps[1].caption, "One's login");
    EXPECT_EQ(t.login.steps[0].server, "127.0.0.1:4044");
    EXPECT_EQ(t.login.steps[1].server, "127.0.0.1:5000");
    EXPECT_EQ(t.login.Field1(), "");
    EXPECT_TRUE(t.login.visible);
  });
  t.AnswerLogin(true, "two", "twopw", 4);
  t.client.Prompts().AccountPrompt(s1, "login", "One's login");

  auto one = Deciphered(t, s1);
  ASSERT_EQ(one.size(), 1u);
  EXPECT_EQ(one[0].payload, "one     onepw           ");
  auto two = Deciphered(t, s2);
  ASSERT_EQ(two.size(), 1u);
  EXPECT_EQ(two[0].payload, "two     twopw           ");
  EXPECT_FALSE(t.login.visible);

  // A two-step prompt answered at its first step waits behind the one that came meanwhile, then asks
  // its second step.
  t.login.steps.clear();
  t.loop.After(1, [&] { t.Receive(s2, FrameOf("1900", t.client.Cipher().EncryptMsg("Two"))); });
  t.AnswerLogin(true, "newbie", "secret", 2);
  t.AnswerLogin(true, "two", "later", 3);
  t.AnswerLogin(true, "secret", "", 4);
  t.client.Prompts().AccountPrompt(s1, "newuser", "");
  ASSERT_EQ(t.login.steps.size(), 3u);
  EXPECT_EQ(t.login.steps[1].caption, "Two");
  EXPECT_EQ(t.login.steps[2].label1, "Confirm new user Password:");
  one = Deciphered(t, s1);
  ASSERT_EQ(one.size(), 2u);
  EXPECT_EQ(one[1].payload, "newbie  secret          ");
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
  // refused at once, without a step of its own. Two's request waits its turn.
  t.loop.After(1, [&] {
    t.Receive(s1, FrameOf("1900", t.client.Cipher().EncryptMsg("One again")) +
                      FrameOf("1902", t.client.Cipher().EncryptMsg("newuser")) +
                      FrameOf("1902", t.client.Cipher().EncryptMsg("chpwd")));
  });
  t.loop.After(2, [&] {
    EXPECT_EQ(std::count(t.desktop.bar.begin(), t.desktop.bar.end(), refused), 3);
    EXPECT_EQ(t.desktop.Beeps(), 3);
    EXPECT_EQ(t.login.steps.size(), 1u);
    t.Receive(s2, FrameOf("1900", t.client.Cipher().EncryptMsg("Two")));
  });
  t.loop.After(3, [&] {
    // Two asking again while its own prompt waits is refused too.
    t.Receive(s2, FrameOf("1900", t.client.Cipher().EncryptMsg("Two again")));
  });
  t.AnswerLogin(true, "one", "pw1", 4);
  t.AnswerLogin(true, "two", "pw2", 5);
  t.client.Prompts().AccountPrompt(s1, "login", "One");

  EXPECT_EQ(std::count(t.desktop.bar.begin(), t.desktop.bar.end(), refused), 4);
  ASSERT_EQ(t.login.steps.size(), 2u);
  EXPECT_EQ(t.login.steps[1].caption, "Two");
  const auto one = Deciphered(t, s1);
  ASSERT_EQ(one.size(), 1u);
  EXPECT_EQ(one[0].payload, "one     pw1             ");
  ASSERT_EQ(Deciphered(t, s2).size(), 1u);

  // Requests that came in the same read as a prompt are handled once it has ended: each is asked in
  // its turn, none refused.
  t.desktop.Clear();
  t.AnswerLogin(true, "one", "pw3", 1);
  t.AnswerLogin(true, "one", "pw4", 2);
  t.Receive(s1, FrameOf("1900", t.client.Cipher().EncryptMsg("First")) +
                    FrameOf("1900", t.client.Cipher().EncryptMsg("Second")));
  EXPECT_EQ(std::count(t.desktop.bar.begin(), t.desktop.bar.end(), refused), 0);
  ASSERT_EQ(t.login.steps.size(), 4u);
  EXPECT_EQ(t.login.steps[3].caption, "Second");
  ASSERT_EQ(Deciphered(t, s1).size(), 3u);
  EXPECT_EQ(Deciphered(t, s1)[2].payload, "one     pw4             ");
}

TEST(AccountPrompt, BeyondTwentyWaitingPromptsOneIsRefusedWithANote) {
  // Twenty servers ask at once; the first closes, and its prompt stays in the list until the waits
  // nested in its own end. The server that takes the freed slot is refused, not stacked.
  TestClient t;
  std::vector<int> sockets;
  for (int i = 0; i < kSlotCount - 1; ++i) sockets.push_back(ConnectedOV(t, "S" + std::to_string(i)));
  for (int i = 1; i < kSlotCount - 1; ++i) {
    t.loop.After(i, [&, i] {
      t.Receive(sockets[size_t(i)], FrameOf("1900", t.client.Cipher().EncryptMsg("S" + std::to_string(i))));
    });
  }
  int late = -1;
  t.loop.After(kSlotCount, [&] {
    EXPECT_EQ(t.login.steps.size(), 1u);
    t.sockets.Post(sockets[0], kFdClose);
  });
  t.loop.After(kSlotCount + 1, [&] {
    late = ConnectedOV(t, "Late");
    t.Receive(late, FrameOf("1900", t.client.Cipher().EncryptMsg("Late")));
    EXPECT_EQ(t.desktop.bar.back(), "Too many account prompts waiting - one was refused");
  });
  for (int i = 1; i < kSlotCount - 1; ++i)
    t.AnswerLogin(true, "u" + std::to_string(i), "pw", kSlotCount + 1 + i);
  t.client.Prompts().AccountPrompt(sockets[0], "login", "S0");

  // The dialog went from the closed server to the next, and every answer reached its own server.
  ASSERT_EQ(t.login.steps.size(), size_t(kSlotCount - 1));
  EXPECT_TRUE(t.SentFrames(sockets[0]).empty());
  for (int i = 1; i < kSlotCount - 1; ++i) {
    const auto sent = Deciphered(t, sockets[size_t(i)]);
    ASSERT_EQ(sent.size(), 1u) << i;
    EXPECT_EQ(sent[0].payload, PadTo8("u" + std::to_string(i)) + PadTo16("pw"));
  }
  ASSERT_NE(late, -1);
  EXPECT_TRUE(t.SentFrames(late).empty());
  EXPECT_FALSE(t.login.visible);
}

TEST(AccountPrompt, APromptWhoseConnectionClosedEndsWithoutSending) {
  // The OV server closes the connection while its login is on screen.
  {
    TestClient t;
    const int s1 = ConnectedOV(t, "One");
    t.loop.After(1, [&] { t.sockets.Post(s1, kFdClose); });
    t.AnswerLogin(true, "late", "answer", 50);  // the user answers after the close
    t.client.Prompts().AccountPrompt(s1, "login", "One");
    EXPECT_EQ(t.SlotOf(s1), -1);
    EXPECT_TRUE(t.SentFrames(s1).empty());
    EXPECT_EQ(t.sockets.closed, std::vector<int>{s1});
    EXPECT_FALSE(t.login.visible);
  }
  // One's connection closes while its login is on screen and Two's waits: the dialog goes to Two at
  // once, and hides after it.
  {
    TestClient t;
    const int s1 = ConnectedOV(t, "One");
    const int s2 = ConnectedOV(t, "Two");
    t.loop.After(1, [&] { t.Receive(s2, FrameOf("1900", t.client.Cipher().EncryptMsg("Two"))); });
    t.loop.After(2, [&] { t.sockets.Post(s1, kFdClose); });
    t.AnswerLogin(true, "two", "pw", 3);
    t.client.Prompts().AccountPrompt(s1, "login", "One");
    EXPECT_EQ(t.login.steps.size(), 2u);
    EXPECT_TRUE(t.SentFrames(s1).empty());
    ASSERT_EQ(Deciphered(t, s2).size(), 1u);
    EXPECT_FALSE(t.login.visible);
  }
  // Two's connection closes while Two's prompt waits its turn: One's dialog is not touched, and Two is
  // never asked.
  {
    TestClient t;
    const int s1 = ConnectedOV(t, "One");
    const int s2 = ConnectedOV(t, "Two");
    t.loop.After(1, [&] { t.login.field1 = "one"; });
    t.loop.After(2, [&] { t.Receive(s2, FrameOf("1902", t.client.Cipher().EncryptMsg("chpwd"))); });
    t.loop.After(3, [&] { t.sockets.Post(s2, kFdClose); });
    t.loop.After(4, [&] {
      t.login.field2 = "pw";
      t.client.Prompts().Answer();
    });
    t.client.Prompts().AccountPrompt(s1, "login", "One");
    ASSERT_EQ(t.login.steps.size(), 1u);
    EXPECT_TRUE(t.SentFrames(s2).empty());
    const auto one = Deciphered(t, s1);
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(one[0].payload, "one     pw              ");
  }
  // A prompt for a connection that is already gone shows nothing.
  {
    TestClient t;
    const int s1 = ConnectedOV(t, "One");
    t.client.Connections().Disconnect(t.SlotOf(s1), 1);
    t.client.Prompts().AccountPrompt(s1, "login", "One");
    EXPECT_TRUE(t.login.steps.empty());
  }
}

TEST(AccountPrompt, AServerOnAClosedOnesSocketNumberIsAskedAsANewServer) {
  // One closes while its login waits under Two's; Three then gets One's socket number and asks. Three's
  // prompt is its own: not refused as One's, and One's dead step is never shown again.
  TestClient t;
  t.sockets.reuseHandles = true;
  const int s1 = ConnectedOV(t, "One");
  const int s2 = ConnectedOV(t, "Two", 5000);
  int s3 = -1;
  t.loop.After(1, [&] { t.Receive(s2, FrameOf("1900", t.client.Cipher().EncryptMsg("Two"))); });
  t.loop.After(2, [&] {
    t.sockets.Post(s1, kFdClose);
    t.loop.After(1, [&] {
      s3 = ConnectedOV(t, "Three", 6000);
      t.Receive(s3, FrameOf("1900", t.client.Cipher().EncryptMsg("Three")));
    });
  });
  t.AnswerLogin(true, "two", "pw2", 4);
  t.AnswerLogin(true, "three", "pw3", 30);  // after Three's connect wait
  t.client.Prompts().AccountPrompt(s1, "login", "One");

  ASSERT_EQ(s3, s1);
  EXPECT_EQ(std::count(t.desktop.bar.begin(), t.desktop.bar.end(),
                       "Account prompt refused - the server already has one waiting"),
            0);
  std::vector<std::string> captions;
  for (const LoginStep& step : t.login.steps) captions.push_back(step.caption);
  EXPECT_EQ(captions, (std::vector<std::string>{"One", "Two", "Three"}));
  const auto three = Deciphered(t, s3);
  ASSERT_EQ(three.size(), 1u);
  EXPECT_EQ(three[0].payload, "three   pw3             ");
  EXPECT_FALSE(t.login.visible);
}

}  // namespace
}  // namespace ov
