// The servers tree's selection and the seven commands that follow it, the opening of console windows
// and the cleaning up of dead ones.
#include <gtest/gtest.h>

#include <map>

#include "tests/fakes.h"

namespace ov {
namespace {

using test::FrameOf;
using test::TestClient;

const std::string kSep(1, '\x80');

void Message(TestClient& t, int socket, int n, const std::string& payload) {
  t.Receive(socket, FrameOf(std::to_string(1000 + n), payload));
}

std::vector<std::string> Sent(TestClient& t, int socket) {
  std::vector<std::string> out;
  for (const Frame& f : t.SentFrames(socket)) out.push_back(f.code + " " + f.payload);
  return out;
}

// Enabled commands in the order mnuDis, mnuKill, mnuWnd, mnuEKill, tbWnd, tbKill, tbDis.
std::string Commands(const TestClient& t) {
  std::string out;
  for (Command c : {Command::mnuDis, Command::mnuKill, Command::mnuWnd, Command::mnuEKill, Command::tbWnd,
                    Command::tbKill, Command::tbDis}) {
    const auto it = t.desktop.commands.find(c);
    out += it == t.desktop.commands.end() ? '?' : it->second ? '1' : '0';
  }
  return out;
}

// Three connections; the third, named Gamma, runs Quake server 12 "Arena" in console mode 2.
struct ThreeServers {
  TestClient t;
  int slot = 0;
  int socket = 0;
  ThreeServers() {
    for (int i = 0; i < 3; ++i) slot = t.Connect();
    socket = t.Socket(slot);
    Message(t, socket, 21, "i" + kSep + "Gamma");
    Message(t, socket, 27, "12");
    Message(t, socket, 25, "12" + kSep + kSep + "Arena" + kSep + kSep + "1" + kSep + "2");
    t.sockets.sockets.at(socket).sent.clear();
  }
  const OVIrec& ov() const { return t.client.tables.OVServers[slot]; }
  const QSIrec& arena() const { return t.client.tables.QServers[t.client.tables.FindQServer(slot, 12)]; }
};

TEST(Selection, TheSelectedNodeDecidesTheServerAndTheSevenCommands) {
  ThreeServers s;
  ASSERT_EQ(s.slot, 3);
  s.t.tree.Select(s.ov().TreeNode);
  EXPECT_EQ(s.t.client.selection.Selected().ovIndex, 3);
  EXPECT_EQ(s.t.client.selection.Selected().serverId, 0);
  EXPECT_EQ(Commands(s.t), "1110111");

  s.t.tree.Select(s.arena().TreeNode);
  EXPECT_EQ(s.t.client.selection.Selected().ovIndex, 3);
  EXPECT_EQ(s.t.client.selection.Selected().serverId, 12);
  EXPECT_EQ(Commands(s.t), "0111110");

  // The node a repeated 21 left behind maps to no server: all off, the last server kept.
  const int orphan = s.ov().TreeNode;
  Message(s.t, s.socket, 21, "i" + kSep + "Gamma2");
  s.t.tree.Select(orphan);
  EXPECT_EQ(s.t.client.selection.Kind(), SelectionKind::None);
  EXPECT_EQ(Commands(s.t), "0000000");
  EXPECT_EQ(s.t.client.selection.Selected().serverId, 12);

  s.t.tree.Select(s.arena().TreeNode);
  s.t.tree.Select(0);
  EXPECT_EQ(Commands(s.t), "0000000");

  // The selected node goes: the selection follows at once, inside the removal.
  s.t.tree.Select(s.arena().TreeNode);
  Message(s.t, s.socket, 28, "12");
  EXPECT_EQ(s.t.client.selection.Kind(), SelectionKind::None);
  EXPECT_EQ(Commands(s.t), "0000000");
}

TEST(Selection, OpeningAWindowShowsTheOneThatExistsOrCreatesItAndAnnouncesIt) {
  ThreeServers s;
  ConsoleWindow* first = s.arena().Window;
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->ConsoleMode, 2);

  // A later 25 with another mode does not change the existing window; the window comes forward.
  Message(s.t, s.socket, 25, "12" + kSep + kSep + "Arena" + kSep + kSep + "1" + kSep + "1");
  EXPECT_EQ(first->ConsoleMode, 2);
  s.t.client.selection.OpenServerWindow(s.slot, 12);
  EXPECT_EQ(s.t.windows.views[1]->broughtToFront, 2);
  EXPECT_TRUE(Sent(s.t, s.socket).empty());

  // Closed by the user: 41; the next request makes a new window with the new mode, and sends 42 again.
  s.t.client.consoles.FormClose(*first);
  s.t.client.selection.OpenServerWindow(s.slot, 12);
  ASSERT_NE(s.arena().Window, nullptr);
  EXPECT_EQ(s.arena().Window->caption, "Arena");
  EXPECT_EQ(s.arena().Window->ConsoleMode, 1);
  EXPECT_EQ(Sent(s.t, s.socket), (std::vector<std::string>{"1041 12", "1042 12"}));

  // The OV server's window comes back without a word to the server.
  s.t.client.consoles.FormClose(*s.ov().Window);
  s.t.client.selection.OpenServerWindow(s.slot, 0);
  ASSERT_NE(s.ov().Window, nullptr);
  EXPECT_EQ(s.ov().Window->caption, "OV Server on Gamma");
  EXPECT_EQ(Sent(s.t, s.socket).size(), 2u);

  // Requests that name no live server: nothing is created, nothing sent.
  const size_t windows = s.t.client.consoles.Windows().size();
  Message(s.t, s.socket, 27, "13");
  Message(s.t, s.socket, 28, "13");
  s.t.sockets.sockets.at(s.socket).sent.clear();
  s.t.client.connections.Disconnect(1, 1);
  for (auto [slot, id] : std::vector<std::pair<int, int>>{
           {0, 0}, {-1, 0}, {21, 0}, {1, 0}, {s.slot, -3}, {s.slot, 99}, {s.slot, 13}, {-1, -1}}) {
    s.t.client.selection.OpenServerWindow(slot, id);
  }
  EXPECT_EQ(s.t.client.consoles.Windows().size(), windows);
  EXPECT_TRUE(Sent(s.t, s.socket).empty());
}

TEST(Selection, CleanUpClosesExactlyTheDeadWindows) {
  TestClient empty;
  empty.client.selection.CleanupDeadWindows();
  EXPECT_TRUE(empty.windows.views.empty());

  // Two connections: the first goes with its Quake server, the second stays.
  TestClient t;
  for (int i = 0; i < 2; ++i) {
    const int socket = t.Socket(t.Connect());
    Message(t, socket, 21, "i" + kSep + "Host" + std::to_string(i));
    Message(t, socket, 27, "4");
    Message(t, socket, 25, "4" + kSep + kSep + "Game" + std::to_string(i));
  }
  t.client.connections.Disconnect(1, 1);
  t.client.selection.CleanupDeadWindows();
  std::map<std::string, int> closes;
  for (const auto& v : t.windows.views) closes[v->window->caption] = v->closeRequests;
  EXPECT_EQ(
      closes,
      (std::map<std::string, int>{
          {"OV Server on Host0[Dead]", 1}, {"Game0[Dead]", 1}, {"OV Server on Host1", 0}, {"Game1", 0}}));

  t.ProcessCloseRequests();
  EXPECT_EQ(t.client.consoles.Windows().size(), 2u);
  EXPECT_EQ(Sent(t, t.Socket(2)).back(), "1042 4");  // closing dead windows sends nothing
}

}  // namespace
}  // namespace ov
