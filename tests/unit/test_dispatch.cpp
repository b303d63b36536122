// Control message dispatch: each number's effect, the two log lines, and the account range deciphered.
#include <gtest/gtest.h>

#include "tests/common/fakes.h"

namespace ov {
namespace {

using test::FrameOf;
using test::TestClient;

std::vector<std::string> LinesSince(const Client& client, uint64_t mark) {
  const auto& lines = client.Debug().Lines();
  const uint64_t added = client.Debug().TotalAppended() - mark;
  return std::vector<std::string>(lines.end() - static_cast<std::ptrdiff_t>(added), lines.end());
}

std::vector<std::string> SentCodes(TestClient& t, int socket) {
  std::vector<std::string> codes;
  for (const Frame& f : t.SentFrames(socket)) codes.push_back(f.code);
  return codes;
}

TEST(Dispatch, StatusNotesAndMessageBoxesShowTheTextAndLogTwoLines) {
  TestClient t;
  uint64_t mark = t.client.Debug().TotalAppended();
  t.client.Dispatch().DispatchControl(5, 1, "Map changed");
  EXPECT_EQ(t.desktop.Bar(), "Map changed");
  ASSERT_FALSE(t.desktop.timerStarts.empty());
  EXPECT_EQ(t.desktop.timerStarts.back(), 5000);
  EXPECT_EQ(t.desktop.Beeps(), 0);
  EXPECT_EQ(LinesSince(t.client, mark),
            (std::vector<std::string>{"ramsg called code 1 msg: Map changed", "decrypted msg: Map changed"}));

  mark = t.client.Debug().TotalAppended();
  t.client.Dispatch().DispatchControl(5, 3, "Server going down");
  EXPECT_EQ(t.desktop.boxes, std::vector<std::string>{"Server going down"});
  EXPECT_EQ(LinesSince(t.client, mark),
            (std::vector<std::string>{"ramsg called code 3 msg: Server going down",
                                      "decrypted msg: Server going down"}));
}

TEST(Dispatch, MessageBoxesArrivingWhileOneIsUpWaitTheirTurnInsteadOfNesting) {
  TestClient t;
  int depth = 0;
  int deepest = 0;
  t.desktop.onMessageBox = [&] {
    ++depth;
    deepest = std::max(deepest, depth);
    // While the first box is up, the server sends more than the client keeps waiting.
    if (t.desktop.boxes.size() == 1) {
      for (int i = 0; i < 60; ++i) t.client.Dispatch().DispatchControl(5, 3, "again " + std::to_string(i));
    }
    --depth;
  };
  t.client.Dispatch().DispatchControl(5, 3, "first");
  EXPECT_EQ(deepest, 1);
  ASSERT_EQ(t.desktop.boxes.size(), 51u);
  EXPECT_EQ(t.desktop.boxes[0], "first");
  EXPECT_EQ(t.desktop.boxes[1], "again 0");
  EXPECT_EQ(t.desktop.boxes[50], "again 49");
  EXPECT_EQ(t.desktop.Bar(), "Too many messages from the server - some were not shown");

  // Once every box is dismissed, the next message shows at once again.
  t.client.Dispatch().DispatchControl(5, 3, "later");
  EXPECT_EQ(t.desktop.boxes.back(), "later");
}

TEST(Dispatch, BeepCountIsReadFromThePayloadAndBounded) {
  const std::vector<std::pair<std::string, int>> cases = {
      {"3", 3},  {"", 1},  {"x", 1},           {"2x", 1},         {"0", 0},
      {"-4", 0}, {"1", 1}, {"2147483647", 10}, {"99999999999", 1}};
  for (const auto& [payload, beeps] : cases) {
    TestClient t;
    t.client.Dispatch().DispatchControl(5, 2, payload);
    EXPECT_EQ(t.desktop.Beeps(), beeps) << "payload \"" << payload << "\"";
    // The whole message is one request for beeps: a flood is rationed by messages, not within one.
    EXPECT_EQ(t.desktop.beepRequests, beeps > 0 ? 1 : 0) << "payload \"" << payload << "\"";
    EXPECT_TRUE(t.desktop.bar.empty());
  }
  TestClient t;
  t.desktop.allowBeeps = false;
  t.client.Dispatch().DispatchControl(5, 2, "10");
  EXPECT_EQ(t.desktop.Beeps(), 0);
}

TEST(Dispatch, AccountRangeIsDecipheredAndUnlistedNumbersDoNothing) {
  TestClient t;
  const int socket = t.Socket(t.Connect());
  const std::string wire = t.client.Cipher().EncryptMsg("abc");

  uint64_t mark = t.client.Debug().TotalAppended();
  t.client.Dispatch().DispatchControl(socket, 950, wire);
  EXPECT_EQ(LinesSince(t.client, mark),
            (std::vector<std::string>{"ramsg called code 950 msg: " + wire, "decrypted msg: abc"}));

  // The range ends at 998: a 999 is neither deciphered nor acted on.
  mark = t.client.Debug().TotalAppended();
  t.client.Dispatch().DispatchControl(socket, 999, wire);
  EXPECT_EQ(LinesSince(t.client, mark),
            (std::vector<std::string>{"ramsg called code 999 msg: " + wire, "decrypted msg: " + wire}));

  // Plain text behind two other bytes, at both ends of the range.
  mark = t.client.Debug().TotalAppended();
  t.client.Dispatch().DispatchControl(socket, 900 - 1, "..plain");
  t.client.Dispatch().DispatchControl(socket, 998, "..plain");
  EXPECT_EQ(LinesSince(t.client, mark),
            (std::vector<std::string>{"ramsg called code 899 msg: ..plain", "decrypted msg: ..plain",
                                      "ramsg called code 998 msg: ..plain", "decrypted msg: plain"}));

  t.desktop.Clear();
  for (int n : {0, 4, 20, 22, 24, 26, 905, 906, 907, 999, 1000, -1})
    t.client.Dispatch().DispatchControl(socket, n, "1");
  EXPECT_TRUE(t.SentFrames(socket).empty());
  EXPECT_TRUE(t.desktop.bar.empty());
  EXPECT_TRUE(t.desktop.events.empty());
  EXPECT_TRUE(t.desktop.boxes.empty());
  EXPECT_TRUE(t.login.steps.empty());
  EXPECT_EQ(t.tree.nodes.size(), 1u);  // the connection's own node only
}

TEST(Dispatch, Each901FromTheNetworkIsAnsweredWithOneEmpty1020) {
  TestClient t;
  const int socket = t.Socket(t.Connect());
  t.Receive(socket, FrameOf("1901", t.client.Cipher().EncryptMsg("anything at all")));
  auto sent = t.SentFrames(socket);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].code, "1020");
  EXPECT_EQ(sent[0].payload, "");

  t.Receive(socket, FrameOf("1901", ""));
  sent = t.SentFrames(socket);
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[1].code, "1020");
  EXPECT_EQ(sent[1].payload, "");
}

TEST(Dispatch, RegistryMessagesReachTheirOwnHandlers) {
  TestClient t;
  const int slot = t.Connect();
  const int socket = t.Socket(slot);

  t.client.Dispatch().DispatchControl(socket, 21, "v1\x80MyOV");
  EXPECT_EQ(t.tree.Texts(), std::vector<std::string>{"[OV]MyOV"});
  EXPECT_EQ(SentCodes(t, socket), (std::vector<std::string>{"1029", "1022"}));

  t.client.Dispatch().DispatchControl(socket, 31,
                                      "DM\x80"
                                      "CTF");
  EXPECT_EQ(t.client.Sessions().OfferedTypes(slot), (std::vector<std::string>{"DM", "CTF"}));

  // The 24 answers with the 27's own characters, leading zeros included.
  t.client.Dispatch().DispatchControl(socket, 27, "007");
  auto sent = t.SentFrames(socket);
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(sent[2].code, "1024");
  EXPECT_EQ(sent[2].payload, "007");

  const int ovNode = t.tree.top.at(0);
  t.client.Dispatch().DispatchControl(socket, 25,
                                      "7\x80i2\x80"
                                      "Arena");
  EXPECT_EQ(t.tree.Texts(ovNode), std::vector<std::string>{"[G]Arena"});

  t.client.Dispatch().DispatchControl(socket, 28, "7");
  EXPECT_TRUE(t.tree.Texts(ovNode).empty());
}

TEST(Dispatch, LoginRequestsAndPromptNamesOpenTheirPrompts) {
  TestClient t;
  const int socket = t.Socket(t.Connect());
  const MessageCipher& cipher = t.client.Cipher();

  t.AnswerLogin(true, "u", "p");
  t.client.Dispatch().DispatchControl(socket, 900, cipher.EncryptMsg("Welcome to Arena"));
  ASSERT_EQ(t.login.steps.size(), 1u);
  EXPECT_EQ(t.login.steps[0].caption, "Welcome to Arena");
  EXPECT_EQ(t.login.steps[0].label1, "Login:");

  t.AnswerLogin(true, "u", "p");
  t.client.Dispatch().DispatchControl(socket, 902, cipher.EncryptMsg("login"));
  ASSERT_EQ(t.login.steps.size(), 2u);
  EXPECT_EQ(t.login.steps[1].caption, "");
  EXPECT_EQ(t.login.steps[1].label1, "Login:");

  t.AnswerLogin(false, "", "");
  t.client.Dispatch().DispatchControl(socket, 902, cipher.EncryptMsg("chpwd"));
  ASSERT_EQ(t.login.steps.size(), 3u);
  EXPECT_EQ(t.login.steps[2].caption, "Change Password");

  for (const char* other : {"Login", "LOGIN", "login ", "", "newUser"}) {
    t.client.Dispatch().DispatchControl(socket, 902, cipher.EncryptMsg(other));
  }
  EXPECT_EQ(t.login.steps.size(), 3u);
  EXPECT_FALSE(t.login.visible);

  const auto sent = t.SentFrames(socket);
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0].code, "1905");
  EXPECT_EQ(sent[1].code, "1905");
  EXPECT_NE(t.SlotOf(socket), -1);
}

}  // namespace
}  // namespace ov
