// The start-server dialog's rules: the host list, the type list and the start request 26.
#include <gtest/gtest.h>

#include "tests/fakes.h"

namespace ov {
namespace {

using test::FrameOf;
using test::TestClient;

const std::string kSep(1, '\x80');

std::vector<std::string> Sent(TestClient& t, int socket) {
  std::vector<std::string> out;
  for (const Frame& f : t.SentFrames(socket)) out.push_back(f.code + " " + f.payload);
  return out;
}

TEST(StartServer, PayloadHasATitleFieldOnlyWhenATitleIsGiven) {
  EXPECT_EQ(BuildStartPayload("dm", "", "+map e1m1"), "dm" + kSep + "+map e1m1");
  EXPECT_EQ(BuildStartPayload("dm", "Duel", "+map e1m1"), "dm" + kSep + "Duel" + kSep + "+map e1m1");
  EXPECT_EQ(BuildStartPayload("dm", "", "+map e1m1\r\n+skill 2"), "dm" + kSep + "+map e1m1\r\n+skill 2");
  EXPECT_EQ(BuildStartPayload("dm", "", ""), "dm" + kSep);
  // A separator typed into a field goes out unchanged.
  EXPECT_EQ(BuildStartPayload("dm", "a" + kSep + "b", ""), "dm" + kSep + "a" + kSep + "b" + kSep);
}

TEST(StartServer, HostListHoldsTheSlotsInUseInOrder) {
  TestClient t;
  auto& ov = t.client.tables.OVServers;
  EXPECT_TRUE(t.client.start.RefillHosts().empty());
  for (int slot : t.client.start.HostSlots()) EXPECT_EQ(slot, -1);

  ov[5].InUse = 1;
  ov[5].Name = "five";
  ov[2].InUse = 1;
  ov[2].Name = "two";
  ov[3].Name = "not in use";
  EXPECT_EQ(t.client.start.RefillHosts(), (std::vector<std::string>{"two", "five"}));
  const auto& slots = t.client.start.HostSlots();
  EXPECT_EQ(slots[0], 2);
  EXPECT_EQ(slots[1], 5);
  for (size_t i = 2; i < slots.size(); ++i) EXPECT_EQ(slots[i], -1);

  // Rebuilt at every opening: a slot that has gone leaves no stale line behind.
  ov[2].InUse = 0;
  ov[7].InUse = 1;  // its information has not arrived yet: listed with an empty name
  EXPECT_EQ(t.client.start.RefillHosts(), (std::vector<std::string>{"five", ""}));
  EXPECT_EQ(slots[0], 5);
  EXPECT_EQ(slots[1], 7);
  EXPECT_EQ(slots[2], -1);
}

TEST(StartServer, TypeListSkipsEmptyEntries) {
  TestClient t;
  auto& ov = t.client.tables.OVServers[4];
  ov.InUse = 1;
  ov.Types[0].TypeName = "dm";
  ov.Types[2].TypeName = "ctf";
  t.client.start.RefillHosts();
  EXPECT_EQ(t.client.start.TypesForHost(0), (std::vector<std::string>{"dm", "ctf"}));
  EXPECT_TRUE(t.client.start.TypesForHost(1).empty());  // no such line
  EXPECT_TRUE(t.client.start.TypesForHost(-1).empty());
}

TEST(StartServer, GoRefusesWithoutHostOrTypeAndSendsOtherwise) {
  TestClient t;
  const int slot = t.Connect();
  const int socket = t.Socket(slot);
  t.Receive(socket, FrameOf("1021", "i" + kSep + "alpha"));
  t.sockets.sockets.at(socket).sent.clear();
  t.client.start.RefillHosts();

  struct Refusal {
    int host, type;
    std::string typeText, bar;
    int ms;
  };
  for (const Refusal& r : {Refusal{-1, -1, "dm", "START ERROR: Host or Type not selected", 3000},
                           Refusal{0, -1, "dm", "START ERROR: Host or Type not selected", 3000},
                           Refusal{-1, 0, "dm", "START ERROR: Host or Type not selected", 3000},
                           Refusal{1, 0, "dm", "START ERROR: Host or Type not selected", 3000},
                           Refusal{0, 0, "", "START ERROR: Couldn't start - invalid servertype", 2000}}) {
    t.desktop.Clear();
    EXPECT_EQ(t.client.start.Go(r.host, r.type, r.typeText, "", "+map e1m1"), -1);
    EXPECT_EQ(t.desktop.Bar(), r.bar);
    EXPECT_EQ(t.desktop.timerStarts.back(), r.ms);
    EXPECT_EQ(t.desktop.Beeps(), 1);
  }
  EXPECT_TRUE(Sent(t, socket).empty());

  EXPECT_EQ(t.client.start.Go(0, 0, "dm", "Duel", "+map e1m1\r\n+fraglimit 10"), 1);
  EXPECT_EQ(Sent(t, socket),
            std::vector<std::string>{"1026 dm" + kSep + "Duel" + kSep + "+map e1m1\r\n+fraglimit 10"});
}

TEST(StartServer, RequestNeverGoesToAConnectionThatTookTheChosenSlotLater) {
  TestClient t;
  const int slot = t.Connect();
  const int first = t.Socket(slot);
  t.client.start.RefillHosts();  // the dialog opens, listing the first connection
  t.client.connections.Disconnect(slot, 1);
  ASSERT_EQ(t.Connect(), slot);  // a new connection takes the same slot while the dialog is open
  const int second = t.Socket(slot);
  ASSERT_NE(first, second);
  t.sockets.sockets.at(second).sent.clear();
  EXPECT_EQ(t.client.start.Go(0, 0, "dm", "", "+map e1m1"), 1);
  EXPECT_TRUE(Sent(t, second).empty());
}

}  // namespace
}  // namespace ov
