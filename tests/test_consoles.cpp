// Console text reaching the console windows, lines typed into them, and their close handling.
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

// One OV server "alpha" with its window open, running Quake server 7 "Duel" with its window open.
struct Served {
  TestClient t;
  int slot = 0;
  int socket = 0;
  explicit Served(const std::string& quakeMode = "1") {
    slot = t.Connect();
    socket = t.Socket(slot);
    t.Receive(socket, FrameOf("1021", "i" + kSep + "alpha"));
    t.Receive(socket, FrameOf("1027", "7"));
    t.Receive(socket, FrameOf("1025", "7" + kSep + kSep + "Duel" + kSep + kSep + "1" + kSep + quakeMode));
    t.sockets.sockets.at(socket).sent.clear();
  }
  ConsoleWindow* ovWindow() { return t.client.tables.OVServers[slot].Window; }
  int quakeSlot() { return t.client.tables.FindQServer(slot, 7); }
  ConsoleWindow* quakeWindow() { return t.client.tables.QServers[quakeSlot()].Window; }
  // Closes a window as the widget does: the view lets go of it first.
  void Close(ConsoleWindow* w) {
    for (auto& v : t.windows.views) {
      if (v->window == w) v->window = nullptr;
    }
    t.client.consoles.FormClose(*w);
  }
};

TEST(Consoles, TextReachesTheWindowOfItsServerOnly) {
  Served s;
  ASSERT_NE(s.ovWindow(), nullptr);
  ASSERT_NE(s.quakeWindow(), nullptr);
  s.t.Receive(s.socket, FrameOf("0000", "ov says\n") + FrameOf("0007", "duel says\r"));
  EXPECT_EQ(s.ovWindow()->log.Text(), "ov says\r\n");
  EXPECT_EQ(s.quakeWindow()->log.Text(), "duel says\r\n");
  const auto& views = s.t.windows.views;
  ASSERT_EQ(views.size(), 2u);
  EXPECT_EQ(views[0]->logChanges, 1);
  EXPECT_EQ(views[1]->logChanges, 1);

  // A server with no record, or with a record but no open window: dropped without a word.
  s.t.desktop.Clear();
  s.t.Receive(s.socket, FrameOf("0009", "nobody"));
  s.Close(s.quakeWindow());
  s.t.Receive(s.socket, FrameOf("0007", "unseen"));
  EXPECT_TRUE(s.t.desktop.bar.empty());
  EXPECT_EQ(s.t.desktop.Beeps(), 0);
  // Reopened, the window starts empty: what came while it was closed is not kept.
  s.t.client.selection.OpenServerWindow(s.slot, 7);
  ASSERT_NE(s.quakeWindow(), nullptr);
  EXPECT_EQ(s.quakeWindow()->log.Text(), "");
}

TEST(Consoles, ModeTwoWindowShowsOnlyTheLatestText) {
  Served s("2");
  ASSERT_EQ(s.quakeWindow()->ConsoleMode, 2);
  s.t.Receive(s.socket, FrameOf("0007", "score 1") + FrameOf("0007", "score 2"));
  EXPECT_EQ(s.quakeWindow()->log.Text(), "score 2");
}

TEST(Consoles, TextFromASocketWithoutALiveSlotIsReported) {
  Served s;
  s.t.desktop.Clear();
  s.t.client.consoles.RouteConsoleText(4242, 0, "stray text");
  EXPECT_EQ(s.t.desktop.Bar(), "Error - msg received from nonexistant server [stray text]");
  EXPECT_EQ(s.t.desktop.timerStarts.back(), 2000);
  EXPECT_EQ(s.t.desktop.Beeps(), 1);

  // The socket of a connection that has closed no longer names a slot in use.
  ConsoleWindow* ov = s.ovWindow();
  s.t.client.connections.Disconnect(s.slot, 1);
  s.t.desktop.Clear();
  s.t.client.consoles.RouteConsoleText(s.socket, 0, "late");
  EXPECT_EQ(s.t.desktop.Bar(), "Error - msg received from nonexistant server [late]");
  EXPECT_EQ(s.t.desktop.Beeps(), 1);
  EXPECT_EQ(ov->log.Text(), "");
}

TEST(Consoles, OVServerTextBeforeItsWindowExistsIsLost) {
  TestClient t;
  const int slot = t.Connect();
  const int socket = t.Socket(slot);
  t.Receive(socket, FrameOf("0000", "too early"));
  t.Receive(socket, FrameOf("1021", "i" + kSep + "alpha"));
  ASSERT_NE(t.client.tables.OVServers[slot].Window, nullptr);
  EXPECT_EQ(t.client.tables.OVServers[slot].Window->log.Text(), "");
  for (const std::string& shown : t.desktop.bar) EXPECT_EQ(shown.find("nonexistant"), std::string::npos);
}

TEST(Consoles, EnterSendsTheLineToTheWindowsServerAndNothingOnceDead) {
  Served s;
  s.t.client.consoles.InputLineEnter(*s.ovWindow(), "status");
  s.t.client.consoles.InputLineEnter(*s.quakeWindow(), "map e1m1");
  s.t.client.consoles.InputLineEnter(*s.quakeWindow(), "");  // an empty line goes too
  EXPECT_EQ(Sent(s.t, s.socket), (std::vector<std::string>{"0000 status", "0007 map e1m1", "0007 "}));
  // The client does not copy typed lines into the log.
  EXPECT_EQ(s.ovWindow()->log.Text(), "");

  ConsoleWindow* duel = s.quakeWindow();
  s.t.Receive(s.socket, FrameOf("1028", "7"));  // the server goes: its window is dead
  ASSERT_TRUE(duel->IsDead());
  EXPECT_EQ(duel->caption, "Duel[Dead]");
  EXPECT_GE(s.t.windows.views[1]->captionChanges, 1);
  s.t.sockets.sockets.at(s.socket).sent.clear();
  s.t.client.consoles.InputLineEnter(*duel, "anyone?");
  EXPECT_TRUE(Sent(s.t, s.socket).empty());
}

TEST(Consoles, ClosingAQuakeWindowSends41AndADeadOneNothing) {
  Served s;
  const int q = s.quakeSlot();
  s.Close(s.quakeWindow());
  EXPECT_EQ(Sent(s.t, s.socket), std::vector<std::string>{"1041 7"});
  EXPECT_EQ(s.t.client.tables.QServers[q].Window, nullptr);
  EXPECT_EQ(s.t.client.consoles.Windows().size(), 1u);

  // Opened again (42 again), then marked dead, then closed: nothing goes out, and the record of the
  // server's next window is left alone.
  s.t.client.selection.OpenServerWindow(s.slot, 7);
  ConsoleWindow* second = s.quakeWindow();
  s.t.sockets.sockets.at(s.socket).sent.clear();
  s.t.client.tables.QServers[q].Window = nullptr;
  s.t.client.consoles.MarkDead(*second);
  s.t.client.selection.OpenServerWindow(s.slot, 7);
  ConsoleWindow* third = s.quakeWindow();
  ASSERT_NE(third, second);
  s.t.sockets.sockets.at(s.socket).sent.clear();
  s.Close(second);
  EXPECT_TRUE(Sent(s.t, s.socket).empty());
  EXPECT_EQ(s.t.client.tables.QServers[q].Window, third);
}

TEST(Consoles, ClosingAnOVServerWindowSendsNothingAndKeepsTheConnection) {
  Served s;
  s.Close(s.ovWindow());
  EXPECT_TRUE(Sent(s.t, s.socket).empty());
  EXPECT_EQ(s.ovWindow(), nullptr);
  EXPECT_EQ(s.t.client.tables.OVServers[s.slot].InUse, 1);
  EXPECT_TRUE(s.t.sockets.sockets.at(s.socket).open);
  // Console text for it is dropped now; the next opening makes a new, empty window.
  s.t.Receive(s.socket, FrameOf("0000", "while closed"));
  s.t.client.selection.OpenServerWindow(s.slot, 0);
  ASSERT_NE(s.ovWindow(), nullptr);
  EXPECT_EQ(s.ovWindow()->log.Text(), "");
  EXPECT_EQ(s.ovWindow()->caption, "OV Server on alpha");
}

TEST(Consoles, ADisconnectLeavesEveryWindowDeadAndClosingThemSendsNothing) {
  Served s;
  ConsoleWindow* ov = s.ovWindow();
  ConsoleWindow* duel = s.quakeWindow();
  s.t.client.connections.Disconnect(s.slot, 1);
  EXPECT_EQ(ov->caption, "OV Server on alpha[Dead]");
  EXPECT_EQ(duel->caption, "Duel[Dead]");
  s.t.client.selection.CleanupDeadWindows();
  s.t.ProcessCloseRequests();
  EXPECT_TRUE(s.t.client.consoles.Windows().empty());
  EXPECT_TRUE(Sent(s.t, s.socket).empty());
}

}  // namespace
}  // namespace ov
