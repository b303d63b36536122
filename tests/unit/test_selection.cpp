// The servers tree's selection and the four commands that follow it, the opening of console windows
// and the cleaning up of dead ones.
#include <map>

#include "tests/unit/registry_harness.h"

namespace ov::test {
namespace {

// Enabled commands in the order Disconnect, Kill, OpenWindow, EvilKill.
std::string Commands(const TestClient& t) {
  std::string out;
  for (Command c : {Command::Disconnect, Command::Kill, Command::OpenWindow, Command::EvilKill}) {
    const auto it = t.desktop.commands.find(c);
    out += it == t.desktop.commands.end() ? '?' : it->second ? '1' : '0';
  }
  return out;
}

TEST(Selection, TheSelectedNodeDecidesTheServerAndTheFourCommands) {
  Named n("Gamma", 2);
  n.Quake(12, kSep + "Arena");
  const Selection& selection = n.t.client.Selection();

  n.t.tree.Select(n.ov().TreeNode);
  EXPECT_EQ(selection.Selected().ovIndex, 3);
  EXPECT_EQ(selection.Selected().serverId, 0);
  EXPECT_EQ(Commands(n.t), "1110");

  n.t.tree.Select(n.q(12).TreeNode);
  EXPECT_EQ(selection.Selected().ovIndex, 3);
  EXPECT_EQ(selection.Selected().serverId, 12);
  EXPECT_EQ(Commands(n.t), "0111");

  // A node that no server holds maps to none: all off, the last server kept.
  const int orphan = n.t.tree.AddNode(0, "[OV]stray");
  n.t.tree.Select(orphan);
  EXPECT_EQ(selection.Kind(), SelectionKind::None);
  EXPECT_EQ(Commands(n.t), "0000");
  EXPECT_EQ(selection.Selected().serverId, 12);
  // What the windows ask on it acts on none, not on the server kept.
  auto openedOrFocused = [&] {
    int count = static_cast<int>(n.t.windows.views.size());
    for (const auto& view : n.t.windows.views) count += view->focusTaken;
    return count;
  };
  const int before = openedOrFocused();
  n.t.client.Controller().OpenSelectedWindow();
  EXPECT_EQ(openedOrFocused(), before);
  for (const SendTarget& target : n.t.client.Controller().SendTargets()) EXPECT_FALSE(target.ticked);

  // The selected node goes: the selection follows at once, inside the removal, to the parent here.
  n.t.tree.Select(n.q(12).TreeNode);
  Message(n.t, n.socket, 28, "12");
  EXPECT_EQ(selection.Kind(), SelectionKind::OVServer);
  EXPECT_EQ(Commands(n.t), "1110");
  n.t.client.Connections().Disconnect(n.slot, 1);  // and with the last node, to nothing
  EXPECT_EQ(selection.Kind(), SelectionKind::None);
  EXPECT_EQ(Commands(n.t), "0000");
}

TEST(Selection, OpeningAWindowShowsTheOneThatExistsOrCreatesItAndAnnouncesIt) {
  Named n("Gamma");
  n.Quake(12, kSep + "Arena" + kSep + kSep + "1" + kSep + "2");
  Sent(n.t, n.socket);
  Console* first = n.q(12).Window;

  // A later 25 with another mode brings the window forward and leaves its mode.
  Message(n.t, n.socket, 25, "12" + kSep + kSep + "Arena" + kSep + kSep + "1" + kSep + "1");
  n.t.client.Selection().OpenServerWindow(n.slot, 12);
  EXPECT_EQ(first->ConsoleMode, 2);
  EXPECT_EQ(n.t.windows.views[1]->broughtToFront, 2);
  EXPECT_TRUE(Sent(n.t, n.socket).empty());

  // Closed by the user: the next request makes a new window with the new mode and sends 42 again.
  n.t.client.Consoles().CloseWindow(*first);
  n.t.client.Selection().OpenServerWindow(n.slot, 12);
  EXPECT_EQ(n.q(12).Window->caption, "Arena");
  EXPECT_EQ(n.q(12).Window->ConsoleMode, 1);
  EXPECT_EQ(Sent(n.t, n.socket), (std::vector<std::string>{"1041 12", "1042 12"}));

  // The OV server's window comes back without a word to the server.
  n.t.client.Consoles().CloseWindow(*n.ov().Window);
  n.t.client.Selection().OpenServerWindow(n.slot, 0);
  EXPECT_EQ(n.ov().Window->caption, "OV Server on Gamma");
  EXPECT_TRUE(Sent(n.t, n.socket).empty());

  // Requests that name no live server: nothing is created, nothing sent.
  const int gone = n.t.Connect();
  n.t.client.Connections().Disconnect(gone, 1);
  Message(n.t, n.socket, 27, "13");
  Message(n.t, n.socket, 28, "13");
  Sent(n.t, n.socket);
  const size_t windows = n.t.client.Consoles().Windows().size();
  for (auto [slot, id] : std::vector<std::pair<int, int>>{
           {0, 0}, {-1, 0}, {21, 0}, {gone, 0}, {n.slot, -3}, {n.slot, 99}, {n.slot, 13}, {-1, -1}}) {
    n.t.client.Selection().OpenServerWindow(slot, id);
  }
  EXPECT_EQ(n.t.client.Consoles().Windows().size(), windows);
  EXPECT_TRUE(Sent(n.t, n.socket).empty());
}

TEST(Selection, CleanUpClosesExactlyTheDeadWindows) {
  TestClient empty;
  empty.client.Selection().CleanupDeadWindows();
  EXPECT_TRUE(empty.windows.views.empty());

  // Two connections, both running Quake server 4: the first goes, the second stays.
  Named first("Host0");
  first.Quake(4, kSep + "Game0");
  const int socket = first.t.Socket(first.t.Connect());
  Message(first.t, socket, 21, "i" + kSep + "Host1");
  Message(first.t, socket, 27, "4");
  Message(first.t, socket, 25, "4" + kSep + kSep + "Game1");
  Sent(first.t, socket);
  first.t.client.Connections().Disconnect(first.slot, 1);

  first.t.client.Selection().CleanupDeadWindows();
  std::map<std::string, int> closes;
  for (const auto& v : first.t.windows.views) closes[v->window->caption] = v->closeRequests;
  EXPECT_EQ(
      closes,
      (std::map<std::string, int>{
          {"OV Server on Host0[Dead]", 1}, {"Game0[Dead]", 1}, {"OV Server on Host1", 0}, {"Game1", 0}}));
  first.t.ProcessCloseRequests();
  EXPECT_EQ(first.t.client.Consoles().Windows().size(), 2u);
  EXPECT_TRUE(Sent(first.t, socket).empty());  // not a 41 for the other server with the same id
}

}  // namespace
}  // namespace ov::test
