// Registry updates: what the OV server's messages 21, 25, 27, 28 and 31 do to the tables, the tree,
// the console windows and the replies, and the removal of an OV server on disconnect.
#include <gtest/gtest.h>

#include "tests/fakes.h"

namespace ov {
namespace {

using test::FrameOf;
using test::TestClient;

const std::string kSep(1, '\x80');

// A message from the OV server on the wire, handled as one read.
void Message(TestClient& t, int socket, int n, const std::string& payload) {
  t.Receive(socket, FrameOf(std::to_string(1000 + n), payload));
}

std::vector<std::string> Sent(TestClient& t, int socket) {
  std::vector<std::string> out;
  for (const Frame& f : t.SentFrames(socket)) out.push_back(f.code + " " + f.payload);
  return out;
}

void ExpectError(TestClient& t, const std::string& text) {
  EXPECT_EQ(t.desktop.Bar(), text);
  ASSERT_FALSE(t.desktop.timerStarts.empty());
  EXPECT_EQ(t.desktop.timerStarts.back(), 5000);
  EXPECT_EQ(t.desktop.Beeps(), 2);
}

int QSlotsInUse(const TestClient& t) {
  int n = 0;
  for (const QSIrec& q : t.client.tables.QServers) n += q.InUse;
  return n;
}

// A connection named "Alpha" whose sent frames have been cleared.
struct Named {
  TestClient t;
  int slot = t.Connect();
  int socket = t.Socket(slot);
  Named() {
    Message(t, socket, 21, "info" + kSep + "Alpha");
    t.sockets.sockets.at(socket).sent.clear();
    t.desktop.Clear();
  }
  const OVIrec& ov() const { return t.client.tables.OVServers[slot]; }
  const QSIrec& q(int id) const { return t.client.tables.QServers[t.client.tables.FindQServer(slot, id)]; }
};

TEST(Registry, OVInfoNamesTheServerAddsItsNodeOpensItsWindowAndAnswers29Then22) {
  TestClient t;
  const int slot = t.Connect();
  const int socket = t.Socket(slot);
  Message(t, socket, 21, "");
  const OVIrec& ov = t.client.tables.OVServers[slot];
  EXPECT_EQ(ov.Info1, "");
  EXPECT_EQ(ov.Name, "");
  EXPECT_EQ(t.tree.Texts(), std::vector<std::string>{"[OV]"});
  ASSERT_NE(ov.Window, nullptr);
  EXPECT_EQ(ov.Window->caption, "OV Server on ");
  EXPECT_EQ(ov.Window->OVIndex, slot);
  EXPECT_EQ(ov.Window->ServerId, 0);
  EXPECT_EQ(ov.Window->ConsoleMode, 1);
  EXPECT_EQ(Sent(t, socket), (std::vector<std::string>{"1029 ", "1022 "}));

  // Three fields: the third is ignored. A repeated 21 appends a node and leaves the old one behind;
  // the window that exists is brought forward, not made again.
  Message(t, socket, 21, "i" + kSep + "Beta" + kSep + "ignored");
  EXPECT_EQ(ov.Info1, "i");
  EXPECT_EQ(ov.Name, "Beta");
  EXPECT_EQ(t.tree.Texts(), (std::vector<std::string>{"[OV]", "[OV]Beta"}));
  EXPECT_EQ(ov.TreeNode, t.tree.top.back());
  EXPECT_EQ(t.client.consoles.Windows().size(), 1u);
  EXPECT_EQ(t.windows.views[0]->broughtToFront, 1);

  // A socket that belongs to no connection changes nothing and answers nothing.
  t.desktop.Clear();
  t.client.registry.OnOVInfo(9999, "x" + kSep + "Ghost");
  EXPECT_EQ(t.tree.Texts().size(), 2u);
  EXPECT_TRUE(t.desktop.bar.empty());
}

TEST(Registry, NewServerTakesASlotAndAnswers24WithThePayloadUnchanged) {
  Named n;
  Message(n.t, n.socket, 27, "007");
  Message(n.t, n.socket, 27, "0");
  EXPECT_EQ(Sent(n.t, n.socket), (std::vector<std::string>{"1024 007", "1024 0"}));
  EXPECT_EQ(n.q(7).InUse, 1);
  EXPECT_EQ(n.q(0).InUse, 1);
  EXPECT_EQ(QSlotsInUse(n.t), 2);

  // Announced again: known already, acknowledged, no second slot.
  Message(n.t, n.socket, 27, "7");
  EXPECT_EQ(QSlotsInUse(n.t), 2);
  EXPECT_EQ(Sent(n.t, n.socket).back(), "1024 7");

  // Illegible ids give their slot back and are not answered.
  for (const std::string& bad : std::vector<std::string>{"x", "", "-1", "5" + kSep}) {
    n.t.desktop.Clear();
    Message(n.t, n.socket, 27, bad);
    ExpectError(n.t, "ERROR: Bad server ID");
    EXPECT_EQ(QSlotsInUse(n.t), 2) << bad;
  }
  EXPECT_EQ(Sent(n.t, n.socket).size(), 3u);

  // No connection: no slot is taken.
  n.t.client.registry.OnNewServer(9999, "8");
  EXPECT_EQ(QSlotsInUse(n.t), 2);

  for (int id = 100; QSlotsInUse(n.t) < 20; ++id) Message(n.t, n.socket, 27, std::to_string(id));
  n.t.desktop.Clear();
  Message(n.t, n.socket, 27, "500");
  ExpectError(n.t, "ERROR: Too many servers open");
  EXPECT_NE(Sent(n.t, n.socket).back(), "1024 500");
}

TEST(Registry, ServerInfoDescribesTheServerAddsItsNodeAndOpensItsWindow) {
  Named n;
  Message(n.t, n.socket, 27, "7");
  n.t.sockets.sockets.at(n.socket).sent.clear();
  Message(n.t, n.socket, 25,
          "7" + kSep + "i2" + kSep + "Deathmatch" + kSep + "i4" + kSep + "12" + kSep + "2");
  const QSIrec& q7 = n.q(7);
  EXPECT_EQ(q7.Info2, "i2");
  EXPECT_EQ(q7.Title, "Deathmatch");
  EXPECT_EQ(q7.Info4, "i4");
  EXPECT_EQ(q7.Info5, 12);
  EXPECT_EQ(q7.ConsoleMode, 2);
  EXPECT_EQ(n.t.tree.Texts(n.ov().TreeNode), std::vector<std::string>{"[G]Deathmatch"});
  EXPECT_EQ(q7.TreeNode, n.t.tree.nodes.at(n.ov().TreeNode).children.back());
  ASSERT_NE(q7.Window, nullptr);
  EXPECT_EQ(q7.Window->caption, "Deathmatch");
  EXPECT_EQ(q7.Window->kind, ConsoleKind::QuakeServer);
  EXPECT_EQ(q7.Window->ServerId, 7);
  EXPECT_EQ(q7.Window->ConsoleMode, 2);
  EXPECT_EQ(Sent(n.t, n.socket), std::vector<std::string>{"1042 7"});

  // The id alone: nothing else changes in a slot never described, whose mode is then 0.
  Message(n.t, n.socket, 27, "8");
  Message(n.t, n.socket, 25, "8");
  EXPECT_EQ(n.q(8).Title, "");
  EXPECT_EQ(n.q(8).ConsoleMode, 0);
  EXPECT_EQ(n.q(8).Window->ConsoleMode, 0);
  EXPECT_EQ(n.t.tree.Texts(n.ov().TreeNode), (std::vector<std::string>{"[G]Deathmatch", "[G]"}));

  // Letters in the numeric fields give 1; a seventh field is ignored.
  Message(n.t, n.socket, 27, "9");
  Message(n.t, n.socket, 25, "9" + kSep + kSep + "T" + kSep + kSep + "x" + kSep + "x" + kSep + "7");
  EXPECT_EQ(n.q(9).Info5, 1);
  EXPECT_EQ(n.q(9).ConsoleMode, 1);
}

TEST(Registry, ServerInfoThatNamesNoLiveServerChangesNothing) {
  Named n;
  Message(n.t, n.socket, 27, "0");
  const size_t nodes = n.t.tree.nodes.size();
  for (const std::string& bad : {"0" + kSep + "i2" + kSep + "T", "x" + kSep + "i2", std::string()}) {
    n.t.desktop.Clear();
    Message(n.t, n.socket, 25, bad);
    ExpectError(n.t, "Error: Bad ServerInfo received (illegible ID)");
  }
  // An id that was never announced, and one that has been removed: no node, no window, no 42.
  Message(n.t, n.socket, 27, "5");
  Message(n.t, n.socket, 28, "5");
  n.t.desktop.Clear();
  Message(n.t, n.socket, 25, "99" + kSep + "i2" + kSep + "T");
  Message(n.t, n.socket, 25, "5" + kSep + "i2" + kSep + "Back");
  EXPECT_EQ(n.t.tree.nodes.size(), nodes);
  EXPECT_EQ(n.t.client.consoles.Windows().size(), 1u);
  EXPECT_EQ(n.q(5).InUse, 0);
  EXPECT_NE(n.q(5).Title, "Back");
  EXPECT_TRUE(n.t.desktop.bar.empty());

  n.t.client.registry.OnServerInfo(9999, "5" + kSep + "i2" + kSep + "T");
  ExpectError(n.t, "ERROR: received Serverinfo from nonexistant OV server");

  // Before the OV server has a node, the Quake server's node goes to the top level.
  TestClient t;
  const int socket = t.Socket(t.Connect());
  Message(t, socket, 27, "3");
  Message(t, socket, 25, "3" + kSep + kSep + "Early");
  EXPECT_EQ(t.tree.Texts(), std::vector<std::string>{"[G]Early"});
}

TEST(Registry, RemoveDeletesTheNodeMarksTheWindowDeadAndFreesTheSlot) {
  Named n;
  Message(n.t, n.socket, 27, "5");
  Message(n.t, n.socket, 25, "5" + kSep + kSep + "alpha");
  const int q = n.t.client.tables.FindQServer(n.slot, 5);
  ConsoleWindow* window = n.t.client.tables.QServers[q].Window;

  // The whole payload is the number: trailing fields make it illegible.
  n.t.desktop.Clear();
  Message(n.t, n.socket, 28, "5" + kSep + "more");
  ExpectError(n.t, "Error: Bad Remove received (illegible ID)");
  EXPECT_EQ(n.t.client.tables.QServers[q].InUse, 1);

  n.t.desktop.Clear();
  Message(n.t, n.socket, 28, "99");  // never announced
  Message(n.t, n.socket, 28, "5");
  EXPECT_TRUE(n.t.desktop.bar.empty());
  const QSIrec& slot = n.t.client.tables.QServers[q];
  EXPECT_EQ(slot.InUse, 0);
  EXPECT_EQ(slot.TreeNode, 0);
  EXPECT_EQ(slot.Window, nullptr);
  EXPECT_TRUE(n.t.tree.Texts(n.ov().TreeNode).empty());
  EXPECT_EQ(window->caption, "alpha[Dead]");
  EXPECT_TRUE(window->IsDead());
  EXPECT_EQ(n.t.windows.views[1]->closeRequests, 0);

  n.t.client.registry.RemoveQServer(9999, "5");
  ExpectError(n.t, "ERROR: received Remove from nonexistant OV Server");
}

TEST(Registry, ServerTypesReplaceAllSixEntries) {
  Named n;
  Message(n.t, n.socket, 31, "a" + kSep + kSep + "b");
  auto types = [&] {
    std::vector<std::string> out;
    for (const OVIst& type : n.ov().Types) out.push_back(type.TypeName);
    return out;
  };
  EXPECT_EQ(types(), (std::vector<std::string>{"a", "", "b", "", "", ""}));
  Message(n.t, n.socket, 31,
          "1" + kSep + "2" + kSep + "3" + kSep + "4" + kSep + "5" + kSep + "6" + kSep + "7");
  EXPECT_EQ(types(), (std::vector<std::string>{"1", "2", "3", "4", "5", "6"}));
  Message(n.t, n.socket, 31, "z");
  EXPECT_EQ(types(), (std::vector<std::string>{"z", "", "", "", "", ""}));

  // No connection: no slot's types change.
  n.t.client.registry.OnServerTypes(9999, "q");
  EXPECT_EQ(types(), (std::vector<std::string>{"z", "", "", "", "", ""}));
  for (const OVIrec& ov : n.t.client.tables.OVServers) EXPECT_NE(ov.Types[0].TypeName, "q");
}

TEST(Registry, DisconnectRemovesTheQuakeServersThenTheOVServerAndLeavesDeadWindowsOpen) {
  Named n;
  Message(n.t, n.socket, 27, "x");  // its slot was given back: the removal below reports nothing
  Message(n.t, n.socket, 27, "5");
  Message(n.t, n.socket, 27, "6");
  Message(n.t, n.socket, 25, "5" + kSep + kSep + "five");
  Message(n.t, n.socket, 25, "6" + kSep + kSep + "six");
  ASSERT_EQ(n.t.client.consoles.Windows().size(), 3u);
  n.t.tree.Select(n.q(6).TreeNode);
  EXPECT_EQ(n.t.client.selection.Kind(), SelectionKind::QuakeServer);

  n.t.desktop.Clear();
  n.t.client.connections.Disconnect(n.slot, 1);
  EXPECT_TRUE(n.t.tree.nodes.empty());
  std::vector<std::string> captions;
  for (const auto& w : n.t.client.consoles.Windows()) {
    captions.push_back(w->caption);
    EXPECT_TRUE(w->IsDead());
  }
  EXPECT_EQ(captions, (std::vector<std::string>{"OV Server on Alpha[Dead]", "five[Dead]", "six[Dead]"}));
  for (const auto& v : n.t.windows.views) EXPECT_EQ(v->closeRequests, 0);
  EXPECT_EQ(n.ov().InUse, 0);
  EXPECT_EQ(n.ov().Window, nullptr);
  EXPECT_EQ(QSlotsInUse(n.t), 0);
  EXPECT_TRUE(n.t.desktop.bar.empty());
  EXPECT_EQ(n.t.client.selection.Kind(), SelectionKind::None);
  for (const auto& [command, enabled] : n.t.desktop.commands) EXPECT_FALSE(enabled);

  // A connection that never got as far as 21 only frees its slot.
  const int slot = n.t.Connect();
  n.t.client.connections.Disconnect(slot, 1);
  EXPECT_EQ(n.t.client.tables.OVServers[slot].InUse, 0);
  EXPECT_EQ(n.t.client.consoles.Windows().size(), 3u);
}

}  // namespace
}  // namespace ov
