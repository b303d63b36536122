// The connection layer on real loopback sockets: the POSIX socket API's events, every connect outcome,
// and frames both ways against a peer written here with plain POSIX calls.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>

#include "net/qt/posix_socket_api.h"
#include "net/qt/qt_event_loop.h"
#include "tests/common/fakes.h"
#include "tests/loopback/loopback.h"

namespace ov {
namespace {

using namespace std::chrono_literals;
using test::FrameOf;

using test::Accept;
using test::Bound;
using test::Fd;
using test::Listener;
using test::PumpUntil;
using test::ReadAvailable;
using test::SendAll;

struct Event {
  int socket;
  uint16_t event;
  uint16_t error;
};

struct RecordingApi {
  PosixSocketApi api;
  QtEventLoop loop;
  std::vector<Event> events;
  RecordingApi() {
    api.SetEventHandler([this](int message, int socket, uint32_t word) {
      EXPECT_EQ(message, kSocketMessage);
      events.push_back({socket, static_cast<uint16_t>(word & 0xFFFF), static_cast<uint16_t>(word >> 16)});
    });
    EXPECT_EQ(api.Startup(kWinsockVersion), 0);
  }
  int Open(uint16_t port) {
    const int s = api.Socket(kAfInet, kSockStream, kIpProtoTcp);
    EXPECT_GT(s, 0);
    EXPECT_EQ(api.AsyncSelect(s, kEventMask), 0);
    const int r = api.Connect(s, htonl(INADDR_LOOPBACK), htons(port));
    if (r != 0) {
      EXPECT_EQ(api.LastError(), kWsaeWouldBlock);
    }
    return s;
  }
  bool Has(int socket, uint16_t event) const {
    for (const Event& e : events) {
      if (e.socket == socket && e.event == event) return true;
    }
    return false;
  }
  uint16_t ErrorOf(int socket, uint16_t event) const {
    for (const Event& e : events) {
      if (e.socket == socket && e.event == event) return e.error;
    }
    return 0xFFFF;
  }
};

TEST(PosixSockets, ConnectReadCloseAndResetAreToldWithTheirErrors) {
  RecordingApi r;
  uint16_t closedPort = 0;
  Fd notListening = Bound(&closedPort);
  const int refused = r.Open(closedPort);
  ASSERT_TRUE(PumpUntil(r.loop, "the refused connect's event", [&] { return r.Has(refused, kFdConnect); }));
  EXPECT_EQ(r.ErrorOf(refused, kFdConnect), 10061);

  uint16_t port = 0;
  Fd listener = Listener(&port, 8);
  const int s = r.Open(port);
  ASSERT_TRUE(PumpUntil(r.loop, "the connect and write events",
                        [&] { return r.Has(s, kFdConnect) && r.Has(s, kFdWrite); }));
  EXPECT_EQ(r.ErrorOf(s, kFdConnect), 0);
  Fd peer = Accept(listener);

  EXPECT_TRUE(SendAll(peer, "abc"));
  ASSERT_TRUE(PumpUntil(r.loop, "the read event", [&] { return r.Has(s, kFdRead); }));
  char buffer[16];
  EXPECT_EQ(r.api.Recv(s, buffer, sizeof buffer), 3);
  EXPECT_EQ(std::string(buffer, 3), "abc");
  ::close(peer.fd);
  peer.fd = -1;
  ASSERT_TRUE(PumpUntil(r.loop, "the close event", [&] { return r.Has(s, kFdClose); }));
  EXPECT_EQ(r.ErrorOf(s, kFdClose), 0);

  const int t = r.Open(port);
  ASSERT_TRUE(PumpUntil(r.loop, "the second connect event", [&] { return r.Has(t, kFdConnect); }));
  Fd peer2 = Accept(listener);
  peer2.Reset();
  ASSERT_TRUE(PumpUntil(r.loop, "the reset's close event", [&] { return r.Has(t, kFdClose); }));
  EXPECT_EQ(r.ErrorOf(t, kFdClose), 10054);
  // Writing to a connection that has gone is an error, never a signal that ends the program.
  EXPECT_EQ(r.api.Send(t, "x", 1), -1);
  EXPECT_TRUE(r.api.LastError() == 10053 || r.api.LastError() == 10054) << r.api.LastError();

  // Handles are never handed out twice, and a closed one is no socket any more.
  for (int h : {refused, s, t}) EXPECT_EQ(r.api.CloseSocket(h), 0);
  EXPECT_EQ(r.api.Recv(s, buffer, sizeof buffer), -1);
  EXPECT_EQ(r.api.LastError(), 10038);
  EXPECT_EQ(r.api.CloseSocket(s), -1);
  EXPECT_GT(r.api.Socket(kAfInet, kSockStream, kIpProtoTcp), t);
}

// A whole client on the real sockets and event loop, with recording windows.
struct LiveClient {
  PosixSocketApi sockets;
  QtEventLoop loop;
  test::RecordingDesktop desktop;
  test::FakeTree tree;
  test::FakeWindowSystem windows;
  test::FakeLoginDialog login;
  Client client{Platform{sockets, loop, desktop, tree, windows, login}};
  LiveClient() {
    tree.onSelectionChanged = [this] { client.Selection().UpdateSelection(); };
    EXPECT_TRUE(client.InitClient("orvane-client"));
  }
  ~LiveClient() { client.ShutdownClient(); }
  int SlotsInUse() const {
    int n = 0;
    client.Sessions().ForEach([&](const Session&) { ++n; });
    return n;
  }
};

TEST(LiveConnect, EveryOutcomeAgainstALoopbackPeer) {
  LiveClient c;
  uint16_t closedPort = 0;
  Fd notListening = Bound(&closedPort);
  c.client.Connections().ConnectToServer("127.0.0.1", closedPort, 10);
  EXPECT_EQ(c.desktop.Bar(), " Connection refused by remote host (Server may not be running)");
  EXPECT_EQ(c.SlotsInUse(), 0);

  // A listener whose accept queue is full drops the handshake: the attempt runs into its time-out.
  uint16_t fullPort = 0;
  Fd full = Listener(&fullPort, 0);
  std::vector<Fd> fillers;
  for (int i = 0; i < 3; ++i) {
    fillers.emplace_back(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(fullPort);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::connect(fillers.back().fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  }
  const auto start = Clock::now();
  c.client.Connections().ConnectToServer("127.0.0.1", fullPort, 1);
  EXPECT_GE(Clock::now() - start, 864ms);
  EXPECT_EQ(c.desktop.Bar(), "Connection failed - Timed out");
  EXPECT_EQ(c.SlotsInUse(), 0);

  uint16_t port = 0;
  Fd listener = Listener(&port, 8);
  c.desktop.Clear();
  c.client.Connections().ConnectToServer("127.1", port, 10);
  EXPECT_EQ(c.desktop.Bar(), "Connected to server");
  ASSERT_EQ(c.SlotsInUse(), 1);
  Fd peer = Accept(listener);
  peer.Reset();
  ASSERT_TRUE(PumpUntil(c.loop, "the client to see the reset", [&] { return c.SlotsInUse() == 0; }));
  EXPECT_EQ(c.desktop.Bar(), "Server closed connection");
  EXPECT_EQ(c.sockets.OpenSockets(), 0);
  EXPECT_EQ(c.desktop.connectEnabled.back(), true);
}

struct Connected {
  LiveClient c;
  uint16_t port = 0;
  Fd listener;
  Fd peer;
  int slot = -1;
  int socket = -1;
  Connected() : listener(Listener(&port, 8)) {
    c.client.Connections().ConnectToServer("127.0.0.1", port, 10);
    peer = Accept(listener);
    slot = 1;
    socket = c.client.Sessions().AtSlot(slot)->Socket();
    EXPECT_TRUE(c.client.Sessions().AtSlot(slot)->connected);
  }
};

TEST(LiveFrames, SendsTheSocketCannotTakeCompleteInOrderForASlowReader) {
  Connected k;
  std::string expected;
  for (int i = 0; i < 192; ++i) {  // 12 MiB: more than the kernel holds for a peer that is not reading
    const std::string payload(64 * 1024 - 6, static_cast<char>('A' + i % 26));
    k.c.client.Sender().SendConsole(k.slot, i, payload);
    expected += FrameOf(FormatCode(i), payload);
  }
  std::string received = ReadAvailable(k.peer);
  EXPECT_LT(received.size(), expected.size());  // the socket could not take it all at once
  ASSERT_TRUE(PumpUntil(
      k.c.loop, "every frame at the slow reader",
      [&] {
        received += ReadAvailable(k.peer, 256 * 1024);
        return received.size() >= expected.size();
      },
      [&] { return received.size(); }))
      << received.size() << " of " << expected.size();
  EXPECT_TRUE(received == expected);
  for (const std::string& text : k.c.desktop.bar) EXPECT_EQ(text.find("error"), std::string::npos) << text;
}

TEST(LiveFrames, FramesFromThePeerAreHandedOverOnceHoweverTheyArrive) {
  Connected k;
  // A 901 is answered with one empty 1020, and nothing else.
  EXPECT_TRUE(SendAll(k.peer, FrameOf("1901", k.c.client.Cipher().EncryptMsg("anything"))));
  std::string answer;
  ASSERT_TRUE(PumpUntil(k.c.loop, "the answer to the 901", [&] {
    answer += ReadAvailable(k.peer);
    return answer.size() >= 6;
  }));
  // A status note cut in two, the second half only after the first was read.
  const std::string note = FrameOf("1001", "hello");
  EXPECT_TRUE(SendAll(k.peer, note.substr(0, 8)));
  ASSERT_TRUE(PumpUntil(k.c.loop, "the first half of the note read",
                        [&] { return k.c.client.Debug().Lines().back().rfind("len is", 0) == 0; }));
  EXPECT_TRUE(SendAll(k.peer, note.substr(8)));
  ASSERT_TRUE(
      PumpUntil(k.c.loop, "the note on the status line", [&] { return k.c.desktop.Bar() == "hello"; }));
  answer += ReadAvailable(k.peer);
  EXPECT_TRUE(answer == FrameOf("1020", ""));

  const auto& lines = k.c.client.Debug().Lines();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "in_code: 1001"), 1);
  EXPECT_EQ(std::count(k.c.desktop.bar.begin(), k.c.desktop.bar.end(), "hello"), 1);
  for (const std::string& text : k.c.desktop.bar) EXPECT_EQ(text.find("Unknown code"), std::string::npos);
}

}  // namespace
}  // namespace ov
