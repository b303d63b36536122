// The start-server dialog's rules: the host list, the type list and the start request 26.
#include <gtest/gtest.h>

#include "net/server_record.h"
#include "tests/common/fakes.h"

namespace ov {
namespace {

const std::string kSep(1, '\x80');

TEST(StartServer, HostsAreTheSlotsInUseAndTypesTheirNonEmptyEntries) {
  test::TestClient t;
  Sessions& open = t.client.Sessions();
  OVIrec& five = open.Open(905, 5).Server();
  open.Open(902, 2).Server().Name = "two";
  five.Name = "five";
  five.Types[0].TypeName = "dm";
  five.Types[2].TypeName = "ctf";
  EXPECT_EQ(t.client.Start().RefillHosts(), (std::vector<std::string>{"two", "five"}));
  const auto& slots = t.client.Start().HostSlots();
  EXPECT_EQ(std::vector<int>(slots.begin(), slots.begin() + 3), (std::vector<int>{2, 5, -1}));
  EXPECT_EQ(std::count(slots.begin(), slots.end(), -1), 19);
  EXPECT_EQ(t.client.Start().TypesForHost(1), (std::vector<std::string>{"dm", "ctf"}));
  EXPECT_TRUE(t.client.Start().TypesForHost(2).empty());

  // Rebuilt at every opening: a slot that has gone leaves no stale line behind.
  open.Close(902);
  EXPECT_EQ(t.client.Start().RefillHosts(), std::vector<std::string>{"five"});
  EXPECT_EQ(slots[1], -1);
}

TEST(StartServer, TheListOpensOnTheSelectedOVServerOrTheOnlyOne) {
  struct Case {
    std::vector<int> inUse;
    int selectedSlot;
    int line;
  };
  const Case cases[] = {
      {{2, 5}, 5, 1}, {{2, 5}, 2, 0}, {{2, 5}, 0, -1}, {{2, 5}, 7, -1}, {{5}, 0, 0}, {{5}, 3, 0}, {{}, 0, -1},
  };
  for (const Case& c : cases) {
    test::TestClient t;
    for (int slot : c.inUse) t.client.Sessions().Open(900 + slot, slot);
    t.client.Start().RefillHosts();
    EXPECT_EQ(t.client.Start().PreselectedLine(c.selectedSlot), c.line)
        << c.inUse.size() << " hosts, slot " << c.selectedSlot << " selected";
  }
}

TEST(StartServer, GoRefusesWithoutHostOrTypeAndSendsOtherwise) {
  test::TestClient t;
  const int socket = t.Socket(t.Connect());
  t.Receive(socket, test::FrameOf("1031", "dm"));
  t.client.Start().RefillHosts();
  struct Refusal {
    int host, type;
    std::string typeText, bar;
    int ms;
  };
  for (const Refusal& r : {Refusal{-1, 0, "dm", "START ERROR: Host or Type not selected", 3000},
                           Refusal{0, -1, "dm", "START ERROR: Host or Type not selected", 3000},
                           Refusal{1, 0, "dm", "START ERROR: Host or Type not selected", 3000},
                           Refusal{0, 0, "", "START ERROR: Couldn't start - invalid servertype", 2000},
                           // the line no longer shows that type: a later 31 changed the list
                           Refusal{0, 0, "ctf", "START ERROR: Couldn't start - invalid servertype", 2000}}) {
    t.desktop.Clear();
    EXPECT_EQ(t.client.Start().Go(r.host, r.type, r.typeText, "", "+map e1m1"), -1);
    EXPECT_EQ(t.desktop.Bar(), r.bar);
    EXPECT_EQ(t.desktop.timerStarts.back(), r.ms);
    EXPECT_EQ(t.desktop.Beeps(), 1);
  }
  EXPECT_TRUE(t.SentFrames(socket).empty());
  EXPECT_EQ(t.client.Start().Go(0, 0, "dm", "Duel", "+map e1m1"), 1);
  ASSERT_EQ(t.SentFrames(socket).size(), 1u);
  EXPECT_EQ(t.SentFrames(socket)[0].code, "1026");
  EXPECT_EQ(t.SentFrames(socket)[0].payload, "dm" + kSep + "Duel" + kSep + "+map e1m1");
}

TEST(StartServer, ARequestThatCannotGoOutIsRefusedWithANote) {
  const std::string note = "START ERROR: Couldn't start - host no longer connected";
  // The chosen connection closes while the dialog is open; then another takes the same slot.
  test::TestClient t;
  const int slot = t.Connect();
  t.client.Start().RefillHosts();  // the dialog opens, listing the first connection
  t.client.Connections().Disconnect(slot, 1);
  t.desktop.Clear();
  EXPECT_EQ(t.client.Start().Go(0, 0, "dm", "", "+map e1m1"), -1);
  EXPECT_EQ(t.desktop.Bar(), note);
  EXPECT_EQ(t.desktop.timerStarts.back(), 3000);
  EXPECT_EQ(t.desktop.Beeps(), 1);
  ASSERT_EQ(t.Connect(), slot);
  t.desktop.Clear();
  EXPECT_EQ(t.client.Start().Go(0, 0, "dm", "", "+map e1m1"), -1);
  EXPECT_EQ(t.desktop.Bar(), note);
  EXPECT_TRUE(t.SentFrames(t.Socket(slot)).empty());

  // Listed again, the new connection is the one asked.
  t.Receive(t.Socket(slot), test::FrameOf("1031", "dm"));
  EXPECT_TRUE(t.client.Start().TypesForHost(0).empty());  // nor are its types listed under the old line
  t.client.Start().RefillHosts();
  EXPECT_EQ(t.client.Start().Go(0, 0, "dm", "", "+map e1m1"), 1);
  EXPECT_EQ(t.SentFrames(t.Socket(slot)).size(), 1u);
}

}  // namespace
}  // namespace ov
