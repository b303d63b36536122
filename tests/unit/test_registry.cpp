// Registry updates: what messages 21, 25, 27, 28 and 31 do to the connection's record, the tree, the
// console windows and the replies, and the removal of an OV server on disconnect.
#include "tests/unit/registry_harness.h"

namespace ov::test {
namespace {

void ExpectError(TestClient& t, const std::string& text) {
  EXPECT_EQ(t.desktop.Bar(), text);
  EXPECT_EQ(t.desktop.timerStarts.back(), 5000);
  EXPECT_EQ(t.desktop.Beeps(), 2);
  t.desktop.Clear();
}

int QSlotsInUse(const TestClient& t) { return static_cast<int>(t.client.Sessions().Games().size()); }

TEST(Sessions, ConnectionsTakeTheLowestFreeSlotAndNeverSlotZero) {
  Sessions sessions;
  for (int slot = 1; slot < kSlotCount; ++slot) sessions.Open(100 + sessions.FreeSlot(), slot);
  EXPECT_EQ(sessions.FreeSlot(), -1);
  EXPECT_EQ(sessions.AtSlot(0), nullptr);
  sessions.Close(107);  // its connection ended: the freed slot is the next one
  sessions.Close(104);
  EXPECT_EQ(sessions.FreeSlot(), 4);
  EXPECT_EQ(sessions.Find(107), nullptr);
  EXPECT_EQ(sessions.AtSlot(20)->Socket(), 120);
}

TEST(Registry, ARemovedQuakeServerAndAnEndedConnectionAreFoundNoMore) {
  Named n;
  n.Quake(5, kSep + "alpha");
  ASSERT_TRUE(n.t.client.Sessions().Game(n.slot, 5));
  Message(n.t, n.socket, 28, "5");
  Sent(n.t, n.socket);
  // Text for its id and a request for its window reach nothing.
  EXPECT_FALSE(n.t.client.Sessions().Game(n.slot, 5));
  const size_t windows = n.t.client.Consoles().Windows().size();
  n.t.client.Selection().OpenServerWindow(n.slot, 5);
  EXPECT_EQ(n.t.client.Consoles().Windows().size(), windows);
  EXPECT_TRUE(Sent(n.t, n.socket).empty());
  n.t.client.Consoles().RouteConsoleText(n.socket, 5, "to nobody");
  for (const auto& window : n.t.client.Consoles().Windows())
    EXPECT_EQ(window->log.Text().find("to nobody"), std::string::npos);

  n.t.client.Connections().Disconnect(n.slot, 1);
  EXPECT_EQ(n.t.SlotOf(n.socket), -1);
}

TEST(Registry, OVInfoNamesTheServerAddsItsNodeOpensItsWindowAndAnswers29Then22) {
  TestClient t;
  const int slot = t.Connect();
  const int socket = t.Socket(slot);
  auto ov = [&]() -> const OVIrec& { return t.client.Sessions().AtSlot(slot)->Server(); };
  std::vector<int> introduced;  // a server that names itself has accepted the client: once per connection
  t.client.Registry().SetIntroducedHandler([&](int s) { introduced.push_back(s); });
  // Until it names itself, the connection shows by its address, where the user can end it.
  EXPECT_EQ(t.tree.Texts(), std::vector<std::string>{"[OV]127.0.0.1:4044"});
  EXPECT_EQ(t.tree.nodes.at(ov().TreeNode).tip, "127.0.0.1:4044");
  Message(t, socket, 21, "");
  EXPECT_EQ(t.tree.Texts(), std::vector<std::string>{"[OV]"});
  EXPECT_EQ(ov().Window->caption, "OV Server on ");
  EXPECT_EQ(Sent(t, socket), (std::vector<std::string>{"1029 ", "1022 "}));
  EXPECT_EQ(t.windows.views[0]->focusTaken, 1);  // the user connected: the console takes the focus

  // A repeated 21 renames the node and the window it already has; no second node, no second window.
  const int node = ov().TreeNode;
  Message(t, socket, 21, "i" + kSep + "Beta" + kSep + "ignored");
  EXPECT_EQ(ov().Name, "Beta");
  EXPECT_EQ(t.tree.Texts(), std::vector<std::string>{"[OV]Beta"});
  EXPECT_EQ(ov().TreeNode, node);
  EXPECT_EQ(ov().Window->caption, "OV Server on Beta");
  ASSERT_EQ(t.windows.views.size(), 1u);
  EXPECT_EQ(t.windows.views[0]->broughtToFront, 1);
  EXPECT_EQ(t.windows.views[0]->focusTaken, 1);  // the server's own renaming leaves the focus alone

  Message(t, socket, 21, "only");  // a field not carried keeps its value
  EXPECT_EQ(ov().Name, "Beta");
  EXPECT_EQ(t.tree.nodes.size(), 1u);

  t.client.Registry().OnOVInfo(9999, msg::OvInfo{"x", "Ghost"});  // no connection
  EXPECT_EQ(t.tree.nodes.size(), 1u);

  // The next connection in the slot starts without what the last one's server said of itself.
  t.client.Connections().Disconnect(slot, 1);
  ASSERT_EQ(t.Connect(), slot);
  EXPECT_EQ(ov().Name, "");
  EXPECT_EQ(introduced, std::vector<int>{slot});
  Message(t, t.Socket(slot), 21, "i" + kSep + "Gamma");
  EXPECT_EQ(introduced, (std::vector<int>{slot, slot}));
}

TEST(Registry, NamesAndTitlesAreKeptShortAndOnOneLine) {
  const std::string longName(10'000, 'n');
  const std::string cut = std::string(kMaxNameChars, 'n') + " [...]";
  struct Case {
    std::string sent;
    std::string kept;
  };
  const std::vector<Case> cases = {
      {"Alpha", "Alpha"},
      {"two\r\nlines\tand\x7F\x85", "two  lines and  "},
      {std::string(kMaxNameChars, 'n'), std::string(kMaxNameChars, 'n')},
      {longName, cut},
      {"\r\n" + longName, "  " + std::string(kMaxNameChars - 2, 'n') + " [...]"},
      {"Caf\xE9 ^1red", "Caf\xE9 ^1red"},  // Latin-1 letters and colour codes stay as sent
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sent.substr(0, 20));
    Named n("x");
    Message(n.t, n.socket, 21, c.sent + kSep + c.sent);
    n.Quake(4, "i2" + kSep + c.sent);
    Message(n.t, n.socket, 31, c.sent + kSep + "b");
    EXPECT_EQ(n.t.tree.Texts(), std::vector<std::string>{"[OV]" + c.kept});
    EXPECT_EQ(n.ov().Window->caption, "OV Server on " + c.kept);
    EXPECT_EQ(n.t.tree.Texts(n.ov().TreeNode), std::vector<std::string>{"[G]" + c.kept});
    EXPECT_EQ(n.q(4).Window->caption, c.kept);
    // A type name shows in that form and goes back in 26 as it was offered.
    n.t.client.Start().RefillHosts();
    EXPECT_EQ(n.t.client.Start().TypesForHost(0), (std::vector<std::string>{c.kept, "b"}));
    Sent(n.t, n.socket);
    EXPECT_EQ(n.t.client.Start().Go(0, 0, c.kept, "", ""), 1);
    EXPECT_EQ(Sent(n.t, n.socket), std::vector<std::string>{"1026 " + c.sent + kSep});
  }
}

TEST(Registry, NewServerTakesASlotAndAnswers24WithThePayloadUnchanged) {
  Named n;
  Message(n.t, n.socket, 27, "007");
  Message(n.t, n.socket, 27, "0");
  Message(n.t, n.socket, 27, "7");  // announced again: acknowledged, no second slot
  EXPECT_EQ(Sent(n.t, n.socket), (std::vector<std::string>{"1024 007", "1024 0", "1024 7"}));
  EXPECT_EQ(QSlotsInUse(n.t), 2);

  // Illegible ids give their slot back and are not answered; without a connection no slot is taken.
  for (const std::string& bad : std::vector<std::string>{"x", "", "-1", "5" + kSep}) {
    Message(n.t, n.socket, 27, bad);
    ExpectError(n.t, "ERROR: Bad server ID");
  }
  n.t.client.Registry().OnNewServer(9999, msg::NewServer{"8"});
  EXPECT_EQ(QSlotsInUse(n.t), 2);
  EXPECT_TRUE(Sent(n.t, n.socket).empty());

  // More announcements than there are slots, so that the loop ends though slots are lost.
  for (int id = 100; id < 100 + kSlotCount && QSlotsInUse(n.t) < 20; ++id)
    Message(n.t, n.socket, 27, std::to_string(id));
  ASSERT_EQ(QSlotsInUse(n.t), 20) << "the announced game servers never took every slot";
  Sent(n.t, n.socket);
  Message(n.t, n.socket, 27, "500");
  ExpectError(n.t, "ERROR: Too many servers open");
  EXPECT_TRUE(Sent(n.t, n.socket).empty());
}

TEST(Registry, AllConnectionsShareTheQuakeSlotsAndAnEndedOneGivesItsBack) {
  Named n;
  const int other = n.t.Socket(n.t.Connect());
  for (int id = 1; id <= 12; ++id) Message(n.t, n.socket, 27, std::to_string(id));
  for (int id = 1; id <= 8; ++id) Message(n.t, other, 27, std::to_string(id));
  n.t.desktop.Clear();
  Message(n.t, other, 27, "9");
  ExpectError(n.t, "ERROR: Too many servers open");

  n.t.client.Connections().Disconnect(n.slot, 1);
  EXPECT_EQ(QSlotsInUse(n.t), 8);
  Message(n.t, other, 27, "9");
  // The lowest free slot, so the newcomer lists first (Send to Servers shows them in this order).
  EXPECT_EQ(n.t.client.Sessions().Games().front().serverId, 9);
}

TEST(Registry, ServerInfoDescribesTheServerAddsItsNodeAndOpensItsWindow) {
  Named n;
  n.Quake(7, "i2" + kSep + "Deathmatch" + kSep + "i4" + kSep + "12" + kSep + "2");
  const QSIrec& q7 = n.q(7);
  EXPECT_EQ(q7.Title, "Deathmatch");
  EXPECT_EQ(q7.ConsoleMode, 2);
  EXPECT_EQ(n.t.tree.Texts(n.ov().TreeNode), std::vector<std::string>{"[G]Deathmatch"});
  EXPECT_EQ(q7.Window->caption, "Deathmatch");
  EXPECT_EQ(q7.Window->ConsoleMode, 2);
  EXPECT_EQ(Sent(n.t, n.socket), (std::vector<std::string>{"1024 7", "1042 7"}));

  // The id alone leaves a never described slot as it was: no title, console mode 0.
  Message(n.t, n.socket, 27, "8");
  Message(n.t, n.socket, 25, "8");
  EXPECT_EQ(n.q(8).Window->ConsoleMode, 0);
  EXPECT_EQ(n.t.tree.Texts(n.ov().TreeNode), (std::vector<std::string>{"[G]Deathmatch", "[G]"}));

  // Letters in the numeric fields give 1; the seventh is the game port, unknown unless it is one.
  n.Quake(9, kSep + "T" + kSep + kSep + "x" + kSep + "x" + kSep + "27961");
  EXPECT_EQ(n.q(9).ConsoleMode, 1);
  EXPECT_EQ(n.q(9).GamePort, 27961);
  EXPECT_EQ(q7.GamePort, 0);

  // Before the OV server names itself, its Quake servers go under its connection's node.
  TestClient t;
  const int socket = t.Socket(t.Connect());
  Message(t, socket, 27, "3");
  Message(t, socket, 25, "3" + kSep + kSep + "Early");
  EXPECT_EQ(t.tree.Texts(), std::vector<std::string>{"[OV]127.0.0.1:4044"});
  EXPECT_EQ(t.tree.Texts(t.tree.top[0]), std::vector<std::string>{"[G]Early"});

  // A repeated 25 renames the node and the window the server has: however often, one of each.
  for (int i = 0; i < 3; ++i) Message(n.t, n.socket, 25, "9" + kSep + kSep + "Renamed" + std::to_string(i));
  EXPECT_EQ(n.t.tree.Texts(n.ov().TreeNode),
            (std::vector<std::string>{"[G]Deathmatch", "[G]", "[G]Renamed2"}));
  EXPECT_EQ(n.q(9).Window->caption, "Renamed2");
  EXPECT_EQ(n.t.windows.views.size(), 4u);
}

TEST(Registry, ServerInfoThatNamesNoLiveServerChangesNothing) {
  Named n;
  Message(n.t, n.socket, 27, "0");
  for (const std::string& bad : std::vector<std::string>{"0" + kSep + "i2" + kSep + "T", "x" + kSep, ""}) {
    Message(n.t, n.socket, 25, bad);
    ExpectError(n.t, "Error: Bad ServerInfo received (illegible ID)");
  }
  // Never announced, or removed already: no node, no window, no 42, no word.
  Message(n.t, n.socket, 27, "5");
  Message(n.t, n.socket, 28, "5");
  const size_t nodes = n.t.tree.nodes.size();
  Message(n.t, n.socket, 25, "99" + kSep + "i2" + kSep + "T");
  Message(n.t, n.socket, 25, "5" + kSep + "i2" + kSep + "Back");
  EXPECT_EQ(n.t.tree.nodes.size(), nodes);
  EXPECT_EQ(n.t.windows.views.size(), 1u);
  EXPECT_FALSE(n.t.client.Sessions().Game(n.slot, 5));
  EXPECT_TRUE(n.t.desktop.bar.empty());

  n.t.client.Registry().OnServerInfo(9999, msg::ServerInfo::Decode("5" + kSep + "i2" + kSep + "T"));
  ExpectError(n.t, "ERROR: received Serverinfo from nonexistant OV server");
}

TEST(Registry, RemoveDeletesTheNodeMarksTheWindowDeadAndFreesTheSlot) {
  Named n;
  n.Quake(5, kSep + "alpha");
  Console* window = n.q(5).Window;

  Message(n.t, n.socket, 28, "5" + kSep + "more");  // the whole payload is the number
  ExpectError(n.t, "Error: Bad Remove received (illegible ID)");
  EXPECT_NE(n.ov().FindQServer(5), nullptr);

  Message(n.t, n.socket, 28, "99");  // never announced
  Message(n.t, n.socket, 28, "5");
  EXPECT_TRUE(n.t.desktop.bar.empty());
  EXPECT_EQ(n.ov().FindQServer(5), nullptr);
  EXPECT_TRUE(n.t.tree.Texts(n.ov().TreeNode).empty());
  EXPECT_EQ(window->caption, "alpha[Dead]");
  EXPECT_TRUE(window->IsDead());
  EXPECT_EQ(n.t.windows.views[1]->closeRequests, 0);

  n.t.client.Registry().RemoveQServer(9999, msg::ServerRemoved{5});
  ExpectError(n.t, "ERROR: received Remove from nonexistant OV Server");
}

TEST(Registry, ServerTypesReplaceAllSixEntries) {
  Named n;
  auto types = [&] {
    std::string out;
    for (const OVIst& type : n.ov().Types) out += type.TypeName + "|";
    return out;
  };
  Message(n.t, n.socket, 31, "a" + kSep + kSep + "b");
  EXPECT_EQ(types(), "a||b||||");
  Message(n.t, n.socket, 31,
          "1" + kSep + "2" + kSep + "3" + kSep + "4" + kSep + "5" + kSep + "6" + kSep + "7");
  EXPECT_EQ(types(), "1|2|3|4|5|6|");
  Message(n.t, n.socket, 31, "z");
  EXPECT_EQ(types(), "z||||||");
}

TEST(Registry, DisconnectRemovesTheQuakeServersThenTheOVServerAndLeavesDeadWindowsOpen) {
  Named n;
  Message(n.t, n.socket, 27, "x");  // its slot was given back: the removal below reports nothing
  n.Quake(5, kSep + "five");
  n.Quake(6, kSep + "six");
  n.t.tree.Select(n.q(6).TreeNode);
  n.t.desktop.Clear();

  n.t.client.Connections().Disconnect(n.slot, 1);
  EXPECT_TRUE(n.t.tree.nodes.empty());
  std::vector<std::string> captions;
  for (const auto& w : n.t.client.Consoles().Windows()) {
    captions.push_back(w->caption);
    EXPECT_TRUE(w->IsDead());
  }
  EXPECT_EQ(captions, (std::vector<std::string>{"OV Server on Alpha[Dead]", "five[Dead]", "six[Dead]"}));
  for (const auto& v : n.t.windows.views) EXPECT_EQ(v->closeRequests, 0);
  EXPECT_EQ(QSlotsInUse(n.t), 0);
  EXPECT_TRUE(n.t.desktop.bar.empty());
  for (const auto& [command, enabled] : n.t.desktop.commands) EXPECT_FALSE(enabled);

  // A connection that never got as far as 21 only frees its slot.
  const int slot = n.t.Connect();
  n.t.client.Connections().Disconnect(slot, 1);
  EXPECT_EQ(n.t.client.Sessions().AtSlot(slot), nullptr);
  EXPECT_EQ(n.t.windows.views.size(), 3u);
}

}  // namespace
}  // namespace ov::test
