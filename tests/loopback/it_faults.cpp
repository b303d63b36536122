// Broken and hostile OV servers against the client over real loopback sockets: resets in the middle of
// a frame, closes while the login dialog waits, byte-by-byte delivery, floods, connection churn and a
// server that stops reading. Peers that must act while the client waits in a nested loop run on their
// own thread with plain blocking POSIX calls.
#include <arpa/inet.h>
#include <dirent.h>
#include <gmock/gmock.h>
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <atomic>
#include <condition_variable>
#include <fstream>
#include <functional>
#include <mutex>
#include <set>
#include <thread>

#include "net/qt/posix_socket_api.h"
#include "net/qt/qt_event_loop.h"
#include "protocol/account_prompt.h"
#include "tests/common/fakes.h"
#include "tests/common/memory_figures.h"
#include "tests/loopback/it_ui.h"
#include "tests/loopback/loopback.h"
#include "wire/payload.h"

namespace ov {
namespace {

using namespace std::chrono_literals;

using test::Accept;
using test::Fd;
using test::Listener;
using test::PumpUntil;
using test::Receive;
using test::SendAll;

// One byte at a time, a pause after each: every read of the client finds a sliver of a frame.
bool SendSlowly(const Fd& peer, std::string_view bytes) {
  for (char byte : bytes) {
    if (!SendAll(peer, std::string_view(&byte, 1))) return false;
    std::this_thread::sleep_for(2ms);
  }
  return true;
}

using test::PeakRssKb;
using test::ResetPeakRss;
using test::RssKb;

int OpenFds() {
  int n = 0;
  if (DIR* dir = ::opendir("/proc/self/fd")) {
    while (::readdir(dir) != nullptr) ++n;
    ::closedir(dir);
  }
  return n;
}

// A peer thread that a test can hand a go-ahead to, and that is always joined.
class Peer {
 public:
  explicit Peer(std::function<void(Peer&)> script)
      : thread_([this, script] {
          test::peerStopped = &stopped_;
          script(*this);
          done = true;
        }) {}
  ~Peer() {
    Stop();
    thread_.join();
  }
  void Stop() {
    std::lock_guard lock(mutex_);
    stopped_ = true;
    changed_.notify_all();
  }
  void Signal(int value) {
    std::lock_guard lock(mutex_);
    signal_ = value;
    changed_.notify_all();
  }
  // Waits until the test signals at least value; false when the test stopped, gave up or patience ran out.
  bool AwaitSignal(int value) {
    std::unique_lock lock(mutex_);
    const auto giveUp = test::WaitClock::now() + std::chrono::milliseconds(test::kPatienceMs);
    while (!stopped_ && signal_ < value) {
      if (test::GaveUp()) return false;  // the test ended its waits
      if (test::WaitClock::now() > giveUp) {
        test::GiveUp("the peer gave up waiting for go-ahead " + std::to_string(value) + " (after " +
                     std::to_string(test::kPatienceMs) + " ms)");
        return false;
      }
      changed_.wait_for(lock, 50ms);
    }
    return !stopped_;
  }
  std::atomic<bool> done{false};

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int signal_ = 0;
  std::atomic<bool> stopped_{false};
  std::thread thread_;
};

// The login dialog of the fakes, telling the test when a step is shown.
class ObservedLoginDialog : public test::FakeLoginDialog {
 public:
  void ShowStep(const LoginStep& step) override {
    FakeLoginDialog::ShowStep(step);
    ++shown;
    if (onShow) onShow();
  }
  std::atomic<int> shown{0};
  std::function<void()> onShow;
};

// A whole client on the real sockets and event loop, with recording windows.
struct LiveClient {
  PosixSocketApi sockets;
  QtEventLoop loop;
  test::RecordingDesktop desktop;
  test::FakeTree tree;
  test::FakeWindowSystem windows;
  ObservedLoginDialog login;
  Client client{Platform{sockets, loop, desktop, tree, windows, login}};
  QObject context;

  LiveClient() {
    tree.onSelectionChanged = [this] { client.Selection().UpdateSelection(); };
    EXPECT_TRUE(client.InitClient("orvane-client"));
  }
  ~LiveClient() { client.ShutdownClient(); }

  // Every login step is answered with OK and these fields, from the dialog's own nested loop.
  void AnswerLogins(const std::string& name, const std::string& password) {
    login.onShow = [this, name, password] {
      QTimer::singleShot(0, &context, [this, name, password] {
        login.field1 = name;
        login.field2 = password;
        client.Prompts().Answer();
      });
    };
  }
  // Connects to a peer that listens on port: its end of the connection.
  Fd ConnectTo(const Fd& listener, uint16_t port) {
    client.Connections().ConnectToServer("127.0.0.1", port, 10);
    return Accept(listener);
  }
  int SlotsInUse() const {
    int n = 0;
    client.Sessions().ForEach([&](const Session&) { ++n; });
    return n;
  }
  bool Showed(const std::string& text) const {
    return std::find(desktop.bar.begin(), desktop.bar.end(), text) != desktop.bar.end();
  }
  size_t LogCount(const std::string& line) const {
    const auto& lines = client.Debug().Lines();
    return size_t(std::count(lines.begin(), lines.end(), line));
  }
  // Waits for done(); a flood keeps the patience going as long as the client keeps reading.
  bool Pump(const std::string& what, const std::function<bool()>& done) {
    return PumpUntil(loop, what, done, [this] { return client.Debug().TotalAppended(); });
  }
  // A test that gave up drops every connection: the prompts' waits end with them.
  void DropConnections() {
    for (int slot = 1; slot < kSlotCount; ++slot)
      if (client.Sessions().AtSlot(slot) != nullptr) client.Connections().Disconnect(slot, 1);
  }
  test::RescueOnGiveUp rescue{[this] { DropConnections(); }};
  // The recorders keep everything; a test that runs for long clears them so that they do not grow.
  void ForgetRecords() {
    desktop.Clear();
    desktop.timerStarts.clear();
    desktop.connectEnabled.clear();
  }
};

std::string Enciphered(int n, const std::string& plain) {
  MessageCipher cipher;
  cipher.BuildMessageKey();
  return MakeFrame(1000 + n, cipher.EncryptMsg(plain));
}

const std::string kSep(1, '\x80');
const std::string kStart(1, kFrameStart);

TEST(ClientUnderFaults, APeerResetInTheMiddleOfAFrameLeavesNothingHalfDone) {
  LiveClient c;
  uint16_t port = 0;
  Fd listener = Listener(&port);
  Fd peer = c.ConnectTo(listener, port);
  ASSERT_EQ(c.SlotsInUse(), 1);

  ASSERT_TRUE(SendAll(peer, MakeFrame(1001, "before") + kStart + "0000half a li"));
  ASSERT_TRUE(c.Pump("the frame before the reset", [&] { return c.Showed("before"); }));
  peer.Reset();
  ASSERT_TRUE(c.Pump("the client to see the reset", [&] { return c.SlotsInUse() == 0; }));
  EXPECT_EQ(c.desktop.Bar(), "Server closed connection");
  EXPECT_EQ(c.sockets.OpenSockets(), 0);

  // The next connection takes the same slot: the rest of the old frame is not glued to its head.
  Fd next = c.ConnectTo(listener, port);
  ASSERT_TRUE(SendAll(next, "ne\r\n\xFE" + MakeFrame(1001, "after")));
  ASSERT_TRUE(c.Pump("the frame on the next connection", [&] { return c.Showed("after"); }));
  EXPECT_EQ(c.LogCount("in_code: 0000"), 0u);
  EXPECT_TRUE(c.client.Sessions().AtSlot(1)->connected);
  for (const auto& window : c.client.Consoles().Windows())
    EXPECT_EQ(window->log.Text().find("half"), std::string::npos);
}

TEST(ClientUnderFaults, EveryFrameOfAReadHandedOverInTurnsCountsThoughThePeerClosesAtOnce) {
  LiveClient c;
  uint16_t port = 0;
  Fd listener = Listener(&port);
  Fd peer = c.ConnectTo(listener, port);
  ASSERT_EQ(c.SlotsInUse(), 1);

  // Many cheap frames in one write, and the close right behind them: more than one turn's worth.
  const size_t count = 8 * kFramesPerTurn;
  std::string burst;
  for (size_t i = 0; i < count; ++i) burst += MakeFrame(1001, "n" + std::to_string(i));
  ASSERT_LT(burst.size(), kReceiveBufferSize);
  ASSERT_TRUE(SendAll(peer, burst));
  peer.Close();
  ASSERT_TRUE(c.Pump("the client to see the close", [&] { return c.SlotsInUse() == 0; }));
  std::vector<std::string> want;
  for (size_t i = 0; i < count; ++i) want.push_back("n" + std::to_string(i));
  want.push_back("Server closed connection");
  std::vector<std::string> shown;
  for (const std::string& text : c.desktop.bar) {
    if (text.rfind("n", 0) == 0 || text == "Server closed connection") shown.push_back(text);
  }
  EXPECT_EQ(shown, want);
}

TEST(ClientUnderFaults, APeerThatGoesWhileTheLoginDialogWaitsGetsNoAnswerAndWedgesNothing) {
  LiveClient c;
  uint16_t port = 0;
  Fd listener = Listener(&port);
  // The login request comes at once, so the dialog may open inside the connect wait; the peer goes
  // (orderly the first time, by a reset the second) as soon as it shows, then reads all it was sent.
  for (const bool reset : {false, true}) {
    SCOPED_TRACE(reset ? "reset" : "orderly close");
    c.login.shown = 0;
    std::string answered = "<none>";
    {
      Peer peer([&](Peer& self) {
        Fd s = Accept(listener);
        SendAll(s, Enciphered(900, "Who goes there"));
        self.AwaitSignal(1);
        if (reset) {
          answered = "";
          s.Reset();
        } else {
          ::shutdown(s.fd, SHUT_WR);
          answered = Receive(s, 1 << 16);
        }
      });
      c.login.onShow = [&] { peer.Signal(1); };
      c.client.Connections().ConnectToServer("127.0.0.1", port, 10);
      ASSERT_TRUE(c.Pump("the close to end the connection and its prompt",
                         [&] { return c.SlotsInUse() == 0 && !c.login.visible; }));
    }
    c.login.onShow = nullptr;
    EXPECT_EQ(answered, "");
    EXPECT_EQ(c.login.shown, 1);
    EXPECT_TRUE(c.Showed("Server closed connection"));
  }

  // Nothing of the abandoned prompts lingers: the next login is shown and answered as usual.
  c.AnswerLogins("admin", "pw");
  Fd peer = c.ConnectTo(listener, port);
  ASSERT_TRUE(SendAll(peer, Enciphered(900, "Again")));
  const std::string login = Enciphered(905, PadTo8("admin") + PadTo16("pw"));
  std::string got;
  ASSERT_TRUE(c.Pump("the client's login answer", [&] {
    char buffer[256];
    const ssize_t n = ::recv(peer.fd, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n > 0) got.append(buffer, size_t(n));
    return got.size() >= login.size();
  }));
  EXPECT_TRUE(got == login);
  EXPECT_EQ(c.login.steps.back().caption, "Again");
}

TEST(ClientUnderFaults, AServerThatSendsOneByteAtATimeStillLogsInAndFillsTheRegistry) {
  LiveClient c;
  c.AnswerLogins("admin", "pw");
  uint16_t port = 0;
  Fd listener = Listener(&port);
  Fd s;
  std::string fromClient;
  const std::string login = Enciphered(905, PadTo8("admin") + PadTo16("pw"));
  const std::string answers = MakeFrame(1029, "") + MakeFrame(1022, "") + MakeFrame(1024, "5");
  const std::string watch = MakeFrame(1042, "5");
  Peer peer([&](Peer&) {
    s = Accept(listener);
    SendSlowly(s, Enciphered(900, "Slow box"));
    fromClient = Receive(s, login.size());
    SendSlowly(s, MakeFrame(1021, "Orvane 1.0" + kSep + "Slow") +
                      MakeFrame(1031, "standin" + kSep + "quake") + MakeFrame(1027, "5"));
    fromClient += Receive(s, answers.size());
    SendSlowly(s, MakeFrame(1025, "5" + kSep + "standin" + kSep + "Duel" + kSep + "+map e1m1" + kSep + "1" +
                                      kSep + "1") +
                      MakeFrame(5, "hello\r\n") + MakeFrame(0, "welcome\r\n"));
    fromClient += Receive(s, watch.size());
  });
  c.client.Connections().ConnectToServer("127.0.0.1", port, 10);
  const auto& windows = c.client.Consoles().Windows();
  ASSERT_TRUE(c.Pump("the slow server's welcome in its window", [&] {
    return peer.done && windows.size() == 2 && windows[0]->log.Text().find("welcome") != std::string::npos;
  }));
  EXPECT_TRUE(fromClient == login + answers + watch);

  EXPECT_EQ(c.tree.Texts(), std::vector<std::string>{"[OV]Slow"});
  EXPECT_EQ(c.tree.Texts(c.tree.top[0]), std::vector<std::string>{"[G]Duel"});
  EXPECT_EQ(c.client.Sessions().OfferedTypes(1), (std::vector<std::string>{"standin", "quake"}));
  EXPECT_EQ(windows[0]->log.Text(), "welcome\r\n");
  EXPECT_EQ(windows[1]->log.Text(), "hello\r\n");
  EXPECT_EQ(windows[1]->caption, "Duel");
  for (const std::string& text : c.desktop.bar) EXPECT_EQ(text.find("Unknown code"), std::string::npos);
}

TEST(ClientUnderFaults, AFrameThatNeverEndsIsDroppedInBoundedMemoryAndTheConnectionGoesOn) {
  LiveClient c;
  uint16_t port = 0;
  Fd listener = Listener(&port);
  Fd s = c.ConnectTo(listener, port);
  const int socket = c.client.Sessions().AtSlot(1)->Socket();

  constexpr size_t kFlood = 16 << 20;
  const long before = RssKb();
  ResetPeakRss();
  {
    Peer peer([&](Peer&) {
      // From one small buffer, so that the peer's own memory stays out of the figures.
      const std::string chunk(64 << 10, 'x');
      SendAll(s, kStart + "0000");
      for (size_t sent = 0; sent < kFlood; sent += chunk.size()) SendAll(s, chunk);
      SendAll(s, "\xFE" + MakeFrame(1001, "still here"));
    });
    ASSERT_TRUE(c.Pump("the frame after the endless one", [&] { return c.Showed("still here"); }));
  }
  const long peak = PeakRssKb();
  std::cout << "[ figures  ] " << kFlood / 1024 << " KiB without an end byte: peak RSS " << peak - before
            << " KiB above the " << before << " KiB before; debug log " << c.client.Debug().Bytes() / 1024
            << " KiB\n";
  if (OV_MEMORY_MEASURED) {
    EXPECT_LT(peak - before, long(kMaxFrameSize / 1024) * 4);
  }
  const std::string dropped = "Socket (" + std::to_string(socket) + ") Oversized frame dropped";
  EXPECT_EQ(std::count(c.desktop.bar.begin(), c.desktop.bar.end(), dropped), 1);
  EXPECT_EQ(c.LogCount("in_code: 0000"), 0u);
  EXPECT_TRUE(c.client.Sessions().AtSlot(1)->connected);
}

TEST(ClientUnderFaults, TenThousandServerAnnouncementsAreEachAnsweredWithOneWindow) {
  LiveClient c;
  uint16_t port = 0;
  Fd listener = Listener(&port);
  Fd s = c.ConnectTo(listener, port);

  constexpr int kCount = 10000;
  std::string flood;
  for (int i = 0; i < kCount; ++i) flood += MakeFrame(1021, "Orvane 1.0" + kSep + "Flood");
  std::string expected;
  for (int i = 0; i < kCount; ++i) expected += MakeFrame(1029, "") + MakeFrame(1022, "");
  std::string answers;
  const long before = RssKb();
  ResetPeakRss();
  {
    Peer peer([&](Peer&) {
      SendAll(s, flood);
      answers = Receive(s, expected.size());
    });
    ASSERT_TRUE(c.Pump("the answers to every announcement", [&] { return peer.done.load(); }));
  }
  std::cout << "[ figures  ] " << kCount << " announcements: peak RSS " << PeakRssKb() - before
            << " KiB above the " << before << " KiB before; debug log " << c.client.Debug().Bytes() / 1024
            << " KiB\n";
  EXPECT_TRUE(answers == expected);
  // One node and one window serve them all: each repeat renames what the connection has.
  EXPECT_EQ(c.tree.Texts(), std::vector<std::string>{"[OV]Flood"});
  ASSERT_EQ(c.client.Consoles().Windows().size(), 1u);
  EXPECT_EQ(c.windows.views[0]->broughtToFront, kCount - 1);
  EXPECT_LE(c.client.Debug().Lines().size(), DebugLog::kMaxLines);

  // The close takes the node with it: nothing is left behind.
  s.Close();
  ASSERT_TRUE(c.Pump("the client to see the close", [&] { return c.SlotsInUse() == 0; }));
  EXPECT_TRUE(c.tree.nodes.empty());
}

TEST(ClientUnderFaults, TwentyConnectionsOpenedAndDroppedAThousandTimesGiveEverythingBack) {
  LiveClient c;
  uint16_t port = 0;
  Fd listener = Listener(&port, 32);
  constexpr int kCycles = 1000;
  constexpr int kWarmUp = 50;
  constexpr int kAtOnce = kSlotCount - 1;
  // The peer accepts all twenty, and drops them when told: by a reset, or in order every other cycle.
  Peer peer([&](Peer& self) {
    for (int cycle = 1; cycle <= kCycles; ++cycle) {
      std::vector<Fd> open;
      for (int i = 0; i < kAtOnce; ++i) open.push_back(Accept(listener));
      if (!self.AwaitSignal(cycle)) return;
      for (Fd& s : open) cycle % 2 ? s.Reset() : s.Close();
    }
  });
  const int fds = OpenFds();
  long warm = 0;
  for (int cycle = 1; cycle <= kCycles; ++cycle) {
    for (int i = 0; i < kAtOnce; ++i) c.client.Connections().ConnectToServer("127.0.0.1", port, 10);
    ASSERT_EQ(c.SlotsInUse(), kAtOnce) << "cycle " << cycle;
    if (cycle == 1) {
      c.client.Connections().ConnectToServer("127.0.0.1", port, 10);
      EXPECT_EQ(c.desktop.boxes, std::vector<std::string>{"Maximum servers connected already"});
    }
    peer.Signal(cycle);
    ASSERT_TRUE(c.Pump("every connection of the cycle to close", [&] { return c.SlotsInUse() == 0; }))
        << "cycle " << cycle;
    ASSERT_EQ(std::count(c.desktop.bar.begin(), c.desktop.bar.end(), "Server closed connection"), kAtOnce);
    c.ForgetRecords();
    if (cycle == kWarmUp) warm = RssKb();
  }
  const long end = RssKb();
  std::cout << "[ figures  ] " << kCycles * kAtOnce << " connections survived; RSS " << warm << " KiB after "
            << kWarmUp << " cycles, " << end << " KiB after " << kCycles << "; debug log "
            << c.client.Debug().Bytes() / 1024 << " KiB\n";
  EXPECT_EQ(c.sockets.OpenSockets(), 0);
  EXPECT_EQ(OpenFds(), fds);
  if (OV_MEMORY_MEASURED) {
    EXPECT_LT(end - warm, 2048);
  }
  EXPECT_EQ(c.client.Sessions().FreeSlot(), 1);
}

TEST(ClientUnderFaults, AServerThatStopsReadingIsDroppedWithBoundedMemoryWhileTheOthersGoOn) {
  LiveClient c;
  uint16_t port = 0;
  Fd listener = Listener(&port);
  Fd stuck = c.ConnectTo(listener, port);
  Fd lively = c.ConnectTo(listener, port);
  ASSERT_EQ(c.SlotsInUse(), 2);
  const int socket = c.client.Sessions().AtSlot(1)->Socket();

  // The user keeps typing long lines into the console of a server that reads nothing.
  const std::string line(60000, 'y');
  const long before = RssKb();
  ResetPeakRss();
  size_t sent = 0;
  test::WaitFor(
      "the client to drop the server that stopped reading",
      [&] {
        if (c.client.Sessions().AtSlot(1) == nullptr || sent >= (256u << 20)) return true;
        c.client.Sender().SendConsole(1, 0, line);
        sent += line.size();
        return false;
      },
      [&](test::WaitClock::time_point) { c.loop.WaitForEvents(Clock::now()); });
  const long peak = PeakRssKb();
  std::cout << "[ figures  ] a server that stopped reading was dropped after " << sent / 1024
            << " KiB typed; peak RSS " << peak - before << " KiB above the " << before
            << " KiB before; debug log " << c.client.Debug().Bytes() / 1024 << " KiB\n";
  EXPECT_EQ(c.client.Sessions().AtSlot(1), nullptr);
  EXPECT_TRUE(c.Showed("Socket (" + std::to_string(socket) + ") Server not reading - disconnecting"));
  if (OV_MEMORY_MEASURED) {
    EXPECT_LT(peak - before, long(kMaxUnsent / 1024) * 4);
  }

  // The other connection never noticed: both ways still work.
  ASSERT_TRUE(SendAll(lively, MakeFrame(1001, "alive")));
  ASSERT_TRUE(c.Pump("the other connection's frame", [&] { return c.Showed("alive"); }));
  c.client.Sender().SendConsole(2, 0, "status");
  EXPECT_TRUE(Receive(lively, 12) == MakeFrame(0, "status"));
}

TEST(ClientUnderFaults, AFloodOfFramesToComplainAboutNeverHoldsTheProgramInItsBeeps) {
  // The whole program, with the real desktop: every unknown code is reported with a beep.
  it::LiveProgram program;
  ASSERT_TRUE(program.started);
  uint16_t port = 0;
  Fd listener = Listener(&port);
  program.client.Connections().ConnectToServer("127.0.0.1", port, 10);
  Fd s = Accept(listener);

  constexpr int kFrames = 2000;
  std::string flood;
  for (int i = 0; i < kFrames; ++i) flood += kStart + "ABCD" + kFrameEnd;
  QElapsedTimer clock;
  clock.start();
  ASSERT_TRUE(SendAll(s, flood));
  const auto& lines = program.client.Debug().Lines();
  ASSERT_TRUE(it::PumpUntil("every unknown frame in the debug log", [&] {
    return std::count(lines.begin(), lines.end(), "in_code: ABCD") == kFrames;
  }));
  EXPECT_EQ(program.StatusText(), "Unknown code received - ABCD");

  // Beeps are rationed, four at once and then one per 100 ms of the time it all took; none holds the
  // program up.
  const int sounded = dynamic_cast<QtDesktop&>(program.ui.DesktopSeam()).SoundedBeeps();
  EXPECT_GT(sounded, 0);
  EXPECT_LE(sounded, 4 + clock.elapsed() / 100 + 1);
  ASSERT_TRUE(SendAll(s, MakeFrame(1001, "still listening")));
  ASSERT_TRUE(
      it::PumpUntil("the frame after the flood", [&] { return program.StatusText() == "still listening"; }));
}

// Account requests flood in from one server, or twenty at once, while the user has not answered yet:
// each server has one prompt at a time, those that come while it waits are refused with a note (those
// of the same read that follow it are asked in their turn), and nothing nests.
TEST(ClientUnderFaults, FloodsOfLoginRequestsAreRefusedBeyondOnePromptPerServer) {
  struct Case {
    int peers;
    int each;
  };
  for (const Case k : {Case{1, 20000}, Case{kSlotCount - 1, 200}}) {
    SCOPED_TRACE(std::to_string(k.peers) + " peers");
    LiveClient c;
    uint16_t port = 0;
    Fd listener = Listener(&port, 32);
    for (int i = 0; i < k.peers; ++i) c.client.Connections().ConnectToServer("127.0.0.1", port, 10);
    ASSERT_EQ(c.SlotsInUse(), k.peers);
    std::vector<Fd> peers;
    for (int i = 0; i < k.peers; ++i) peers.push_back(Accept(listener));

    // Each request has its own caption, so that a prompt given back after another is not counted twice.
    std::vector<std::string> floods(size_t(k.peers));
    for (int p = 0; p < k.peers; ++p)
      for (int i = 0; i < k.each; ++i)
        floods[size_t(p)] += Enciphered(900, "Peer " + std::to_string(p) + " flood " + std::to_string(i));
    auto prompts = [&] {
      std::set<std::string> captions;
      for (const LoginStep& step : c.login.steps) captions.insert(step.caption);
      return int(captions.size());
    };
    const std::string login = Enciphered(905, PadTo8("admin") + PadTo16("pw"));
    const std::string note = "Account prompt refused - the server already has one waiting";

    // The user takes a moment over each prompt, so that the flood arrives while it waits.
    int refused = 0;
    int nested = 0;  // prompts shown over an unanswered one of the same server
    int unanswered = 0;
    c.login.onShow = [&] {
      if (k.peers == 1 && unanswered > 0) ++nested;
      ++unanswered;
      QTimer::singleShot(1, &c.context, [&] {
        --unanswered;
        c.login.field1 = "admin";
        c.login.field2 = "pw";
        c.client.Prompts().Answer();
      });
    };
    const long before = RssKb();
    ResetPeakRss();
    {
      std::vector<std::unique_ptr<Peer>> threads;
      for (int i = 0; i < k.peers; ++i)
        threads.push_back(
            std::make_unique<Peer>([&, i](Peer&) { SendAll(peers[size_t(i)], floods[size_t(i)]); }));
      ASSERT_TRUE(c.Pump("every login request to be prompted or refused",
                         [&] {
                           refused += int(std::count(c.desktop.bar.begin(), c.desktop.bar.end(), note));
                           c.ForgetRecords();
                           return refused + prompts() == k.peers * k.each && !c.login.visible;
                         }))
          << refused << " refused, " << prompts() << " prompts";
    }
    const long peak = PeakRssKb();
    const long after = RssKb();
    std::cout << "[ figures  ] " << k.peers * k.each << " login requests from " << k.peers
              << " peer(s): " << prompts() << " prompts, " << refused << " refused; peak RSS "
              << peak - before << " KiB above the " << before << " KiB before, " << after - before
              << " KiB after; debug log " << c.client.Debug().Bytes() / 1024 << " KiB in "
              << c.client.Debug().Lines().size() << " lines\n";
    // Every prompt shown was answered to its own server, once (the last answers may still be on the way).
    std::vector<std::string> got(peers.size());
    auto logins = [&](const std::string& bytes) {
      int n = 0;
      for (size_t at = bytes.find(login); at != std::string::npos; at = bytes.find(login, at + 1)) ++n;
      return n;
    };
    int answered = 0;
    c.Pump("an answer to every prompt shown", [&] {
      answered = 0;
      for (size_t i = 0; i < peers.size(); ++i) {
        got[i] += test::ReadAvailable(peers[i]);
        answered += logins(got[i]);
      }
      return answered >= prompts();
    });
    for (const std::string& bytes : got) {
      EXPECT_EQ(bytes.size(), logins(bytes) * login.size());
      EXPECT_GE(logins(bytes), 1);
    }
    EXPECT_EQ(answered, prompts());
    EXPECT_EQ(nested, 0);
    EXPECT_EQ(c.SlotsInUse(), k.peers);
    EXPECT_LE(c.client.Debug().Bytes(), DebugLog::kMaxBytes);
    if (OV_MEMORY_MEASURED) {
      EXPECT_LT(after - before, 8 * 1024);
    }
  }
}

TEST(ClientUnderFaults, HugePayloadsThatDoNothingLeaveTheDebugLogBounded) {
  LiveClient c;
  uint16_t port = 0;
  Fd listener = Listener(&port);
  Fd s = c.ConnectTo(listener, port);

  constexpr int kFrames = 200;
  constexpr size_t kPayload = 1000000;
  const long before = RssKb();
  ResetPeakRss();
  {
    Peer peer([&](Peer&) {
      const std::string frame = MakeFrame(1000, std::string(kPayload, 'p'));
      for (int i = 0; i < kFrames; ++i) SendAll(s, frame);
      SendAll(s, MakeFrame(1001, "done"));
    });
    ASSERT_TRUE(c.Pump("the frame after the payloads", [&] { return c.Showed("done"); }));
  }
  const long peak = PeakRssKb();
  std::cout << "[ figures  ] " << kFrames << " payloads of " << kPayload / 1000 << " kB: debug log "
            << c.client.Debug().Bytes() / 1024 << " KiB in " << c.client.Debug().Lines().size()
            << " lines; peak RSS " << peak - before << " KiB above the " << before << " KiB before, "
            << RssKb() - before << " KiB after\n";
  EXPECT_LE(c.client.Debug().Bytes(), DebugLog::kMaxBytes);
  size_t cut = 0;
  for (const std::string& line : c.client.Debug().Lines()) {
    EXPECT_LE(line.size(), DebugLog::kMaxLineBytes + 40);
    if (line.rfind("decrypted msg: ppp", 0) == 0) {
      ++cut;
      EXPECT_NE(line.find(" more bytes not logged]"), std::string::npos);
    }
  }
  EXPECT_GT(cut, 0u);
  if (OV_MEMORY_MEASURED) {
    EXPECT_LT(RssKb() - before, 32 * 1024);
  }
}

// A wait for what never comes ends the test with a message, after the patience and not at the
// runner's time-out.
void WaitForALoginThatNeverComes() {
  LiveClient c;
  uint16_t port = 0;
  Fd listener = Listener(&port);
  Fd s = c.ConnectTo(listener, port);
  PumpUntil(
      c.loop, "a login that never comes", [&] { return c.login.visible; }, nullptr, 200);
}

TEST(ClientUnderFaults, AWaitForWhatNeverComesFailsWithAMessage) {
  EXPECT_NONFATAL_FAILURE(WaitForALoginThatNeverComes(), "gave up waiting for a login that never comes");
}

// A wait nested in another (here in its condition) ends by the outer wait's deadline, however long its
// own patience; and once a wait of the test gave up, a later one does not wait at all.
TEST(ClientUnderFaults, NestedWaitsNeverAddUpAndAfterGivingUpNoWaitWaits) {
  constexpr int kLongMs = 60000;
  ::testing::TestPartResultArray failures;
  const auto start = test::WaitClock::now();
  {
    ::testing::ScopedFakeTestPartResultReporter intercept(
        ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &failures);
    EXPECT_FALSE(test::PumpQt(
        "the outer condition",
        [] {
          return test::PumpQt(
              "the inner condition", [] { return false; }, kLongMs);
        },
        200));
    EXPECT_FALSE(test::PumpQt(
        "a later condition", [] { return false; }, kLongMs));
  }
  EXPECT_LT(test::WaitClock::now() - start, std::chrono::milliseconds(kLongMs / 2));
  ASSERT_EQ(failures.size(), 2);
  EXPECT_THAT(failures.GetTestPartResult(0).message(),
              ::testing::HasSubstr("waiting for the inner condition"));
  EXPECT_THAT(failures.GetTestPartResult(1).message(),
              ::testing::HasSubstr("waiting for a later condition (after 0 ms) (not waited for"));
}

}  // namespace
}  // namespace ov
