// The reference OV server under attack over real loopback: malformed frames, a crowd of clients,
// password guessing, tricks in start requests, and game servers that flood their output or will not
// stop.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QHostAddress>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <random>

#include "app/start_server.h"
#include "ovserver/accounts.h"
#include "ovserver/game_servers.h"
#include "ovserver/log.h"
#include "ovserver/ov_server.h"
#include "ovserver/peer_log.h"
#include "protocol/account_prompt.h"
#include "tests/common/full_disk.h"
#include "tests/common/memory_figures.h"
#include "tests/common/qt_wait.h"
#include "wire/cipher.h"
#include "wire/payload.h"

namespace ovs {
namespace {

using ov::test::kPatienceMs;

// Handles events until done() holds; a failure that says what it waited for when it never does. A flood
// passes progress, a count that grows while the work goes on.
bool Pump(const std::string& what, const std::function<bool()>& done, int patienceMs = kPatienceMs,
          const std::function<uint64_t()>& progress = nullptr) {
  return ov::test::PumpQt(what, done, patienceMs, progress);
}

using ov::test::ResetPeakRss;
using ov::test::StatusKb;

// Gone, or a zombie that nobody will wait for: either way it runs no more.
bool Gone(qint64 pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return true;
  const size_t close = line.rfind(')');
  return close == std::string::npos || line.substr(close + 2, 1) == "Z";
}

// A client speaking the protocol by hand. It keeps the frames it receives, or only counts them per
// code when keep is off (for floods: control messages and the OV server's console are kept still).
class Peer {
 public:
  explicit Peer(quint16 port, bool keep = true) : keep_(keep) {
    Wire();
    socket_.connectToHost(QHostAddress::LocalHost, port);
  }
  // From a loopback address of its own.
  Peer(quint16 port, const QHostAddress& from) : keep_(true) {
    Wire();
    socket_.bind(from);
    socket_.connectToHost(QHostAddress::LocalHost, port);
  }
  // Adopts a socket connected elsewhere.
  Peer(int descriptor, bool keep) : keep_(keep) {
    Wire();
    socket_.setSocketDescriptor(descriptor);
  }

  void Send(const std::string& bytes) { socket_.write(bytes.data(), qint64(bytes.size())); }
  void Control(int n, const std::string& payload) {
    Send(ov::MakeFrame(1000 + n, n >= 900 ? cipher_.EncryptMsg(payload) : payload));
  }
  void Console(int id, const std::string& text) { Send(ov::MakeFrame(id, text)); }
  void Login(const std::string& name, const std::string& password) {
    Control(905, ov::PadTo8(name) + ov::PadTo16(password));
  }

  // Waits for the next frame with this code (and holding text) from the cursor on; its payload.
  std::string Expect(const std::string& code, const std::string& text = "", int patienceMs = kPatienceMs) {
    size_t found = frames.size();
    const bool arrived = Pump(
        "a frame " + code + " with \"" + text + "\"",
        [&] {
          for (size_t i = cursor_; i < frames.size(); ++i)
            if (frames[i].code == code && frames[i].payload.find(text) != std::string::npos)
              return (found = i), true;
          return false;
        },
        patienceMs);
    if (!arrived) return "<none>";
    cursor_ = found + 1;
    return frames[found].payload;
  }
  bool WaitClosed() {
    return Pump("the server to close the connection",
                [&] { return socket_.state() == QAbstractSocket::UnconnectedState; });
  }
  bool Open() const { return socket_.state() == QAbstractSocket::ConnectedState; }
  size_t Count(const std::string& code, const std::string& text = "") const {
    size_t count = 0;
    for (const ov::Frame& frame : frames)
      if (frame.code == code && frame.payload.find(text) != std::string::npos) ++count;
    return count;
  }
  size_t Counted(const std::string& code) const {
    const auto found = counts_.find(code);
    return found == counts_.end() ? 0 : found->second;
  }

  std::vector<ov::Frame> frames;

 private:
  void Wire() {
    cipher_.BuildMessageKey();
    QObject::connect(&socket_, &QTcpSocket::readyRead, [this] {
      const QByteArray data = socket_.readAll();
      auto result = assembler_.Feed(std::string_view(data.constData(), size_t(data.size())));
      for (ov::Frame& frame : result.frames) {
        ++counts_[frame.code];
        if (keep_ || frame.code.rfind('1', 0) == 0 || frame.code == "0000")
          frames.push_back(std::move(frame));
      }
    });
  }
  bool keep_;
  QTcpSocket socket_;
  ov::FrameAssembler assembler_;
  ov::MessageCipher cipher_;
  size_t cursor_ = 0;
  std::map<std::string, size_t> counts_;
};

class OvsUnderAttack : public ::testing::Test {
 protected:
  void SetUp() override {
    SetLogSink([this](const std::string& line) { log.push_back(line); });
    accounts = std::make_unique<AccountStore>(dir.filePath("accounts").toStdString(), 1000);
    std::string error;
    ASSERT_EQ(accounts->Add("admin", "secret", true, error), AccountStore::Outcome::Done);
    ASSERT_EQ(accounts->Add("guest", "welcome", false, error), AccountStore::Outcome::Done);
    config.types.push_back({"standin", STANDIN_SERVER, {"--interval", "3600"}});
    config.loginDelayMs = 10;
    config.hashIterations = 1000;
  }
  void TearDown() override {
    server.reset();
    SetLogSink(nullptr);
  }

  void StartServer() {
    server = std::make_unique<OvServer>(config, *accounts);
    std::string error;
    ASSERT_TRUE(server->Listen(QHostAddress::LocalHost, 0, error)) << error;
  }
  std::unique_ptr<Peer> LoggedIn(bool keep = true) {
    auto peer = std::make_unique<Peer>(server->Port(), keep);
    peer->Expect("1900");
    peer->Login("admin", "secret");
    peer->Expect("1031");
    return peer;
  }
  // Starts a server of the type through peer and opens its console: the id.
  int Start(Peer& peer, const std::string& request) {
    peer.Control(26, request);
    const std::string id = peer.Expect("1027");
    peer.Control(24, id);
    peer.Expect("1025");
    peer.Control(42, id);
    return ov::ParseInt(id, -1);
  }
  size_t Logged(const std::string& text) const {
    return size_t(std::count_if(log.begin(), log.end(), [&](const std::string& line) {
      return line.find(text) != std::string::npos;
    }));
  }

  QTemporaryDir dir;
  std::unique_ptr<AccountStore> accounts;
  ServerConfig config;
  std::unique_ptr<OvServer> server;
  std::vector<std::string> log;
};

// Bytes that look like frames often enough to reach every branch of the request reader and handler.
std::string Garbage(std::mt19937& random, size_t size) {
  static const std::vector<std::string> pieces = {"\xFD",       "\xFE", "\x80",    std::string(1, '\0'),
                                                  "\x07\x05",   "1905", "1906",    "1907",
                                                  "1026",       "1024", "1042",    "1041",
                                                  "0000",       "0007", "9999",    "-001",
                                                  "1-01",       " 123", "1xyz",    "XXXX",
                                                  "2147483648", "help", "newuser", "chpwd",
                                                  "kill 1",     "\r\n", "x"};
  std::string out;
  while (out.size() < size) {
    out += pieces[random() % pieces.size()];
    if (random() % 4 == 0) out += char(random() % 256);
  }
  return out;
}

TEST_F(OvsUnderAttack, MalformedFramesFromManyPeersBreakNothing) {
  StartServer();
  std::mt19937 random(20240611);
  std::vector<std::unique_ptr<Peer>> strangers;  // never log in
  std::vector<std::unique_ptr<Peer>> members;    // logged in first
  for (int i = 0; i < 4; ++i) {
    strangers.push_back(std::make_unique<Peer>(server->Port()));
    members.push_back(LoggedIn());
  }
  const auto framed = [](const std::string& code, const std::string& payload) {
    return "\xFD" + code + payload + "\xFE";
  };
  const std::string marker = "\x07\x05";
  const std::vector<std::string> crafted = {"\xFD",
                                            framed("", ""),
                                            framed("1", ""),
                                            framed("1905", ""),
                                            framed("1905", marker + "short"),
                                            framed("1907", marker + std::string(39, 'a')),
                                            framed("1906", marker + std::string(29, '\xFE')),
                                            framed("1026", ""),
                                            framed("1026", "\x80\x80\x80\x80"),
                                            framed("1026", "nosuch\x80\x80\x80"),
                                            framed("1024", "-1"),
                                            framed("1042", "99999999999999999"),
                                            framed("1041", ""),
                                            framed("0000", ""),
                                            framed("0000", std::string(5000, '\0')),
                                            framed("2000", "kill"),
                                            framed("1-01", ""),
                                            framed("-001", ""),
                                            framed("+123", ""),
                                            framed("9999", "9"),
                                            framed("1907", ""),
                                            framed("1902", "chpwd")};
  for (auto* group : {&strangers, &members}) {
    for (auto& peer : *group) {
      for (const std::string& frame : crafted) peer->Send(frame);
      peer->Send(Garbage(random, 256 << 10));
      // Whatever half frame the garbage ended in is closed, so that the next request stands alone.
      peer->Send(std::string(64, '\xFE'));
    }
  }
  for (auto& peer : strangers) EXPECT_TRUE(peer->WaitClosed());
  for (auto& peer : members) {
    peer->Console(0, "who");
    peer->Expect("0000", "(you)");
  }
  EXPECT_EQ(server->SessionCount(), members.size());
  EXPECT_EQ(server->Games().Count(), 0u);
  EXPECT_EQ(accounts->Size(), 2u);
  EXPECT_EQ(Logged(" logged in"), members.size());
  auto late = LoggedIn();
  late->Console(0, "who");
  late->Expect("0000", std::to_string(members.size() + 1) + " connected");
}

TEST_F(OvsUnderAttack, TwoHundredClientsAtOnceAreAllAcceptedAndServed) {
  // All come from one address as two users here: the limits per address and per user are lifted as if
  // each had their own, and all may wait to log in at once.
  config.maxConnections = 4 * 200 / 3 + 1;
  config.maxConnectionsPerUser = 256;
  config.maxLoginsPerAddress = 256;
  config.maxWaitingChecks = 256;
  config.maxWaitingChecksPerAddress = 256;
  config.logLinesPerSecond = 100000;  // every line is counted below
  StartServer();
  constexpr int kClients = 200;
  // All connect before the server runs once: every one must be taken into the accept queue at once,
  // not dropped to retry its handshake a second or more later.
  std::vector<int> descriptors;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(server->Port());
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  for (int i = 0; i < kClients; ++i) {
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    ::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
    descriptors.push_back(s);
  }
  int established = 0;
  for (int s : descriptors) {
    tcp_info info{};
    socklen_t size = sizeof info;
    ::getsockopt(s, IPPROTO_TCP, TCP_INFO, &info, &size);
    established += info.tcpi_state == TCP_ESTABLISHED;
  }
  EXPECT_EQ(established, kClients);

  std::vector<std::unique_ptr<Peer>> peers;
  for (int s : descriptors) peers.push_back(std::make_unique<Peer>(s, true));
  for (size_t i = 0; i < peers.size(); ++i) {
    peers[i]->Expect("1900");
    peers[i]->Login(i % 2 ? "admin" : "guest", i % 2 ? "secret" : "welcome");
  }
  for (auto& peer : peers) peer->Expect("1031");
  EXPECT_EQ(server->SessionCount(), size_t(kClients));

  // One starts a game server: every one hears of it and can watch its console.
  const int id = Start(*peers[0], "standin\x80+map e1m1");
  for (auto& peer : peers) {
    if (peer == peers[0]) continue;
    EXPECT_EQ(peer->Expect("1027"), std::to_string(id));
    peer->Control(24, std::to_string(id));
    peer->Control(42, std::to_string(id));
  }
  peers[0]->Console(id, "say to all");
  for (auto& peer : peers) peer->Expect(ov::FormatCode(id), "Server: to all");
  peers[1]->Console(0, "who");
  peers[1]->Expect("0000", std::to_string(kClients) + " connected");

  peers.clear();
  ASSERT_TRUE(Pump("every session to end", [&] { return server->SessionCount() == 0; }));
  EXPECT_EQ(Logged(" closed"), size_t(kClients));
}

TEST_F(OvsUnderAttack, WrongPasswordsCostTimeAndCannotBeBatched) {
  config.loginDelayMs = 2000;
  config.guessDelayMs = 100;
  StartServer();
  ov::MessageCipher cipher;
  cipher.BuildMessageKey();
  const auto connected = [&] {
    auto peer = std::make_unique<Peer>(server->Port());
    peer->Expect("1900");
    return peer;
  };

  // Three guesses at once; each answer waits, and the server serves others meanwhile.
  std::vector<std::unique_ptr<Peer>> guessers;
  for (int i = 0; i < 3; ++i) guessers.push_back(connected());
  QElapsedTimer sinceGuess;
  sinceGuess.start();
  for (int i = 0; i < 3; ++i) guessers[i]->Login("admin", "guess" + std::to_string(i));
  auto bystander = connected();
  bystander->Login("guest", "welcome");
  bystander->Expect("1031");
  for (auto& peer : guessers) EXPECT_EQ(peer->Count("1003"), 0u);

  // Many guesses in one write: the first is answered, the rest are never checked.
  auto batch = connected();
  std::string guesses;
  for (const char* password : {"one", "two", "three", "four", "welcome"})
    guesses += ov::MakeFrame(1905, cipher.EncryptMsg(ov::PadTo8("guest") + ov::PadTo16(password)));
  batch->Send(guesses);

  for (auto& peer : guessers) {
    EXPECT_EQ(peer->Expect("1003"), "Login failed: wrong login name or password");
    EXPECT_TRUE(peer->WaitClosed());
  }
  // Qt's coarse timers may fire a twentieth early, and both clocks count whole milliseconds.
  EXPECT_GE(sinceGuess.elapsed(), config.loginDelayMs * 9 / 10);
  EXPECT_EQ(batch->Expect("1003"), "Login failed: wrong login name or password");
  EXPECT_TRUE(batch->WaitClosed());
  EXPECT_EQ(batch->Count("1031"), 0u);
  EXPECT_EQ(Logged("failed login as \"guest\""), 1u);
}

// A stranger guessing a name's password from any address, as fast as answered, slows only the checks
// of that name: its owner, with the right password, gets in within the longest wait.
TEST_F(OvsUnderAttack, TheAdminLogsInWhileAStrangerGuessesTheirPasswordAndWhileStrangersDripBytes) {
  config.guessDelayMs = 100;
  config.guessDelayMaxSeconds = 1;
  config.silentTimeoutSeconds = 1;
  StartServer();
  std::vector<std::unique_ptr<Peer>> strangers;
  size_t guesses = 0;
  const auto guess = [&] {
    strangers.push_back(std::make_unique<Peer>(server->Port(), QHostAddress("127.0.0.2")));
    strangers.back()->Login("admin", "guess" + std::to_string(++guesses));
  };
  // Every answered guess is followed by the next at once.
  QTimer again;
  QObject::connect(&again, &QTimer::timeout, [&] {
    if (strangers.empty() || !strangers.back()->Open()) guess();
  });
  again.start(5);
  ASSERT_TRUE(Pump(
      "the guesses to raise the next check's wait to 1000 ms",
      [&] { return Logged("its next check waits 1000 ms") >= 1; }, kPatienceMs, [&] { return guesses; }));
  QElapsedTimer clock;
  clock.start();
  Peer admin(server->Port());
  admin.Expect("1900");
  admin.Login("admin", "secret");
  admin.Expect("1031");
  const qint64 guessed = clock.elapsed();
  again.stop();
  std::cout << "[ figures  ] the admin logged in " << guessed << " ms after asking, " << guesses
            << " guesses so far (longest wait 1000 ms)\n";
  for (auto& stranger : strangers) EXPECT_EQ(stranger->Count("1031"), 0u);

  ASSERT_TRUE(Pump("every guesser to be closed", [&] {
    return std::none_of(strangers.begin(), strangers.end(), [](const auto& s) { return s->Open(); });
  }));
  // Eight local connections that drip a byte now and then, half of them after a whole frame that is
  // not a login, hold no place: the admin gets through, closing the one idle longest.
  std::vector<std::unique_ptr<Peer>> drippers;
  for (int i = 0; i < config.maxLoginsPerAddress; ++i) {
    drippers.push_back(
        std::make_unique<Peer>(server->Port(), QHostAddress("127.0.0." + QString::number(10 + i))));
    if (i % 2) drippers.back()->Control(20, "");
  }
  QTimer drip;
  QObject::connect(&drip, &QTimer::timeout, [&] {
    for (auto& dripper : drippers)
      if (dripper->Open()) dripper->Send("\xFD");
  });
  drip.start(200);
  ASSERT_TRUE(Pump("the idle drippers to be closed",
                   [&] { return Logged("no login in 1 s, closed") + 1 >= drippers.size(); }));
  ASSERT_TRUE(Pump("the closes at the drippers", [&] {
    return std::count_if(drippers.begin(), drippers.end(), [](const auto& d) { return !d->Open(); }) + 1 >=
           long(drippers.size());
  }));
  // Those closed come back at once, so that every place is taken again.
  for (auto& dripper : drippers)
    if (!dripper->Open()) dripper = std::make_unique<Peer>(server->Port(), QHostAddress("127.0.0.9"));
  Peer second(server->Port());
  second.Expect("1900");
  second.Login("admin", "secret");
  second.Expect("1031");
  EXPECT_GE(Logged("closed to make room"), 1u);
  drip.stop();
}

TEST_F(OvsUnderAttack, PathTricksInAStartRequestNeverRunAnythingButTheConfiguredProgram) {
  StartServer();
  auto peer = LoggedIn();
  const std::string marker = dir.filePath("ran").toStdString();
  for (const std::string& type :
       {std::string("../standin"), std::string("/bin/sh"), std::string("standin/../../../../bin/sh"),
        std::string("STANDIN"), std::string(" standin"), std::string("standin "), std::string("standin\0", 8),
        std::string(STANDIN_SERVER), std::string("sh -c 'touch ") + marker + "'"}) {
    peer->Control(26, type + "\x80-c 'touch " + marker + "'");
    EXPECT_EQ(peer->Expect("1001"), "Unknown server type \"" + Blanked(type) + "\"");
  }
  peer->Control(26, std::string("standin\x80+map e1m1 \0 /bin/sh", 27));
  EXPECT_EQ(peer->Expect("1001"), "Start refused: an argument holds a zero byte");
  EXPECT_EQ(server->Games().Count(), 0u);

  // Paths and shell words in the title and the arguments reach the configured program as plain text.
  const int id = Start(
      *peer, "standin\x80$(touch " + marker + ")\x80../../../../bin/sh -c 'touch " + marker + "' ; /bin/sh");
  const std::string code = ov::FormatCode(id);
  EXPECT_EQ(peer->Expect(code, "[1] "), "  [1] ../../../../bin/sh\r\n");
  EXPECT_EQ(peer->Expect(code, "[3] "), "  [3] touch " + marker + "\r\n");
  EXPECT_EQ(peer->Expect(code, "[5] "), "  [5] /bin/sh\r\n");
  peer->Expect(code, "[6] --interval");
  const GameServers::Server* running = server->Games().Find(id);
  ASSERT_NE(running, nullptr);
  ASSERT_TRUE(Pump("the game server to run", [&] { return running->pid > 0; }));
  EXPECT_EQ(QFileInfo(QString("/proc/%1/exe").arg(running->pid)).symLinkTarget(),
            QFileInfo(STANDIN_SERVER).canonicalFilePath());
  EXPECT_EQ(running->title, "$(touch " + marker + ")");
  EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(marker)));
  EXPECT_EQ(server->Games().Count(), 1u);
}

TEST_F(OvsUnderAttack, GameServersFloodingTheirOutputLeaveTheServerResponsiveInBoundedMemory) {
  config.types.push_back({"lines", "/usr/bin/yes", {"a line of a flood"}});
  config.types.push_back({"endless", "/usr/bin/cat", {"/dev/zero"}});  // one line that never ends
  StartServer();
  auto watcher = LoggedIn(false);
  // A client that logs in, asks to watch, and then reads nothing at all.
  const int stalled = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(server->Port());
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::connect(stalled, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ov::MessageCipher cipher;
  cipher.BuildMessageKey();
  const std::string login =
      ov::MakeFrame(1905, cipher.EncryptMsg(ov::PadTo8("guest") + ov::PadTo16("welcome")));
  ASSERT_EQ(::send(stalled, login.data(), login.size(), 0), ssize_t(login.size()));

  const long before = StatusKb("VmRSS");
  ResetPeakRss();
  const int lines = Start(*watcher, "lines");
  const int endless = Start(*watcher, "endless");
  for (int id : {lines, endless}) {
    const std::string watch = ov::MakeFrame(1042, std::to_string(id));
    ASSERT_EQ(::send(stalled, watch.data(), watch.size(), 0), ssize_t(watch.size()));
  }
  const std::string linesCode = ov::FormatCode(lines), endlessCode = ov::FormatCode(endless);
  ASSERT_TRUE(Pump(
      "the floods of both game servers at the watcher",
      [&] { return watcher->Counted(linesCode) > 100000 && watcher->Counted(endlessCode) > 1000; },
      kPatienceMs, [&] { return watcher->Counted(linesCode) + watcher->Counted(endlessCode); }))
      << watcher->Counted(linesCode) << " lines, " << watcher->Counted(endlessCode) << " endless";

  // Meanwhile the server answers anyone at once.
  Peer newcomer(server->Port());
  newcomer.Expect("1900");
  newcomer.Login("admin", "secret");
  newcomer.Expect("1031");
  newcomer.Console(0, "list");
  newcomer.Expect("0000", "lines");
  const long peak = StatusKb("VmHWM");
  std::cout << "[ figures  ] two flooding game servers (" << watcher->Counted(linesCode) << " lines and "
            << watcher->Counted(endlessCode) << " cut lines relayed): peak RSS " << peak - before
            << " KiB above the " << before << " KiB before\n";
  if (OV_MEMORY_MEASURED) {
    EXPECT_LT(peak - before, 64 * 1024);
  }

  newcomer.Console(0, "kill " + std::to_string(lines));
  newcomer.Console(0, "kill " + std::to_string(endless));
  newcomer.Expect("1028");
  newcomer.Expect("1028");
  EXPECT_EQ(server->Games().Count(), 0u);
  // The client that read nothing lost console lines rather than being kept in memory without end, and
  // hears so once it reads again.
  EXPECT_EQ(server->SessionCount(), 3u);
  std::string tail;
  size_t read = 0;
  EXPECT_TRUE(Pump(
      "the stalled connection to be told it fell behind",
      [&] {
        char buffer[65536];
        const ssize_t n = ::recv(stalled, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n > 0) {
          tail = tail.substr(tail.size() > 100 ? tail.size() - 100 : 0) + std::string(buffer, size_t(n));
          read += size_t(n);
        }
        return tail.find("console lines dropped: this connection fell behind") != std::string::npos;
      },
      kPatienceMs, [&] { return read; }));
  ::close(stalled);
}

TEST_F(OvsUnderAttack, GameServersThatIgnoreStopAreKilledWithEverythingTheyStarted) {
  // Neither the shell nor its child heeds a polite stop; the wrapper heeds it but its child does not.
  config.types.push_back({"stubborn", "/bin/sh", {"-c", "trap '' TERM; sleep 600 & echo child $!; wait"}});
  config.types.push_back(
      {"wrapper", "/bin/sh", {"-c", "(trap '' TERM; exec sleep 600) & echo child $!; wait"}});
  StartServer();
  auto peer = LoggedIn();
  const auto childOf = [&](int id) {
    const std::string line = peer->Expect(ov::FormatCode(id), "child ");
    return qint64(ov::ParseInt(line.substr(6, line.size() - 8), -1));
  };
  const int stubborn = Start(*peer, "stubborn");
  const qint64 stubbornChild = childOf(stubborn);
  const int wrapper = Start(*peer, "wrapper");
  const qint64 wrapperChild = childOf(wrapper);
  ASSERT_GT(stubbornChild, 0);
  ASSERT_GT(wrapperChild, 0);
  const qint64 stubbornPid = server->Games().Find(stubborn)->pid;

  peer->Console(0, "kill " + std::to_string(stubborn));
  peer->Console(0, "kill " + std::to_string(wrapper));
  EXPECT_EQ(peer->Expect("1028"), std::to_string(wrapper));  // at once: the wrapper itself obeys
  // After the grace time (five seconds), killed.
  EXPECT_EQ(peer->Expect("1028", "", kPatienceMs + 5000), std::to_string(stubborn));
  for (qint64 pid : {stubbornPid, stubbornChild, wrapperChild})
    EXPECT_TRUE(Pump("the killed game server's processes to end", [&] { return Gone(pid); })) << pid;

  // The OV server shutting down takes them down too.
  const int last = Start(*peer, "stubborn");
  const qint64 lastChild = childOf(last);
  ASSERT_GT(lastChild, 0);
  const qint64 lastPid = server->Games().Find(last)->pid;
  server.reset();
  for (qint64 pid : {lastPid, lastChild})
    EXPECT_TRUE(Pump("the game server to end with the OV server", [&] { return Gone(pid); })) << pid;
}

TEST_F(OvsUnderAttack, ControlCharactersInATitleNeverPrintALineOfTheirOwnOnAnyConsole) {
  StartServer();
  auto starter = LoggedIn();
  auto other = LoggedIn();
  const std::string forged = "Server 99 (fake) started";
  starter->Control(26, ov::BuildStartPayload("standin", "x\r\n" + forged + "\x1b[2J\t", "+map e1m1"));
  const std::string id = other->Expect("1027");
  other->Expect("0000", "started: x  " + forged);
  other->Control(24, id);
  const std::vector<std::string> info = ov::SplitFields(other->Expect("1025"));
  ASSERT_EQ(info.size(), 6u);
  EXPECT_EQ(info[2], "x  " + forged + " [2J ");
  starter->Console(0, "list\r\nfake");
  starter->Expect("0000", "  " + id + "  standin");
  for (Peer* peer : {starter.get(), other.get()}) {
    for (const ov::Frame& frame : peer->frames) {
      if (frame.code != "0000") continue;
      const std::string text = frame.payload.substr(0, frame.payload.size() - 2);
      EXPECT_EQ(text.find_first_of("\r\n\x1b\t"), std::string::npos) << Printable(frame.payload);
      EXPECT_NE(text.rfind("Server 99", 0), 0u) << text;
    }
  }
}

// Frame bytes in whatever the server sends, from its settings, a peer or a game server, never cut a frame:
// each sender changes them as outgoing.h says, and the peer reads exactly the frames it was sent.
TEST_F(OvsUnderAttack, FrameBytesReachingAnySenderNeverCutAFrame) {
  config.info =
      "v\xFE"
      "1";
  config.name = "Box\xFD\x80x";  // set here: a configuration file holding them is refused
  config.types.push_back({"odd\xFE\x80\xFD", STANDIN_SERVER, {}});
  StartServer();
  auto peer = LoggedIn();
  peer->Console(0, "bad\xFDword");
  peer->Control(26, "no\xFDtype");
  const int id = Start(*peer, "standin\x80T\xFDx\x80+map e1\xFDm1");
  const std::string code = ov::FormatCode(id);
  peer->Expect(code, "[2] ");
  const std::string sep(1, ov::kFieldSeparator);
  const std::pair<std::string, std::string> sent[] = {
      // code, payload
      {"1021", "v?1" + sep + "Box??x"},
      {"1031", "standin" + sep + "odd???"},
      {"0000", "> bad}word\r\n"},
      {"0000", "Unknown command \"bad}word\": type help for the list.\r\n"},
      {"1001", "Unknown server type \"no}type\""},
      {"1025",
       std::to_string(id) + sep + "standin" + sep + "T?x" + sep + "+map e1?m1" + sep + "1" + sep + "1"},
      {code, "  [2] e1}m1\r\n"},
  };
  for (const auto& [code, payload] : sent) EXPECT_EQ(peer->Count(code, payload), 1u) << Printable(payload);
  for (const ov::Frame& frame : peer->frames) {
    const ov::CodeClass kind = ov::ClassifyCode(frame.code);
    ASSERT_TRUE(kind.kind != ov::CodeKind::Unknown && !frame.outside) << Printable(frame.code);
    if (kind.kind == ov::CodeKind::Control && ov::IsAccountMessage(kind.number)) continue;  // enciphered
    EXPECT_EQ(frame.payload.find('\xFD'), std::string::npos) << Printable(frame.payload);
  }
}

// Whatever a peer makes the server log, before its login or after, goes through one bound per
// connection and one for the whole server; what is held back is counted in a summary line.
TEST_F(OvsUnderAttack, EveryLogLineAPeerCausesIsBoundedPerConnectionAndForTheServer) {
  config.logLinesPerConnection = 10;
  config.logLinesPerSecond = 10;  // fifty at once
  StartServer();
  Peer guest(server->Port());
  guest.Expect("1900");
  guest.Login("guest", "welcome");
  guest.Expect("1031");
  std::string flood;
  for (int i = 0; i < 500; ++i) {
    flood += ov::MakeFrame(0, "newuser") + ov::MakeFrame(1907, "x");
    flood += ov::MakeFrame(1026, "nosuch" + std::string(400, 'x') + "\x80");
  }
  guest.Send(flood);
  guest.Console(0, "who");
  guest.Expect("0000", "(you)");
  EXPECT_LE(Logged("(guest)"), 12u);  // ten at once, one each six seconds after
  const size_t before = log.size();

  // Before login: a crowd connecting, sending one request each and leaving.
  QElapsedTimer clock;
  clock.start();
  for (int round = 0; round < 60; ++round) {
    Peer stranger(server->Port());
    stranger.Expect("1900");
    stranger.Console(0, "help");
    stranger.Expect("1001", "Log in first");
  }
  ASSERT_TRUE(Pump("the note of the log lines held back",
                   [&] { return Logged("caused by clients held back") >= 1; }));
  const size_t allowed = size_t(50 + 10 * clock.elapsed() / 1000 + 3);
  EXPECT_LE(log.size() - before, allowed);
  std::cout << "[ figures  ] 180 log lines caused before login: " << log.size() - before << " written in "
            << clock.elapsed() << " ms\n";
}

// A connection's share of the log refills a minute at a time: all of it at once, then one line each
// sixtieth of the minute's lines, never a minute's worth each second.
TEST_F(OvsUnderAttack, AConnectionsShareOfTheLogRefillsPerMinute) {
  PeerLog peerLog(1000, 6);  // six a minute; the server's share does not bind here
  Clock::time_point now = Clock::now();
  peerLog.now = [&] { return now; };
  LogBudget own;
  struct Step {
    int afterMs;
    int lines;
    size_t written;
  };
  const std::vector<Step> steps = {{0, 8, 6}, {1000, 6, 0}, {10000, 2, 1}, {60000, 8, 6}};
  for (const Step& step : steps) {
    now += std::chrono::milliseconds(step.afterMs);
    const size_t before = log.size();
    for (int i = 0; i < step.lines; ++i) peerLog.Line(&own, "line");
    EXPECT_EQ(log.size() - before, step.written) << step.afterMs << " ms later";
  }
  EXPECT_EQ(Logged("earlier log lines of this connection held back"), 2u);
}

// A damaged accounts file is met by every login: the log tells it once a second at most, and the
// accounts read before still log in.
TEST_F(OvsUnderAttack, ADamagedAccountsFileIsToldOnceASecondAtMost) {
  StartServer();
  {
    std::ofstream damaged(accounts->Path(), std::ios::app);
    damaged << "not an account line\n";
  }
  QElapsedTimer clock;
  clock.start();
  for (int i = 0; i < 20; ++i) LoggedIn();
  EXPECT_GE(Logged("accounts file not read again"), 1u);
  EXPECT_LE(Logged("accounts file not read again"), size_t(1 + clock.elapsed() / 1000));
}

// A logged-in user sending cheap requests as fast as it can, and reading none of the answers, gets its
// share of the loop and no more: the others are answered meanwhile, and its answers wait for it in a
// bounded queue (it stops being read) instead of filling the server's memory until it is cut off.
TEST_F(OvsUnderAttack, ACheapRequestFloodGetsItsShareAndItsUnreadAnswersStayBounded) {
  StartServer();
  auto admin = LoggedIn();
  const int flooder = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(server->Port());
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::connect(flooder, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ov::MessageCipher cipher;
  cipher.BuildMessageKey();
  // Each answered with a status note as long as the request, which is never dropped as console text may
  // be: some 24 MB in all.
  constexpr int kRequests = 24000;
  std::string pending = ov::MakeFrame(1905, cipher.EncryptMsg(ov::PadTo8("guest") + ov::PadTo16("welcome")));
  const auto sendSome = [&] {
    const ssize_t n = ::send(flooder, pending.data(), pending.size(), MSG_NOSIGNAL);
    if (n > 0) pending.erase(0, size_t(n));
  };
  ASSERT_TRUE(Pump("the flooder's login", [&] { return sendSome(), Logged("(guest) logged in") == 1; }));
  const std::string request = ov::MakeFrame(1026, std::string(1000, 'x') + "\x80");
  for (int i = 0; i < kRequests; ++i) pending += request;
  // Sends until the server stops reading it, or all of it; meanwhile the admin is answered.
  QElapsedTimer still;
  still.start();
  size_t left = pending.size();
  ASSERT_TRUE(Pump(
      "the server to stop reading the flooder",
      [&] {
        sendSome();
        if (pending.size() != left) left = pending.size(), still.restart();
        // Two seconds after the last byte went: time enough to answer all of it, were it all read.
        return still.elapsed() > 2000;
      },
      kPatienceMs, [&] { return pending.size(); }));
  admin->Console(0, "who");
  admin->Expect("0000", "(you)");

  // Once it reads, every answer comes, in order, and nothing was cut off.
  ov::FrameAssembler assembler;
  size_t answers = 0;
  bool cut = false;
  EXPECT_TRUE(Pump(
      "an answer to every request of the flooder",
      [&] {
        sendSome();
        char buffer[65536];
        ssize_t n;
        while ((n = ::recv(flooder, buffer, sizeof buffer, MSG_DONTWAIT)) > 0)
          for (const ov::Frame& frame : assembler.Feed(std::string_view(buffer, size_t(n))).frames)
            answers += frame.code == "1001" && frame.payload.find("Unknown server type") == 0;
        cut = n == 0 || (n < 0 && errno != EAGAIN);
        return answers == size_t(kRequests) || cut;
      },
      kPatienceMs, [&] { return answers; }));
  EXPECT_EQ(answers, size_t(kRequests));
  EXPECT_FALSE(cut);
  ::close(flooder);
  EXPECT_EQ(Logged("still unread"), 0u);
}

// The event loop never waits for another process's lock on the accounts file: a change that cannot
// have it soon is answered as failed, and the file is left alone. A hand edit made while the server
// writes the file is kept.
TEST_F(OvsUnderAttack, TheAccountsLockIsNeverWaitedForAndHandEditsMadeMeanwhileAreKept) {
  config.accountsLockWaitMs = 500;
  StartServer();
  auto admin = LoggedIn();
  const std::string lockPath = accounts->Path() + ".lock";
  const int lock = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  ASSERT_EQ(::flock(lock, LOCK_EX), 0);
  admin->Console(0, "chpwd");
  admin->Expect("1902");
  admin->Control(907, ov::PadTo8("admin") + ov::PadTo16("secret") + ov::PadTo16("better"));
  admin->Console(0, "newuser");
  admin->Expect("1902");
  admin->Control(906, ov::PadTo8("carol") + ov::PadTo16("pw"));
  for (int i = 0; i < 5; ++i) {
    admin->Console(0, "who");
    admin->Expect("0000", "(you)");
  }
  ASSERT_TRUE(Pump("both refusals at the admin", [&] { return admin->Count("1001") >= 2; }));
  EXPECT_EQ(admin->Count("1001", "Password change refused: the accounts file could not be written"), 1u);
  EXPECT_EQ(admin->Count("1001", "New user refused: the accounts file could not be written"), 1u);
  {
    AccountStore onDisk(accounts->Path(), 1000);
    std::string error;
    ASSERT_TRUE(onDisk.Load(error)) << error;
    EXPECT_TRUE(onDisk.Verify("admin", "secret"));
    EXPECT_FALSE(onDisk.Has("carol"));
  }
  ::close(lock);

  // Unlocked: a line appended by hand between the server's reading and its renaming survives.
  std::string handLine;
  {
    AccountStore other(dir.filePath("other").toStdString(), 1000);
    std::string error;
    ASSERT_EQ(other.Add("byhand", "pw", false, error), AccountStore::Outcome::Done);
    std::ifstream made(other.Path());
    for (std::string line; std::getline(made, line);)
      if (line.rfind("byhand:", 0) == 0) handLine = line;
  }
  int edits = 0;
  accounts->beforeReplace = [&] {
    if (edits++ == 0) std::ofstream(accounts->Path(), std::ios::app) << handLine << "\n";
  };
  admin->Console(0, "chpwd");
  admin->Expect("1902");
  admin->Control(907, ov::PadTo8("admin") + ov::PadTo16("secret") + ov::PadTo16("better"));
  admin->Expect("1001", "Password changed for admin");
  EXPECT_EQ(edits, 2);  // written twice: the first was not renamed over the edited file
  AccountStore onDisk(accounts->Path(), 1000);
  std::string error;
  ASSERT_TRUE(onDisk.Load(error)) << error;
  EXPECT_TRUE(onDisk.Verify("admin", "better"));
  EXPECT_TRUE(onDisk.Verify("byhand", "pw"));
  EXPECT_TRUE(onDisk.Has("guest"));
}

// The OV server as its own program, for what only the program does: signals, descriptors, its files.
class OvsProgram : public ::testing::Test {
 protected:
  static constexpr int kWaitMs = 10000;  // what does not happen in this time is a fault

  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    std::ofstream(ConfigPath()) << "type standin " STANDIN_SERVER
                                   " --interval 3600\n"
                                   "login-delay-ms 10\nhash-iterations 1000\n";
    AccountStore store(AccountsPath(), 1000);
    std::string error;
    ASSERT_EQ(store.Add("admin", "secret", true, error), AccountStore::Outcome::Done) << error;
  }
  void TearDown() override {
    Stop();
    for (qint64 pid : strays)
      if (!Gone(pid)) ::kill(pid_t(pid), SIGKILL);
  }

  std::string ConfigPath() const { return dir.filePath("ovserver.conf").toStdString(); }
  std::string AccountsPath() const { return dir.filePath("accounts").toStdString(); }
  QStringList Files(const std::string& config) const {
    return {"--config", QString::fromStdString(config), "--accounts", QString::fromStdString(AccountsPath())};
  }

  // Runs it to its end (it must end by itself): its exit code, -1 when it crashed or hung; output its log.
  int Run(const QStringList& arguments, const std::string& input, std::string& output) {
    QProcess run;
    run.setProcessChannelMode(QProcess::MergedChannels);
    run.start(OVSERVER_PROGRAM, arguments);
    run.write(input.data(), qint64(input.size()));
    run.closeWriteChannel();
    const bool ended = run.waitForFinished(kWaitMs);
    if (!ended) run.kill(), run.waitForFinished();
    output = run.readAll().toStdString();
    return ended && run.exitStatus() == QProcess::NormalExit ? run.exitCode() : -1;
  }

  // Starts it on a port of the system's choosing: the port, 0 when it does not come up.
  quint16 Launch(const std::string& config) {
    program = std::make_unique<QProcess>();
    program->setProcessChannelMode(QProcess::MergedChannels);
    // It starts with its standard descriptors only (the test runner may pass others on), so that what a
    // game server holds beyond those can only be the OV server's own.
    program->setChildProcessModifier([] {
      ::prctl(PR_SET_PDEATHSIG, SIGKILL);
      ::close_range(3, ~0U, 0);
    });
    QObject::connect(program.get(), &QProcess::readyRead,
                     [this] { log += program->readAll().toStdString(); });
    program->start(OVSERVER_PROGRAM, Files(config) << "--port"
                                                   << "0");
    const std::string listening = "listening on 127.0.0.1:";
    quint16 port = 0;
    Pump(
        "the program to listen",
        [&] {
          const size_t at = log.find(listening);
          if (at != std::string::npos) port = quint16(std::atoi(log.c_str() + at + listening.size()));
          return port != 0 || program->state() == QProcess::NotRunning;
        },
        kWaitMs);
    return port;
  }
  void Stop() {
    if (!program || program->state() == QProcess::NotRunning) return;
    program->kill();
    program->waitForFinished();
  }

  // Logs in, starts a stand-in and reads its process id from the list.
  qint64 StartGame(Peer& peer) {
    peer.Expect("1900");
    peer.Login("admin", "secret");
    peer.Expect("1031");
    // Without its status query's socket: every descriptor it holds is then one it was given.
    peer.Control(26, ov::BuildStartPayload("standin", "", "+map e1m1 --status-port off"));
    peer.Expect("1027");
    peer.Console(0, "list");
    const std::string line = peer.Expect("0000", "pid ");
    const qint64 pid = std::atoll(line.c_str() + line.find("pid ") + 4);
    if (pid > 0) strays.push_back(pid);
    return pid;
  }

  QTemporaryDir dir;
  std::unique_ptr<QProcess> program;
  std::string log;
  std::vector<qint64> strays;  // game servers killed at the end should a fault leave them running
};

TEST_F(OvsProgram, AGameServerHoldsNoDescriptorOfTheServerAndEndsWithItOnHangUpOrDeath) {
  const quint16 port = Launch(ConfigPath());
  ASSERT_NE(port, 0) << log;
  Peer peer(port);
  const qint64 game = StartGame(peer);
  ASSERT_GT(game, 0);
  // Standard input, output and error are its pipes to the OV server; anything else would be a leak.
  const QDir fds(QString("/proc/%1/fd").arg(game));
  for (const QString& fd : fds.entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System))
    EXPECT_LE(fd.toInt(), 2) << "descriptor " << fd.toStdString() << " -> "
                             << QFileInfo(fds.filePath(fd)).symLinkTarget().toStdString();

  // Closing the terminal stops it as SIGTERM does, game servers included.
  ::kill(pid_t(program->processId()), SIGHUP);
  ASSERT_TRUE(program->waitForFinished(kWaitMs));
  EXPECT_EQ(program->exitStatus(), QProcess::NormalExit) << log;
  EXPECT_NE(log.find("stopping"), std::string::npos) << log;
  EXPECT_TRUE(Pump(
      "the game server to end with the program", [&] { return Gone(game); }, kWaitMs))
      << "game server " << game << " still runs";

  // Killed outright, it cannot stop them: they end by themselves as it dies.
  log.clear();
  const quint16 again = Launch(ConfigPath());
  ASSERT_NE(again, 0) << log;
  Peer second(again);
  const qint64 orphan = StartGame(second);
  ASSERT_GT(orphan, 0);
  ::kill(pid_t(program->processId()), SIGKILL);
  program->waitForFinished(kWaitMs);
  EXPECT_TRUE(Pump(
      "the orphaned game server to end", [&] { return Gone(orphan); }, kWaitMs))
      << "game server " << orphan << " still runs";
}

TEST_F(OvsProgram, AConfigurationItCannotUseIsRefusedWithItsNameAndTheReason) {
  const std::string folder = dir.filePath("conf.d").toStdString();
  QDir().mkpath(QString::fromStdString(folder));
  const std::string loop = dir.filePath("loop").toStdString();
  ASSERT_EQ(::symlink(loop.c_str(), loop.c_str()), 0);  // opening it fails, even for root
  const std::string missing = dir.filePath("missing.conf").toStdString();
  const std::pair<std::string, std::string> refused[] = {
      {folder, "it is a directory"}, {loop, "Too many levels of symbolic links"}, {missing, "No such file"}};
  for (const auto& [path, reason] : refused) {
    std::string output;
    EXPECT_EQ(Run(Files(path) << "--port"
                              << "0",
                  "", output),
              2)
        << path << ": " << output;
    EXPECT_NE(output.find("cannot read " + path + ": " + reason), std::string::npos) << output;
  }

  // An empty one runs on the defaults, and says so.
  const std::string empty = dir.filePath("empty.conf").toStdString();
  std::ofstream(empty) << "# nothing yet\n\n";
  ASSERT_NE(Launch(empty), 0) << log;
  EXPECT_NE(log.find("warning: " + empty + " holds no settings"), std::string::npos) << log;
  EXPECT_NE(log.find("warning: no server types"), std::string::npos) << log;
}

TEST_F(OvsProgram, AccountsAddedByOtherProcessesSurviveTheServersOwnWrites) {
  const quint16 port = Launch(ConfigPath());
  ASSERT_NE(port, 0) << log;
  // Several --add-user at once while the server runs, and a hand edit.
  std::vector<std::unique_ptr<QProcess>> adders;
  for (int i = 0; i < 6; ++i) {
    adders.push_back(std::make_unique<QProcess>());
    adders.back()->start(OVSERVER_PROGRAM, Files(ConfigPath()) << "--add-user" << QString("user%1").arg(i));
    adders.back()->write("pw\n");
    adders.back()->closeWriteChannel();
  }
  for (auto& adder : adders) {
    ASSERT_TRUE(adder->waitForFinished(kWaitMs));
    EXPECT_EQ(adder->exitCode(), 0) << adder->readAllStandardError().toStdString();
  }
  {
    AccountStore other(dir.filePath("other").toStdString(), 1000);
    std::string error;
    ASSERT_EQ(other.Add("byhand", "pw", false, error), AccountStore::Outcome::Done);
    std::ifstream made(other.Path());
    std::string line;
    while (std::getline(made, line))
      if (line.rfind("byhand:", 0) == 0) std::ofstream(AccountsPath(), std::ios::app) << line << "\n";
  }

  // The server's own write (a new user) keeps them all, and they log in without a restart.
  Peer admin(port);
  admin.Expect("1900");
  admin.Login("admin", "secret");
  admin.Expect("1031");
  admin.Console(0, "newuser");
  admin.Expect("1902");
  admin.Control(906, ov::PadTo8("carol") + ov::PadTo16("pw"));
  EXPECT_EQ(admin.Expect("1001"), "User carol created");
  AccountStore onDisk(AccountsPath(), 1000);
  std::string error;
  ASSERT_TRUE(onDisk.Load(error)) << error;
  for (const char* name : {"admin", "user0", "user1", "user2", "user3", "user4", "user5", "byhand", "carol"})
    EXPECT_TRUE(onDisk.Has(name)) << name;
  Peer late(port);
  late.Expect("1900");
  late.Login("user3", "pw");
  late.Expect("1031");

  // Roles: an old file's accounts are administrators; --admin makes one, plain --add-user does not.
  std::string output;
  EXPECT_EQ(Run(Files(ConfigPath()) << "--add-user"
                                    << "boss"
                                    << "--admin",
                "pw\n", output),
            0)
      << output;
  ASSERT_TRUE(onDisk.Load(error)) << error;
  EXPECT_TRUE(onDisk.IsAdmin("boss"));
  EXPECT_TRUE(onDisk.IsAdmin("admin"));
  EXPECT_FALSE(onDisk.IsAdmin("user0"));
  EXPECT_EQ(Run(Files(ConfigPath()) << "--add-user"
                                    << "BOSS",
                "pw\n", output),
            1);
  EXPECT_NE(output.find("that login name is taken"), std::string::npos) << output;
}

// --add-user on a disk that cannot take the new file says so, fails, and leaves the file as it was.
TEST_F(OvsProgram, AddingAUserToAFullDiskFailsAndSaysSo) {
  test::FullDisk::ForEachKind([&](test::FullDisk& disk, const std::string& folder) {
    const QString accounts = QString::fromStdString(folder + "/accounts");
    std::string output;
    ASSERT_EQ(Run({"--accounts", accounts, "--add-user", "first"}, "pw\n", output), 0) << output;
    std::ifstream in(accounts.toStdString());
    const std::string before((std::istreambuf_iterator<char>(in)), {});
    ASSERT_TRUE(disk.Fill());
    EXPECT_EQ(Run({"--accounts", accounts, "--add-user", "second"}, "pw\n", output), 1);
    EXPECT_NE(output.find("cannot add second: the accounts file could not be written (cannot write " +
                          accounts.toStdString()),
              std::string::npos)
        << output;
    std::ifstream after(accounts.toStdString());
    EXPECT_EQ(std::string((std::istreambuf_iterator<char>(after)), {}), before);
  });
}

TEST_F(OvsProgram, ListensOnEveryAddressGivenAllOnOnePort) {
  if (QTcpServer probe; !probe.listen(QHostAddress::LocalHostIPv6, 0))
    GTEST_SKIP() << "no IPv6 loopback here";
  struct Case {
    QStringList listen;
    bool ipv4, ipv6;  // reachable on 127.0.0.1, on ::1
  };
  const Case cases[] = {{{"127.0.0.1", "::1"}, true, true},
                        {{"::"}, false, true},  // IPv6 only
                        {{"0.0.0.0", "::"}, true, true},
                        {{}, true, false}};  // the default: 127.0.0.1
  const std::string hello =
      "\xFD"
      "1900";  // the login request every connection gets first
  for (const Case& test : cases) {
    const std::string what = test.listen.join(" ").toStdString();
    QStringList arguments = Files(ConfigPath()) + QStringList{"--port", "0"};
    for (const QString& address : test.listen) arguments << "--listen" << address;
    log.clear();
    program = std::make_unique<QProcess>();
    program->setProcessChannelMode(QProcess::MergedChannels);
    QObject::connect(program.get(), &QProcess::readyRead,
                     [this] { log += program->readAll().toStdString(); });
    program->start(OVSERVER_PROGRAM, arguments);
    const size_t expected = std::max<size_t>(1, size_t(test.listen.size()));
    std::vector<std::pair<std::string, quint16>> bound;  // address and port of each "listening on" line
    Pump(
        "every \"listening on\" line",
        [&] {
          bound.clear();
          const std::string listening = "listening on ";
          for (size_t at = log.find(listening); at != std::string::npos; at = log.find(listening, at + 1)) {
            const size_t lineEnd = log.find('\n', at);
            if (lineEnd == std::string::npos) break;  // the rest of the line is still on its way
            const size_t colon = log.find_last_of(':', lineEnd);
            bound.emplace_back(log.substr(at + listening.size(), colon - at - listening.size()),
                               quint16(std::atoi(log.c_str() + colon + 1)));
          }
          return bound.size() == expected || program->state() == QProcess::NotRunning;
        },
        kWaitMs);
    ASSERT_EQ(bound.size(), expected) << what << ": " << log;
    for (size_t i = 0; i < bound.size() && !test.listen.isEmpty(); ++i) {
      const QString address = test.listen[qsizetype(i)];
      EXPECT_EQ(bound[i].first, (address.contains(':') ? "[" + address + "]" : address).toStdString());
      EXPECT_EQ(bound[i].second, bound[0].second) << what;
    }
    for (const auto& [host, reachable] : {std::pair{QHostAddress(QHostAddress::LocalHost), test.ipv4},
                                          std::pair{QHostAddress(QHostAddress::LocalHostIPv6), test.ipv6}}) {
      QTcpSocket socket;
      std::string received;
      QObject::connect(&socket, &QTcpSocket::readyRead, [&] { received += socket.readAll().toStdString(); });
      socket.connectToHost(host, bound[0].second);
      EXPECT_TRUE(Pump(
          "the greeting or a close",
          [&] {
            return received.find(hello) != std::string::npos ||
                   socket.state() == QAbstractSocket::UnconnectedState;
          },
          kWaitMs))
          << what;
      EXPECT_EQ(received.find(hello) != std::string::npos, reachable)
          << what << " on " << host.toString().toStdString();
    }
    Stop();
  }

  // An address it cannot read or cannot take is named, and nothing is served.
  std::string output;
  EXPECT_EQ(Run(Files(ConfigPath()) + QStringList{"--listen", "::1", "--listen", "localhost"}, "", output),
            2);
  EXPECT_NE(output.find("bad address to listen on: localhost"), std::string::npos) << output;
  EXPECT_EQ(
      Run(Files(ConfigPath()) + QStringList{"--port", "0", "--listen", "::1", "--listen", "::1"}, "", output),
      1);
  EXPECT_NE(output.find("cannot listen on ::1 port "), std::string::npos) << output;
}

}  // namespace
}  // namespace ovs
