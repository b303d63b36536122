// Console text reaching the console windows, lines typed into them, and their close handling.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/common/fakes.h"

namespace ov {
namespace {

using test::FrameOf;

const std::string kSep(1, '\x80');

// One OV server "alpha" with its window open, running Quake server 7 "Duel" with its window open.
struct Served : test::TestClient {
  int slot = 0, socket = 0;
  explicit Served(const std::string& quakeMode = "1") {
    slot = Connect();
    socket = Socket(slot);
    Receive(socket, FrameOf("1021", "i" + kSep + "alpha") + FrameOf("1027", "7"));
    Receive(socket, FrameOf("1025", "7" + kSep + kSep + "Duel" + kSep + kSep + "1" + kSep + quakeMode));
    sockets.sockets.at(socket).sent.clear();
  }
  Console* ovWindow() { return Window(slot); }
  Console* duel() { return Window(slot, 7); }
  std::vector<std::string> Sent() {
    std::vector<std::string> out;
    for (const Frame& f : SentFrames(socket)) out.push_back(f.code + " " + f.payload);
    sockets.sockets.at(socket).sent.clear();
    return out;
  }
  void Close(Console* w) {  // as the widget does: the view lets go first
    for (auto& v : windows.views) {
      if (v->window == w) v->window = nullptr;
    }
    client.Consoles().CloseWindow(*w);
  }
};

TEST(Consoles, TextReachesTheOpenWindowOfItsServerOnly) {
  Served s;
  s.Receive(s.socket,
            FrameOf("0000", "ov says\n") + FrameOf("0007", "duel says\r") + FrameOf("0009", "nobody"));
  EXPECT_EQ(s.ovWindow()->log.Text(), "ov says\r\n");
  EXPECT_EQ(s.duel()->log.Text(), "duel says\r\n");
  EXPECT_EQ(s.windows.views[1]->logChanges, 1);

  // Text for a closed window is dropped without a word; reopened, the window starts empty.
  s.Close(s.duel());
  s.Receive(s.socket, FrameOf("0007", "unseen"));
  s.client.Selection().OpenServerWindow(s.slot, 7);
  EXPECT_EQ(s.duel()->log.Text(), "");
  EXPECT_EQ(s.desktop.Beeps(), 0);

  Served replacing("2");
  replacing.Receive(replacing.socket, FrameOf("0007", "score 1") + FrameOf("0007", "score 2"));
  EXPECT_EQ(replacing.duel()->log.Text(), "score 2");
}

TEST(Consoles, TextFromASocketWithoutALiveSlotIsReported) {
  Served s;
  for (int socket : {4242, s.socket}) {
    if (socket == s.socket) s.client.Connections().Disconnect(s.slot, 1);
    s.desktop.Clear();
    s.client.Consoles().RouteConsoleText(socket, 0, "stray");
    EXPECT_EQ(s.desktop.Bar(), "Error - msg received from nonexistant server [stray]");
    EXPECT_EQ(s.desktop.timerStarts.back(), 2000);
    EXPECT_EQ(s.desktop.Beeps(), 1);
  }
}

TEST(Consoles, EnterSendsTheLineToTheWindowsServerAndNothingOnceDead) {
  Served s;
  s.client.Consoles().SendLine(*s.ovWindow(), "status");
  s.client.Consoles().SendLine(*s.duel(), "map e1m1");
  s.client.Consoles().SendLine(*s.duel(), "");
  EXPECT_EQ(s.Sent(), (std::vector<std::string>{"0000 status", "0007 map e1m1", "0007 "}));
  EXPECT_EQ(s.ovWindow()->log.Text(), "");  // typed lines are not copied into the log

  Console* duel = s.duel();
  s.Receive(s.socket, FrameOf("1028", "7"));
  ASSERT_EQ(duel->caption, "Duel[Dead]");
  s.client.Consoles().SendLine(*duel, "anyone?");
  EXPECT_TRUE(s.Sent().empty());
}

TEST(Consoles, ClosingAQuakeWindowSends41AndADeadOneNothing) {
  Served s;
  s.Close(s.duel());
  EXPECT_EQ(s.Sent(), std::vector<std::string>{"1041 7"});
  EXPECT_EQ(s.duel(), nullptr);
  EXPECT_EQ(s.client.Consoles().Windows().size(), 1u);

  // A dead window closes without sending and leaves the record of the server's newer window alone.
  s.client.Selection().OpenServerWindow(s.slot, 7);
  Console* old = s.duel();
  s.client.Sessions().ForgetWindow(s.slot, 7, *old);
  s.client.Consoles().MarkDead(*old);
  s.client.Selection().OpenServerWindow(s.slot, 7);
  Console* fresh = s.duel();
  s.Sent();
  s.Close(old);
  EXPECT_TRUE(s.Sent().empty());
  EXPECT_EQ(s.duel(), fresh);
}

TEST(Consoles, AtMostFiftyDeadWindowsStayOpenAndTheLongestDeadClosesFirst) {
  Served s;
  auto churn = [&](int id) {  // a server announced, described, heard from and removed
    const std::string n = std::to_string(id);
    s.Receive(s.socket, FrameOf("1027", n) + FrameOf("1025", n + kSep + kSep + "G" + n) + FrameOf(n, "hi") +
                            FrameOf("1028", n));
  };
  auto captions = [&] {
    std::vector<std::string> out;
    for (const auto& w : s.client.Consoles().Windows()) out.push_back(w->caption);
    return out;
  };
  s.desktop.Clear();
  for (int id = 2000; id < 2000 + static_cast<int>(Consoles::kMaxDeadWindows); ++id) churn(id);
  EXPECT_EQ(s.client.Consoles().Windows().size(), 2 + Consoles::kMaxDeadWindows);
  EXPECT_TRUE(s.desktop.bar.empty());
  s.Sent();

  churn(3000);
  EXPECT_EQ(s.client.Consoles().Windows().size(), 2 + Consoles::kMaxDeadWindows);
  EXPECT_EQ(s.windows.views[2]->closes, 1);  // G2000's, the first to die
  std::vector<std::string> shown = captions();
  EXPECT_EQ(std::vector<std::string>(shown.begin(), shown.begin() + 3),
            (std::vector<std::string>{"OV Server on alpha", "Duel", "G2001[Dead]"}));
  EXPECT_EQ(shown.back(), "G3000[Dead]");
  EXPECT_EQ(s.desktop.Bar(), "Closed the oldest dead window: at most 50 are kept");
  EXPECT_EQ(s.desktop.timerStarts.back(), 5000);
  EXPECT_EQ(s.desktop.Beeps(), 0);
  EXPECT_EQ(s.Sent(), (std::vector<std::string>{"1024 3000", "1042 3000"}));  // no 41 for a dead window

  // The longest dead goes first, not the first made: Duel, made before them all, dies after G3000.
  s.Receive(s.socket, FrameOf("1028", "7"));
  auto has = [&](const std::string& caption) {
    shown = captions();
    return std::find(shown.begin(), shown.end(), caption) != shown.end();
  };
  for (int id = 4000; id <= 4048; ++id) churn(id);
  EXPECT_FALSE(has("G3000[Dead]"));
  EXPECT_TRUE(has("Duel[Dead]"));
  churn(4049);
  EXPECT_FALSE(has("Duel[Dead]"));
  EXPECT_EQ(shown.front(), "OV Server on alpha");
  EXPECT_EQ(shown.size(), 1 + Consoles::kMaxDeadWindows);
}

TEST(Consoles, ClosingAnOVServerWindowSendsNothingAndKeepsTheConnection) {
  Served s;
  s.Close(s.ovWindow());
  EXPECT_TRUE(s.Sent().empty());
  EXPECT_EQ(s.ovWindow(), nullptr);
  EXPECT_TRUE(s.sockets.sockets.at(s.socket).open);
  s.client.Selection().OpenServerWindow(s.slot, 0);
  EXPECT_EQ(s.ovWindow()->caption, "OV Server on alpha");
}

}  // namespace
}  // namespace ov
