// What each Quake server costs: asked for only while someone looks, and shown in its tooltip and in the
// Send to Servers list.
#include <gtest/gtest.h>

#include <climits>

#include "app/send_to_servers.h"
#include "registry/server_figures.h"
#include "tests/unit/registry_harness.h"

namespace ov {
namespace {

using test::kSep;
using test::Message;
using test::Named;
using test::Sent;

TEST(ServerFigures, AskedWhileATipShowsAtMostEveryFewSecondsAndForgottenWithTheServer) {
  Named n;
  n.Quake(3, "i2" + kSep + "Duel");
  n.Quake(4, "i2" + kSep + "CTF");
  Sent(n.t, n.socket);
  ClientController& c = n.t.client.Controller();
  int redraws = 0;
  c.SetFiguresHandler([&] { ++redraws; });
  const int duel = n.q(3).TreeNode, ctf = n.q(4).TreeNode;
  EXPECT_EQ(c.NodeFigures(duel), "");
  EXPECT_EQ(Sent(n.t, n.socket), std::vector<std::string>{"1043 "});
  // Unanswered, the OV server is not asked again: one that does not know the request hears it once.
  n.t.loop.Advance(60000);
  c.NodeFigures(ctf);
  EXPECT_EQ(Sent(n.t, n.socket), std::vector<std::string>{});

  const std::string duelFigures = "3" + kSep + "410" + kSep + "7980" + kSep + "35" + kSep + "46080";
  Message(n.t, n.socket, 33, duelFigures);
  Message(n.t, n.socket, 33, duelFigures);  // said again: nothing to redraw
  EXPECT_EQ(redraws, 1);
  EXPECT_EQ(c.NodeFigures(duel), "CPU 3.5 %, 45 MiB, up 2 h 13 min");
  EXPECT_EQ(c.NodeFigures(ctf), "");  // not in the answer: it has ended
  n.t.loop.Advance(int(std::chrono::milliseconds(ServerFigures::kAskEvery).count()) - 1);
  c.NodeFigures(duel);
  EXPECT_EQ(Sent(n.t, n.socket), std::vector<std::string>{});
  n.t.loop.Advance(1);
  const std::vector<SendTarget> targets = c.SendTargets();  // the dialog opens
  EXPECT_EQ(Sent(n.t, n.socket), std::vector<std::string>{"1043 "});
  ASSERT_EQ(targets.size(), 2u);
  EXPECT_EQ(targets[0].figures, "CPU 3.5 %, 45 MiB, up 2 h 13 min");

  Message(n.t, n.socket, 28, "3");
  EXPECT_EQ(c.SendFigures(targets), (std::vector<std::string>{"", ""}));
}

TEST(ServerFigures, TheTextRoundsToWhatTellsServersApart) {
  struct Case {
    msg::Figures::Server figures;  // id, pid, seconds up, CPU in tenths of a percent, KiB
    std::string text;
  };
  const Case cases[] = {
      {{1, 9, 59, 0, 511}, "CPU 0.0 %, 0 MiB, up 59 s"},
      {{1, 9, 60, 99, 512}, "CPU 9.9 %, 1 MiB, up 1 min"},
      {{1, 9, 3599, 995, 1536}, "CPU 100 %, 2 MiB, up 59 min"},
      {{1, 9, 86400 + 7200 + 59, 1234, 2097152}, "CPU 123 %, 2048 MiB, up 1 d 2 h"},
      {{1, 9, INT_MAX, INT_MAX, INT_MAX},
       "CPU 214748365 %, 2097152 MiB, up 24855 d 3 h"},  // rounding overflows no int
  };
  for (const Case& c : cases) EXPECT_EQ(DescribeFigures(c.figures), c.text);
}

}  // namespace
}  // namespace ov
