// Connection slots: start-up, address and port checks, the connect wait and its outcomes, socket events
// and disconnecting, all against the scripted socket library and the fake clock.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <random>

#include "app/recent_servers.h"
#include "net/winsock_errors.h"
#include "tests/common/fakes.h"

namespace ov {
namespace {

using namespace std::chrono_literals;
using test::TestClient;

int SlotsInUse(const TestClient& t) {
  int n = 0;
  t.client.Sessions().ForEach([&](const Session&) { ++n; });
  return n;
}

void ExpectStatus(const TestClient& t, const std::string& text, int ms, int beeps) {
  EXPECT_EQ(t.desktop.Bar(), text);
  ASSERT_FALSE(t.desktop.timerStarts.empty());
  EXPECT_EQ(t.desktop.timerStarts.back(), ms) << text;
  EXPECT_EQ(t.desktop.Beeps(), beeps) << text;
}

TEST(Addresses, DottedTextIsReadAsTheCLibraryReadsIt) {
  const std::vector<std::string> samples = {"127.0.0.1",
                                            "127.1",
                                            "10.1.2",
                                            "0x7f.1",
                                            "0X7F.0.0.1",
                                            "017.0.0.1",
                                            "08.1",
                                            "099",
                                            "0x",
                                            "1.2.3.4.5",
                                            "",
                                            " 1.2.3.4",
                                            "1.2.3.4 trailing",
                                            "1.2.3.4\t",
                                            "1.2.3.4x",
                                            "4294967295",
                                            "4294967296",
                                            "1.16777215",
                                            "1.16777216",
                                            "1.2.65535",
                                            "1.2.65536",
                                            "256.1.1.1",
                                            "1.2.3.256",
                                            "1..2",
                                            "1.2.3.",
                                            "+1.2.3.4",
                                            "-1",
                                            "0xffffffffffffffffffff",
                                            "00000000000000000001",
                                            "localhost",
                                            "255.255.255.255",
                                            "0.0.0.0",
                                            std::string("1.2.3.4\0junk", 12)};
  for (const std::string& s : samples) EXPECT_EQ(InetAddr(s), inet_addr(s.c_str())) << '"' << s << '"';

  // Random texts over the characters that matter.
  std::mt19937 random(7);
  const std::string alphabet = "0123456789.xXaAfF \t-+g";
  for (int i = 0; i < 20000; ++i) {
    std::string s;
    for (int n = random() % 14; n > 0; --n) s += alphabet[random() % alphabet.size()];
    ASSERT_EQ(InetAddr(s), inet_addr(s.c_str())) << '"' << s << '"';
  }
  EXPECT_EQ(Htons(4044), htons(4044));
  EXPECT_EQ(Htons(65535), htons(65535));
}

TEST(WinsockErrors, NamesAndTheNumbersOfPosixErrors) {
  EXPECT_EQ(WSAErrorName(0), "No Error");
  EXPECT_EQ(WSAErrorName(10035), "WSAEWOULDBLOCK");
  EXPECT_EQ(WSAErrorName(10101), "WSAEDISCON");
  EXPECT_EQ(WSAErrorName(10072), "Unknown");
  EXPECT_EQ(WSAErrorName(-1), "Unknown");
  EXPECT_EQ(WSAErrorName(11002), "WSATRY_AGAIN [Non-Authoritative: Host not found, or SERVERFAIL]");
  int named = 0;
  for (int code = -20000; code <= 20000; ++code) named += WSAErrorName(code) != "Unknown";
  EXPECT_EQ(named, 53);

  // Only a call that would block may read as "would block", whatever the errno's value.
  for (int err = 1; err < 200; ++err) {
    if (err != EAGAIN && err != EWOULDBLOCK && err != EINPROGRESS) {
      EXPECT_NE(WinsockFromErrno(err), 10035) << err;
    }
  }
}

TEST(Startup, AFailedStartShowsItsBoxAndEndsTheProgram) {
  test::FakeEventLoop loop;
  test::FakeSocketApi sockets(loop);
  test::RecordingDesktop desktop;
  test::FakeTree tree;
  test::FakeWindowSystem windows;
  test::FakeLoginDialog login;
  Client client{Platform{sockets, loop, desktop, tree, windows, login}};
  sockets.startupError = 10091;
  EXPECT_FALSE(client.InitClient("orvane-client"));
  EXPECT_EQ(sockets.startupVersion, 0x0101);
  EXPECT_EQ(desktop.boxes, std::vector<std::string>{"Winsock init error 10091 - OV client terminating"});
  EXPECT_TRUE(desktop.quit);
}

TEST(Connect, AddressAndPortAreCheckedAndARefusalGivesTheSlotBack) {
  struct Case {
    std::string address;
    int port;
    std::string refusal;  // empty: accepted
  };
  const std::vector<Case> cases = {
      {"255.255.255.255", 4044, "Can't connect - Invalid IP address"},
      {"ovserver.example", 4044, "Can't connect - Invalid IP address"},
      {"127.0.0.1", 65536, "Can't connect - Invalid Port number"},
      {"127.0.0.1", -1, "Can't connect - Invalid Port number"},
      {"127.1", 0, ""},
      {"10.0.0.7", 65535, ""},
  };
  for (const Case& c : cases) {
    TestClient t;
    const int slot = t.Connect(c.address, c.port);
    EXPECT_EQ(t.desktop.connectEnabled, (std::vector<bool>{false, true})) << c.address << ":" << c.port;
    if (!c.refusal.empty()) {
      ExpectStatus(t, c.refusal, 3000, 2);
      EXPECT_EQ(SlotsInUse(t), 0);
      EXPECT_EQ(t.sockets.closed, std::vector<int>{t.sockets.lastSocket});
      continue;
    }
    ASSERT_NE(slot, -1);
    const auto& sock = t.sockets.sockets.at(t.Socket(slot));
    EXPECT_EQ(sock.address, inet_addr(c.address.c_str()));
    EXPECT_EQ(sock.port, htons(static_cast<uint16_t>(c.port)));
    EXPECT_EQ(sock.events, 51);
    EXPECT_EQ(t.desktop.Bar(), "Connected to server");
  }
}

TEST(Connect, NamesAndIpv6AreLookedUpWhileDottedAddressesNeverAre) {
  SocketAddress loop6;
  loop6.v6 = true;
  loop6.bytes[15] = 1;
  SocketAddress loop4;
  loop4.bytes = {127, 0, 0, 1};
  struct Case {
    std::string address;
    std::string lookup;  // what was looked up; empty: nothing
    bool connects;
  };
  const std::vector<Case> cases = {
      {"127.0.0.1", "", true},
      {"0x7f.1", "", true},
      {"255.255.255.255", "", false},  // dotted forms inet_addr refuses are never names
      {"10.0.0.256", "", false},
      {"1.2.3.4.5", "", false},
      {"", "", false},
      {"localhost", "localhost", true},
      {"ovserver.example", "ovserver.example", false},  // found nothing
      {"[::1]", "::1 numeric", true},
      {"::1", "::1 numeric", true},
      {"[::1", "", false},
      {"[localhost]", "", false},
      {"two words", "", false},
      {"a..example", "", false},
      {std::string(64, 'a') + ".example", "", false},
  };
  for (const Case& c : cases) {
    TestClient t;
    t.sockets.hosts = {{"localhost", {loop4}}, {"::1", {loop6}}};
    const int slot = t.Connect(c.address);
    EXPECT_EQ(t.sockets.lookedUp, c.lookup.empty() ? std::vector<std::string>{} : std::vector{c.lookup})
        << c.address;
    if (!c.connects) {
      ExpectStatus(t, "Can't connect - Invalid IP address", 3000, 2);
      EXPECT_EQ(SlotsInUse(t), 0) << c.address;
      continue;
    }
    ASSERT_NE(slot, -1) << c.address;
    EXPECT_EQ(t.desktop.Bar(), "Connected to server") << c.address;
    EXPECT_EQ(t.sockets.connectedTo.size(), c.lookup.empty() ? 0u : 1u) << c.address;
    // The name the user gave stays the connection's, for the tree, the recent list and Reconnect.
    EXPECT_EQ(t.client.Sessions().AtSlot(slot)->Where().address, c.address);
  }
}

TEST(Connect, ANamesAddressesAreTriedInTurnAndALateAnswerIsDropped) {
  SocketAddress first;
  first.v6 = true;
  SocketAddress second;
  second.bytes = {10, 0, 0, 9};
  // The first address fails, later (refused) or at once (an unreachable IPv6 address): the next one
  // takes the connection.
  constexpr int kWsaeNetUnreach = 10051;
  for (const int firstError : {kWsaeConnRefused, -kWsaeNetUnreach}) {
    TestClient t;
    t.sockets.hosts = {{"ov.example", {first, second}}};
    t.sockets.connectToErrors = {firstError, 0};
    ASSERT_NE(t.Connect("ov.example"), -1) << firstError;
    EXPECT_EQ(t.sockets.connectedTo, (std::vector<SocketAddress>{first, second})) << firstError;
    EXPECT_EQ(t.desktop.Bar(), "Connected to server") << firstError;
  }
  {  // No answer within the bound: the attempt ends, and the look-up is cancelled.
    TestClient t;
    t.sockets.lookupDelayMs = -1;
    t.Connect("slow.example");
    EXPECT_EQ(SlotsInUse(t), 0);
    EXPECT_EQ(t.desktop.bar.front(), "Looking up slow.example");
    ExpectStatus(t, "Can't connect - Invalid IP address", 3000, 2);
    EXPECT_EQ(t.sockets.cancelledLookups, std::vector<int>{1});
    EXPECT_EQ(t.loop.Now() - Clock::time_point(std::chrono::hours(1000)), 10s);
  }
}

TEST(Connect, EveryOutcomeOfTheAttemptIsReported) {
  {  // Under way, then connected.
    TestClient t;
    const int slot = t.Connect("127.0.0.1", 4044, 10);
    EXPECT_EQ(t.desktop.bar, (std::vector<std::string>{"Attempting to connect", "Connected to server"}));
    EXPECT_EQ(t.desktop.timerStarts, (std::vector<int>{11000, 5000}));
    EXPECT_TRUE(t.client.Sessions().AtSlot(slot)->connected);
    EXPECT_EQ(t.client.Sessions().AtSlot(slot)->Where(), (Endpoint{"127.0.0.1", 4044, 10}));
    // The OV server's node tells where the connection goes.
    t.client.Registry().OnOVInfo(t.Socket(slot), msg::OvInfo{"i", "alpha"});
    EXPECT_EQ(t.tree.nodes.at(t.tree.top.at(0)).tip, "127.0.0.1:4044");
  }
  {  // A made connection is what the recent servers remember; connected at once counts too.
    TestClient t;
    t.sockets.autoConnectError = 0;
    EXPECT_TRUE(t.client.Connections().ConnectToServer("127.0.0.1", 4044, 10));
    TestClient at;
    at.sockets.connectResult = 0;
    EXPECT_TRUE(at.client.Connections().ConnectToServer("127.0.0.1", 4044, 10));
    EXPECT_EQ(at.desktop.Bar(), "Connect (I)");
    TestClient bad;
    EXPECT_FALSE(bad.client.Connections().ConnectToServer("127.0.0.1", 70000, 10));
  }
  struct Failure {
    int connectResultError;  // the connect call fails at once with it, or 10035
    int eventError;          // the connect event's error
    std::string text;
    int beeps;
  };
  const std::vector<Failure> failures = {
      {10035, 10061, " Connection refused by remote host (Server may not be running)", 1},
      {10035, 10060, "Connect error 10060 (WSAETIMEDOUT)", 2},
      {10051, 0, "Connect error 10051 (WSAENETUNREACH)", 2},
  };
  for (const Failure& f : failures) {
    TestClient t;
    t.sockets.connectError = f.connectResultError;
    t.sockets.autoConnectError = f.eventError;
    EXPECT_FALSE(t.client.Connections().ConnectToServer("127.0.0.1", 4044, 10)) << f.text;
    ExpectStatus(t, f.text, 5000, f.beeps);
    EXPECT_EQ(SlotsInUse(t), 0) << f.text;
    EXPECT_EQ(t.sockets.closed, std::vector<int>{t.sockets.lastSocket}) << f.text;
    EXPECT_EQ(t.desktop.connectEnabled.back(), true);
  }
}

TEST(Connect, TheWaitLastsTheCountIn864MsUnitsAndNeverOverflows) {
  for (int count : {10, 1}) {
    TestClient t;
    const auto start = t.loop.Now();
    t.client.Connections().ConnectToServer("127.0.0.1", 4044, count);
    EXPECT_EQ(t.loop.Now() - start, std::chrono::milliseconds(864 * count));
    ExpectStatus(t, "Connection failed - Timed out", 5000, 2);
    EXPECT_EQ(t.desktop.timerStarts.front(), (count + 1) * 1000);
    EXPECT_EQ(SlotsInUse(t), 0);
  }
  {  // 0: no wait at all; "Attempting to connect" set for 1000 ms before the time-out replaces it.
    TestClient t;
    t.client.Connections().ConnectToServer("127.0.0.1", 4044, 0);
    EXPECT_EQ(t.loop.waits, 0u);
    EXPECT_EQ(t.desktop.timerStarts, (std::vector<int>{1000, 5000}));
    EXPECT_EQ(t.desktop.Bar(), "Connection failed - Timed out");
  }
  {  // -1: the attempt's text becomes the lasting one; the time-out shows over it.
    TestClient t;
    t.client.Connections().ConnectToServer("127.0.0.1", 4044, -1);
    EXPECT_EQ(t.loop.waits, 0u);
    EXPECT_EQ(t.client.Status().StatusText(), "Attempting to connect");
    EXPECT_EQ(t.desktop.Bar(), "Connection failed - Timed out");
  }
  {  // The lowest count: no text, no wait, no wrap into a long wait.
    TestClient t;
    t.client.Connections().ConnectToServer("127.0.0.1", 4044, INT_MIN);
    EXPECT_EQ(t.loop.waits, 0u);
    EXPECT_EQ(t.desktop.bar, std::vector<std::string>{"Connection failed - Timed out"});
  }
  {  // The highest count: the text's time saturates, and the wait still ends with the connect event.
    TestClient t;
    t.sockets.connectDelayMs = 50000;
    const int slot = t.Connect("127.0.0.1", 4044, INT_MAX);
    EXPECT_EQ(t.desktop.timerStarts.front(), INT_MAX);
    EXPECT_EQ(t.desktop.Bar(), "Connected to server");
    EXPECT_TRUE(t.client.Sessions().AtSlot(slot)->connected);
  }
  {  // A connect event handled in the last wait before the deadline still counts.
    TestClient t;
    t.sockets.connectDelayMs = 864;
    t.Connect("127.0.0.1", 4044, 1);
    EXPECT_EQ(t.desktop.Bar(), "Connected to server");
  }
}

TEST(Connect, FailedAttemptsNeverUseUpTheSlots) {
  TestClient t;
  for (int i = 0; i < 20; ++i) t.client.Connections().ConnectToServer("no address", 4044, 10);
  for (int i = 0; i < 20; ++i) t.client.Connections().ConnectToServer("127.0.0.1", 4044, 1);  // timed out
  t.sockets.autoConnectError = 10061;
  for (int i = 0; i < 20; ++i) t.client.Connections().ConnectToServer("127.0.0.1", 4044, 10);
  t.sockets.autoConnectError = -1;
  EXPECT_EQ(SlotsInUse(t), 0);
  EXPECT_EQ(t.sockets.closed.size(), 60u);

  t.desktop.Clear();
  t.sockets.socketError = 10024;
  t.client.Connections().ConnectToServer("127.0.0.1", 4044, 10);
  EXPECT_EQ(t.desktop.boxes, std::vector<std::string>{"New socket init failure - error 10024 (WSAEMFILE)"});
  t.sockets.socketError = 0;

  t.desktop.Clear();
  t.sockets.selectError = 10022;
  t.client.Connections().ConnectToServer("127.0.0.1", 4044, 10);
  EXPECT_EQ(t.desktop.boxes, std::vector<std::string>{"New socket AS failure - error 10022 (WSAEINVAL)"});
  EXPECT_EQ(t.sockets.closed.back(), t.sockets.lastSocket);  // the unregistered socket does not linger
  t.sockets.selectError = 0;
  EXPECT_EQ(SlotsInUse(t), 0);
  EXPECT_EQ(t.desktop.connectEnabled.back(), true);

  for (int i = 1; i <= 20; ++i) EXPECT_EQ(t.Connect(), i);
  t.desktop.Clear();
  const int socketsBefore = t.sockets.lastSocket;
  t.client.Connections().ConnectToServer("127.0.0.1", 4044, 10);
  EXPECT_EQ(t.desktop.boxes, std::vector<std::string>{"Maximum servers connected already"});
  EXPECT_TRUE(t.desktop.bar.empty());
  EXPECT_EQ(t.sockets.lastSocket, socketsBefore);
}

TEST(Connect, ReconnectStandsBackOnlyForTheSameAddressAndPort) {
  struct Case {
    Endpoint again;
    bool connects;
  };
  const std::vector<Case> cases = {
      {{"127.0.0.1", 4044, 10}, false},
      {{"127.0.0.1", 4045, 10}, true},
      {{"127.0.0.2", 4044, 10}, true},
  };
  for (const Case& c : cases) {
    TestClient t;
    t.sockets.autoConnectError = 0;
    t.Connect("127.0.0.1", 4044, 10);
    const int open = t.sockets.lastSocket;
    EXPECT_EQ(t.client.Connections().Reconnect(c.again), c.connects) << c.again.Text();
    EXPECT_EQ(t.sockets.lastSocket != open, c.connects) << c.again.Text();
    if (!c.connects) EXPECT_EQ(t.desktop.Bar(), "Already connecting or connected to " + c.again.Text());
  }
}

TEST(Connect, AWaitWhoseSlotWasTakenOverEndsWithoutTouchingIt) {
  TestClient t;
  int first = 0;
  int second = 0;
  // While the first attempt waits, the server drops it, and a second attempt from the tool bar takes
  // the freed slot and connects.
  t.loop.After(100, [&] {
    first = t.sockets.lastSocket;
    t.client.Connections().HandleSocketEvent(kSocketMessage, first, MakeEventWord(kFdClose, 0));
    t.sockets.autoConnectError = 0;
    t.client.Connections().ConnectToServer("127.0.0.1", 4044, 10);
    t.sockets.autoConnectError = -1;
    second = t.sockets.lastSocket;
  });
  t.client.Connections().ConnectToServer("127.0.0.1", 4044, 10);

  ASSERT_NE(first, second);
  const Session* slot1 = t.client.Sessions().AtSlot(1);
  ASSERT_NE(slot1, nullptr);
  EXPECT_EQ(slot1->Socket(), second);
  EXPECT_TRUE(slot1->connected);
  EXPECT_EQ(t.sockets.closed, std::vector<int>{first});
  EXPECT_EQ(t.desktop.Bar(), "Connected to server");
  // Only the second attempt reports: the first has nothing left to say about a slot it lost.
  EXPECT_EQ(std::count(t.desktop.bar.begin(), t.desktop.bar.end(), "Connection failed - Timed out"), 0);
  EXPECT_EQ(std::count(t.desktop.bar.begin(), t.desktop.bar.end(), "Connected to server"), 1);
  EXPECT_EQ(t.desktop.connectEnabled, (std::vector<bool>{false, false, true, true}));
}

TEST(Connect, EveryConnectionShowsInTheTreeFromItsAttemptAndTheUserCanEndIt) {
  TestClient t;
  int waiting = 0;
  // A server that takes the connection and never says a word; the node is there while the attempt
  // still waits, and Disconnect on it ends the attempt.
  t.loop.After(100, [&] {
    ASSERT_EQ(t.tree.Texts(), std::vector<std::string>{"[OV]127.0.0.1:4044"});
    t.tree.Select(t.tree.top[0]);
    waiting = t.client.Selection().Selected().ovIndex;
    EXPECT_TRUE(t.desktop.commands[Command::Disconnect]);
    t.client.Connections().Disconnect(waiting, 1);
  });
  EXPECT_FALSE(t.client.Connections().ConnectToServer("127.0.0.1", 4044, 10));
  EXPECT_EQ(waiting, 1);
  EXPECT_TRUE(t.tree.nodes.empty());
  EXPECT_EQ(SlotsInUse(t), 0);

  t.Connect("no address");  // refused before any connection: never shown
  EXPECT_TRUE(t.tree.nodes.empty());
}

TEST(Connect, StartUpConnectionsReportEveryFailureInOneBox) {
  TestClient t;
  std::vector<Endpoint> targets = {{"127.0.0.1", 4044, 10}, {"bad name", 4044, 10}, {"127.0.0.1", 70000, 10}};
  for (int i = 0; i < 25; ++i) targets.push_back({"10.0.0." + std::to_string(i), 4044, 10});
  t.sockets.autoConnectError = 0;
  t.client.Connections().ConnectAtStart(targets);
  EXPECT_EQ(SlotsInUse(t), 20);
  EXPECT_EQ(t.desktop.boxes,
            std::vector<std::string>{
                "Could not connect to 8 of the 28 servers named at start-up:\n"
                "Can't connect - Invalid IP address: bad name:4044\n"
                "Can't connect - Invalid Port number: 127.0.0.1:70000\n"
                "Maximum servers connected already: 10.0.0.19:4044, 10.0.0.20:4044, 10.0.0.21:4044, "
                "10.0.0.22:4044, 10.0.0.23:4044 and 1 more"});
  EXPECT_EQ(t.client.Debug().Lines().back(),
            "Start-up connection to 10.0.0.24:4044 failed: Maximum servers connected already");

  // A thousand refusals: still one box, every reason in it, and the attempts report as they go.
  TestClient many;
  many.sockets.autoConnectError = 10061;
  many.client.Connections().ConnectAtStart(std::vector<Endpoint>(1000, Endpoint{"127.0.0.1", 4044, 10}));
  ASSERT_EQ(many.desktop.boxes.size(), 1u);
  EXPECT_EQ(many.desktop.boxes[0],
            "Could not connect to 1000 of the 1000 servers named at start-up:\n"
            " Connection refused by remote host (Server may not be running): 127.0.0.1:4044, 127.0.0.1:4044, "
            "127.0.0.1:4044, 127.0.0.1:4044, 127.0.0.1:4044 and 995 more");
}

TEST(Events, CloseReasonsAndWhatEachDisconnectSays) {
  struct Case {
    int reason;
    std::string text;  // empty: nothing shown
    int beeps;
    std::string why;  // in the dead OV server window's last line
  };
  const std::vector<Case> cases = {
      {0, "Server closed connection", 1, "Server closed connection"},
      {10054, "Server closed connection", 1, "Server closed connection"},
      {10050, "Network system failure - disconnecting", 2, "Network system failure - disconnecting"},
      {10053, "Connection abort/timeout - disconnecting", 2, "Connection abort/timeout - disconnecting"},
      {10060, "", 0, "Connection closed - error 10060 (WSAETIMEDOUT)"},
      {1, "", 0, "Disconnected by the client"}};
  for (const Case& c : cases) {
    TestClient t;
    const int slot = t.Connect("127.0.0.1", 4050, 7);
    const int socket = t.Socket(slot);
    t.client.Registry().OnOVInfo(socket, msg::OvInfo{"i", "alpha"});
    Console* window = t.Window(slot);
    ASSERT_NE(window, nullptr);
    t.client.Consoles().AppendConsole(*window, "half a line");
    t.desktop.Clear();
    if (c.reason == 1) {
      t.client.Connections().Disconnect(slot, 1);
    } else {
      t.sockets.Post(socket, kFdClose, static_cast<uint16_t>(c.reason));
      t.loop.RunPending();
    }
    if (c.text.empty()) {
      EXPECT_TRUE(t.desktop.bar.empty());
    } else {
      ExpectStatus(t, c.text, 5000, c.beeps);
    }
    EXPECT_EQ(t.sockets.closed, std::vector<int>{socket});
    EXPECT_EQ(t.client.Sessions().AtSlot(slot), nullptr);
    // The dead window keeps where it was connected to, and its log ends with when and why, on a line
    // of its own.
    EXPECT_TRUE(window->IsDead());
    EXPECT_EQ(window->caption, "OV Server on alpha[Dead]");
    EXPECT_EQ(window->where, (Endpoint{"127.0.0.1", 4050, 7}));
    EXPECT_EQ(window->log.Text(),
              "half a line\r\nConnection to 127.0.0.1:4050 ended at 2001-02-03 04:05:06: " + c.why + "\r\n");
  }
}

TEST(Events, StrayNotificationsAndDisconnectsTouchNothing) {
  TestClient t;
  const int slot = t.Connect();
  const int socket = t.Socket(slot);
  const int other = t.Connect();
  t.desktop.Clear();

  auto& conn = t.client.Connections();
  conn.Disconnect(-1, 0);
  conn.Disconnect(0, 0);
  conn.Disconnect(21, 0);
  conn.Disconnect(7, 0);  // free
  conn.HandleSocketEvent(kSocketMessage, 9999, MakeEventWord(kFdClose, 10054));
  conn.HandleSocketEvent(kSocketMessage + 1, socket, MakeEventWord(kFdClose, 0));
  conn.HandleSocketEvent(kSocketMessage, socket, MakeEventWord(64, 0));
  EXPECT_TRUE(t.sockets.closed.empty());
  EXPECT_TRUE(t.desktop.bar.empty());
  EXPECT_EQ(SlotsInUse(t), 2);

  // Events queued before a connection closed arrive afterwards and must not revive or close anything.
  conn.Disconnect(slot, 1);
  conn.HandleSocketEvent(kSocketMessage, socket, MakeEventWord(kFdConnect, 0));
  conn.HandleSocketEvent(kSocketMessage, socket, MakeEventWord(kFdClose, 0));
  conn.HandleSocketEvent(kSocketMessage, socket, MakeEventWord(kFdRead, 0));
  EXPECT_EQ(t.SlotOf(socket), -1);
  EXPECT_EQ(t.sockets.closed, std::vector<int>{socket});
  EXPECT_TRUE(t.desktop.bar.empty());
  EXPECT_NE(t.client.Sessions().AtSlot(other), nullptr);
}

TEST(RecentServers, NewestFirstOneEntryPerServerAtMostTen) {
  RecentServers recent;
  for (int i = 1; i <= 12; ++i) recent.Remember({"10.0.0." + std::to_string(i), 4044, i});
  ASSERT_EQ(recent.Entries().size(), RecentServers::kMaxEntries);
  EXPECT_EQ(recent.Entries().front(), (Endpoint{"10.0.0.12", 4044, 12}));
  EXPECT_EQ(recent.Entries().back(), (Endpoint{"10.0.0.3", 4044, 3}));
  // The same address and port again: moved to the front with its new count, not listed twice.
  recent.Remember({"10.0.0.5", 4044, 30});
  EXPECT_EQ(recent.Entries().front(), (Endpoint{"10.0.0.5", 4044, 30}));
  EXPECT_EQ(std::count_if(recent.Entries().begin(), recent.Entries().end(),
                          [](const Endpoint& e) { return e.address == "10.0.0.5"; }),
            1);
  // Another port is another server.
  recent.Remember({"10.0.0.5", 5000, 1});
  EXPECT_EQ(recent.Entries()[1], (Endpoint{"10.0.0.5", 4044, 30}));
}

TEST(RecentServers, WhatWasKeptIsLoadedWithoutWhatCannotBeAServer) {
  RecentServers recent;
  std::vector<Endpoint> stored = {{"", 4044, 10},       {"1.2.3.4", 70000, 10}, {"1.2.3.4", 4044, 3},
                                  {"1.2.3.4", 4044, 9}, {"1.2.3.4", -1, 10},    {"5.6.7.8", 0, -2}};
  for (int i = 0; i < 20; ++i) stored.push_back({"9.9.9." + std::to_string(i), 4044, 10});
  recent.Load(stored);
  ASSERT_EQ(recent.Entries().size(), RecentServers::kMaxEntries);
  EXPECT_EQ(recent.Entries()[0], (Endpoint{"1.2.3.4", 4044, 3}));
  EXPECT_EQ(recent.Entries()[1], (Endpoint{"5.6.7.8", 0, -2}));  // as the dialog would have taken it
  EXPECT_EQ(recent.Entries()[2].address, "9.9.9.0");
  recent.Load({});
  EXPECT_TRUE(recent.Entries().empty());
}

TEST(RecentServers, ACommandLineTargetReadsAsTheDialogWouldTakeIt) {
  RecentServers recent;
  recent.Remember({"10.0.0.1", 5000, 25});
  struct Case {
    std::string text;
    Endpoint target;
  };
  const std::vector<Case> cases = {
      {"10.0.0.1", {"10.0.0.1", 4044, 10}},
      {"10.0.0.1:5000", {"10.0.0.1", 5000, 25}},  // the recent entry's count
      {"10.0.0.1:4044", {"10.0.0.1", 4044, 10}},
      {"10.0.0.1:", {"10.0.0.1", 0, 10}},  // an empty port field passes 0
      {"10.0.0.1:port", {"10.0.0.1", 0, 10}},
      {"10.0.0.1:70000", {"10.0.0.1", 70000, 10}},  // refused by the attempt, as from the dialog
      {"name.example", {"name.example", 4044, 10}},
      {"name.example:5000", {"name.example", 5000, 10}},
      {"[::1]:5000", {"[::1]", 5000, 10}},
      {"[::1]", {"[::1]", 4044, 10}},
      {"::1", {"::1", 4044, 10}},  // a bare IPv6 address takes no port
      {"[::1]x", {"[::1]x", 4044, 10}},
      {"", {"", 4044, 10}},
  };
  for (const Case& c : cases) EXPECT_EQ(recent.TargetFor(c.text), c.target) << c.text;
  EXPECT_EQ((Endpoint{"::1", 4044, 10}).Text(), "[::1]:4044");
}

}  // namespace
}  // namespace ov
