// The OV server's request handling over real loopback, against a scripted client, with the stand-in
// game server as the one server type.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <chrono>
#include <csignal>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <regex>

#include "app/start_server.h"
#include "ovserver/accounts.h"
#include "ovserver/connection_manager.h"
#include "ovserver/game_servers.h"
#include "ovserver/log.h"
#include "ovserver/login_queue.h"
#include "ovserver/ov_server.h"
#include "ovserver/process_figures.h"
#include "protocol/account_prompt.h"
#include "tests/common/full_disk.h"
#include "tests/common/qt_wait.h"
#include "wire/cipher.h"
#include "wire/messages.h"
#include "wire/payload.h"

namespace ovs {
namespace {

// Handles events until done() holds; a failure that says what it waited for when it never does.
bool Pump(const std::string& what, const std::function<bool()>& done) { return ov::test::PumpQt(what, done); }
bool Pump(const std::string& what, int patienceMs, const std::function<bool()>& done) {
  return ov::test::PumpQt(what, done, patienceMs);
}

// A client speaking the protocol by hand: it sends frames and collects the frames it receives.
class Peer {
 public:
  // From a loopback address of its own when from is given.
  explicit Peer(quint16 port, const QString& from = {}) {
    cipher_.BuildMessageKey();
    const QHostAddress source(from);
    if (!from.isEmpty()) socket_.bind(source);
    QObject::connect(&socket_, &QTcpSocket::readyRead, [this] {
      const QByteArray data = socket_.readAll();
      auto result = assembler_.Feed(std::string_view(data.constData(), size_t(data.size())));
      frames.insert(frames.end(), result.frames.begin(), result.frames.end());
    });
    socket_.connectToHost(source.protocol() == QAbstractSocket::IPv6Protocol ? QHostAddress::LocalHostIPv6
                                                                             : QHostAddress::LocalHost,
                          port);
  }

  void Send(const std::string& bytes) { socket_.write(bytes.data(), qint64(bytes.size())); }
  void Control(int n, const std::string& payload) {
    Send(ov::MakeFrame(1000 + n, n >= 900 ? cipher_.EncryptMsg(payload) : payload));
  }
  void Console(int id, const std::string& text) { Send(ov::MakeFrame(id, text)); }
  void Login(const std::string& name, const std::string& password) {
    Control(905, ov::PadTo8(name) + ov::PadTo16(password));
  }

  // Waits for the next frame with this code from the cursor on; returns its payload and moves past it.
  std::string Expect(const std::string& code, int patienceMs = ov::test::kPatienceMs) {
    size_t found = frames.size();
    const bool arrived = Pump("a frame " + code, patienceMs, [&] {
      for (size_t i = cursor_; i < frames.size(); ++i)
        if (frames[i].code == code) return (found = i), true;
      return false;
    });
    if (!arrived) return "<none>";
    cursor_ = found + 1;
    return frames[found].payload;
  }
  // Waits for a frame of this code whose payload holds text; moves past it.
  void ExpectText(const std::string& code, const std::string& text) {
    size_t found = frames.size();
    const bool arrived = Pump("a frame " + code + " with \"" + text + "\"", [&] {
      for (size_t i = cursor_; i < frames.size(); ++i)
        if (frames[i].code == code && frames[i].payload.find(text) != std::string::npos)
          return (found = i), true;
      return false;
    });
    if (arrived) cursor_ = found + 1;
  }
  std::string Decipher(const std::string& payload) const { return cipher_.DecryptMsg(payload); }
  bool WaitClosed() {
    return Pump("the server to close the connection",
                [&] { return socket_.state() == QAbstractSocket::UnconnectedState; });
  }
  size_t Count(const std::string& code, const std::string& text) const {
    size_t count = 0;
    for (const ov::Frame& frame : frames)
      if (frame.code == code && frame.payload.find(text) != std::string::npos) ++count;
    return count;
  }

  std::vector<ov::Frame> frames;

 private:
  QTcpSocket socket_;
  ov::FrameAssembler assembler_;
  ov::MessageCipher cipher_;
  size_t cursor_ = 0;
};

class OvsServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetLogSink([this](const std::string& line) { log.push_back(line); });
    accounts = std::make_unique<AccountStore>(dir.filePath("accounts").toStdString(), 1000);
    std::string error;
    ASSERT_EQ(accounts->Add("admin", "secret", true, error), AccountStore::Outcome::Done);
    config.name = "Test box";
    config.caption = "Welcome to the test box";
    config.types.push_back({"standin", STANDIN_SERVER, {"--interval", "3600"}});
    config.backlogLines = 20;
    config.loginDelayMs = 10;
    config.guessDelayMs = 50;
    config.guessDelayMaxSeconds = 1;
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
  std::unique_ptr<Peer> LoggedIn(const std::string& name = "admin", const std::string& password = "secret") {
    auto peer = std::make_unique<Peer>(server->Port());
    peer->Expect("1900");
    peer->Login(name, password);
    peer->Expect("1031");
    return peer;
  }
  // Starts a stand-in through peer and opens its console: the id.
  int StartStandin(Peer& peer, const std::string& commandLine) {
    peer.Control(26, "standin\x80" + commandLine);
    const int id = ov::ParseInt(peer.Expect("1027"), -1);
    peer.Control(24, std::to_string(id));
    peer.Expect("1025");
    peer.Control(42, std::to_string(id));
    peer.ExpectText(ov::FormatCode(id), "Server spawned.");
    return id;
  }
  bool Logged(const std::string& text) const { return LogCount(text) > 0; }
  size_t LogCount(const std::string& text) const {
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

TEST_F(OvsServerTest, NothingIsAcceptedBeforeLoginAndAGoodLoginTellsTheWholeState) {
  StartServer();
  Peer peer(server->Port());
  EXPECT_EQ(peer.Decipher(peer.Expect("1900")), "Welcome to the test box");
  EXPECT_FALSE(Logged("warning: the clients show the caption"));

  peer.Control(26, "standin\x80+map e1m1");
  peer.Console(0, "newuser");
  peer.Control(906, ov::PadTo8("mallory") + ov::PadTo16("pw"));
  for (int i = 0; i < 3; ++i) EXPECT_EQ(peer.Expect("1001"), "Log in first");
  EXPECT_EQ(server->Games().Count(), 0u);
  EXPECT_FALSE(accounts->Has("mallory"));

  peer.Login("admin", "secret");
  EXPECT_EQ(ov::SplitFields(peer.Expect("1021")),
            (std::vector<std::string>{"Orvane OV server 1.0", "Test box"}));
  EXPECT_EQ(peer.Expect("1031"), "standin");
  peer.ExpectText("0000", "Logged in to Test box as admin");
  peer.Control(905, ov::PadTo8("admin") + ov::PadTo16("secret"));
  EXPECT_EQ(peer.Expect("1001"), "Already logged in");

  // A second client logging in later is told of the server that runs by then.
  const int id = StartStandin(peer, "+map e1m1");
  auto late = LoggedIn();
  EXPECT_EQ(late->Expect("1027"), std::to_string(id));
  late->Control(24, std::to_string(id));
  EXPECT_EQ(ov::SplitFields(late->Expect("1025")),
            (std::vector<std::string>{std::to_string(id), "standin", "standin " + std::to_string(id),
                                      "+map e1m1", "1", "1"}));
}

// A caption the login request cannot carry whole is warned of at start-up, as the clients will show it.
TEST_F(OvsServerTest, ACaptionTheLoginRequestCannotCarryWholeIsWarnedOf) {
  ov::MessageCipher cipher;
  cipher.BuildMessageKey();
  config.caption = std::string(24, 'x');
  for (size_t at = 0; CaptionHoles(cipher, config.caption).empty() && at < 24 * 58; ++at)
    config.caption[at / 58] = char('A' + at % 58);
  StartServer();
  Peer peer(server->Port());
  const std::string shown = peer.Decipher(peer.Expect("1900"));
  EXPECT_NE(shown, config.caption);
  EXPECT_TRUE(Logged("warning: the clients show the caption \"" + shown + "\""));
}

TEST_F(OvsServerTest, WrongPasswordsAreAnsweredLateAndAMalformedLoginIsRefused) {
  StartServer();
  Peer peer(server->Port());
  peer.Expect("1900");
  peer.Login("admin", "guess");
  EXPECT_EQ(peer.Expect("1003"), "Login failed: wrong login name or password");
  EXPECT_TRUE(peer.WaitClosed());
  EXPECT_EQ(peer.Count("1021", ""), 0u);
  EXPECT_TRUE(Logged("failed login as \"admin\" from 127.0.0.1"));

  Peer malformed(server->Port());
  malformed.Expect("1900");
  malformed.Send(ov::MakeFrame(1905, "..short"));  // deciphered, five bytes instead of 24
  EXPECT_EQ(malformed.Expect("1003"), "Login failed: malformed login");
  EXPECT_TRUE(malformed.WaitClosed());
}

TEST_F(OvsServerTest, AGameServerStartsRelaysItsConsoleReplaysItsBacklogAndEndsWithQuit) {
  StartServer();
  auto peer = LoggedIn();
  auto other = LoggedIn();
  peer->Control(26,
                "standin\x80"
                "Duel\x80+map e1m1");
  peer->ExpectText("0000", "Starting server");
  const std::string id = peer->Expect("1027");
  EXPECT_EQ(other->Expect("1027"), id);  // every client hears of it
  peer->Control(24, id);
  EXPECT_EQ(ov::SplitFields(peer->Expect("1025")),
            (std::vector<std::string>{id, "standin", "Duel", "+map e1m1", "1", "1"}));
  const std::string code = ov::FormatCode(ov::ParseInt(id, -1));

  // Opening the window replays the banner, each line one frame ending in CR LF.
  peer->Control(42, id);
  EXPECT_EQ(peer->Expect(code), "Console initialized.\r\n");
  peer->ExpectText(code, "Spawning server e1m1");
  peer->Console(ov::ParseInt(id, -1), "status");
  peer->ExpectText(code, "map:     e1m1\r\n");

  // Closed window: nothing is relayed; what was said meanwhile comes back with the backlog on reopening.
  other->Control(24, id);
  other->Control(42, id);
  peer->Control(41, id);
  peer->Console(ov::ParseInt(id, -1), "say while closed");
  other->ExpectText(code, "Server: while closed");
  peer->Control(42, id);
  peer->Console(ov::ParseInt(id, -1), "say reopened");
  peer->ExpectText(code, "Server: reopened");
  EXPECT_EQ(peer->Count(code, "Server: while closed"), 1u);

  // The backlog keeps the last lines only.
  peer->Console(ov::ParseInt(id, -1), "lines 50");
  other->ExpectText(code, "line 50 of 50");
  peer->Control(41, id);
  peer->Control(42, id);
  peer->ExpectText(code, "line 50 of 50");
  peer->Console(ov::ParseInt(id, -1), "say end of replay");
  peer->ExpectText(code, "Server: end of replay");
  EXPECT_EQ(peer->Count(code, "line 30 of 50"), 1u);  // live only: it fell out of the 20-line backlog
  EXPECT_EQ(peer->Count(code, "line 31 of 50"), 2u);  // live and replayed

  peer->Console(ov::ParseInt(id, -1), "quit");
  EXPECT_EQ(peer->Expect("1028"), id);
  EXPECT_EQ(other->Expect("1028"), id);
  EXPECT_EQ(server->Games().Count(), 0u);
  peer->Console(ov::ParseInt(id, -1), "status");
  EXPECT_EQ(peer->Expect("1001"), "No server with id " + id + " here");
}

TEST_F(OvsServerTest, ShellMetacharactersReachTheProgramAsPlainArguments) {
  StartServer();
  auto peer = LoggedIn();
  const std::string marker = dir.filePath("pwned").toStdString();
  const int id =
      StartStandin(*peer, "+map 'e1 m1'; touch " + marker + " | cat && `id` \"$(touch " + marker + ")\"");
  const std::string code = ov::FormatCode(id);
  peer->Control(41, std::to_string(id));
  peer->Control(42, std::to_string(id));
  const std::vector<std::string> expected = {
      "+map",       "e1 m1;", "touch", marker, "|", "cat", "&&", "`id`", "$(touch " + marker + ")",
      "--interval", "3600"};
  peer->ExpectText(code, "Arguments: " + std::to_string(expected.size()));
  for (size_t i = 0; i < expected.size(); ++i)
    EXPECT_EQ(peer->Expect(code), "  [" + std::to_string(i + 1) + "] " + expected[i] + "\r\n");
  EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(marker)));

  peer->Control(26, "rm\x80-rf /");
  EXPECT_EQ(peer->Expect("1001"), "Unknown server type \"rm\"");
  peer->Control(26, "standin\x80say \"unfinished");
  EXPECT_EQ(peer->Expect("1001"), "Start refused: unterminated double quote in the command line");
  // The status line forgets it in seconds: the OV server's console and the log keep it.
  peer->Console(0, "who");
  peer->ExpectText("0000", "(you)");
  EXPECT_EQ(peer->Count("0000", "Unknown server type \"rm\""), 1u);
  EXPECT_EQ(peer->Count("0000", "Start refused: unterminated double quote in the command line"), 1u);
  EXPECT_TRUE(Logged("(admin): Start refused: unterminated double quote in the command line"));
  EXPECT_TRUE(Logged("(admin): Unknown server type \"rm\""));
  EXPECT_EQ(server->Games().Count(), 1u);

  peer->Console(0, "kill " + std::to_string(id));
  EXPECT_EQ(peer->Expect("1028"), std::to_string(id));
  EXPECT_EQ(server->Games().Count(), 0u);
}

TEST_F(OvsServerTest, EightBitBytesReachTheProgramByteForByte) {
  // Bytes that are no UTF-8, bytes that are, and one that is only half of it, in both the type's fixed
  // arguments and the command line: the stand-in echoes each argument as it got it.
  config.types[0].arguments.push_back("\xE9\xFF");
  StartServer();
  auto peer = LoggedIn();
  const int id = StartStandin(*peer, "+set name \"caf\xC3\xA9 \xE9\" \xC3 \x81\xF0\x9F\x8E\xAE\x7F");
  const std::string code = ov::FormatCode(id);
  peer->Control(41, std::to_string(id));
  peer->Control(42, std::to_string(id));
  const std::vector<std::string> expected = {
      "+set",       "name", "caf\xC3\xA9 \xE9", "\xC3", "\x81\xF0\x9F\x8E\xAE\x7F",
      "--interval", "3600", "\xE9\xFF"};
  peer->ExpectText(code, "Arguments: " + std::to_string(expected.size()));
  for (size_t i = 0; i < expected.size(); ++i)
    EXPECT_EQ(peer->Expect(code), "  [" + std::to_string(i + 1) + "] " + expected[i] + "\r\n");
}

TEST_F(OvsServerTest, ConnectionsBeyondTheLimitsAreClosed) {
  config.maxConnections = 2;
  config.loginTimeoutSeconds = 1;
  StartServer();
  auto first = LoggedIn();
  Peer idle(server->Port());
  idle.Expect("1900");
  Peer third(server->Port());
  EXPECT_EQ(third.Expect("1003"), "Too many connections: try again later");
  EXPECT_TRUE(third.WaitClosed());
  EXPECT_EQ(third.Count("1900", ""), 0u);

  // The idle one is closed when its time to log in runs out, which frees a place.
  EXPECT_EQ(idle.Expect("1003"), "Login timed out");
  EXPECT_TRUE(idle.WaitClosed());
  ASSERT_TRUE(Pump("the idle session to end", [&] { return server->SessionCount() == 1; }));

  // A peer that keeps sending before logging in is closed after a few frames.
  Peer chatty(server->Port());
  chatty.Expect("1900");
  for (int i = 0; i <= kMaxFramesBeforeLogin; ++i) chatty.Console(0, "help");
  EXPECT_EQ(chatty.Expect("1001"), "Log in first");
  chatty.ExpectText("1003", "Too many requests before login");
  EXPECT_TRUE(chatty.WaitClosed());
  EXPECT_EQ(chatty.Count("0000", ""), 0u);
}

// Connections not logged in hold at most three quarters of the places; when they hold them all, a
// newcomer takes the place of the newest from the address holding the most, so that a crowd from a few
// addresses cannot keep anyone else out.
TEST_F(OvsServerTest, ACrowdNotLoggedInFromAFewAddressesCannotKeepOthersOut) {
  config.maxConnections = 8;
  config.maxLoginsPerAddress = 3;
  ov::MessageCipher cipher;
  cipher.BuildMessageKey();
  PeerLog peerLog(1000, 1000);
  ConnectionManager manager(config, cipher, peerLog);
  // A login waiting for its name's turn (behind the guesses at that name) holds its place as well.
  manager.onFrame = [](Connection& connection, const ov::Frame&) {
    connection.state = Connection::State::Checking;
  };
  QTcpServer listener;
  ASSERT_TRUE(listener.listen(QHostAddress::LocalHost, 0));
  std::vector<std::unique_ptr<Peer>> peers;
  const auto arrive = [&](const std::string& group) {
    peers.push_back(std::make_unique<Peer>(listener.serverPort()));
    if (Pump("a connection from " + group, [&] { return listener.hasPendingConnections(); }))
      manager.Serve(listener.nextPendingConnection(), group);
    return peers.back().get();
  };
  for (const char* group : {"a", "a", "a", "b", "b", "b"}) arrive(group)->Expect("1900");
  for (size_t checking : {0u, 1u, 2u}) peers[checking]->Login("nobody", "guess");
  ASSERT_TRUE(Pump("the three logins from a to wait for their checks", [&] {
    int checking = 0;
    manager.ForEach([&](Connection& c) { checking += c.state == Connection::State::Checking ? 1 : 0; });
    return checking == 3;
  }));
  const std::string crowded =
      "Too many connections from your address that have not logged in: try again later";
  // The first two from c each close the newest of the address holding the most (a, then b); a third,
  // with every address holding two, finds no room.
  for (size_t closed : {2u, 5u}) {
    arrive("c")->Expect("1900");
    EXPECT_EQ(peers[closed]->Expect("1003"), crowded) << "peer " << closed;
  }
  EXPECT_EQ(arrive("c")->Expect("1003"), "Too many connections: try again later");
  EXPECT_EQ(manager.OpenCount(), 6u);
}

TEST_F(OvsServerTest, ConnectionsNotLoggedInAreBoundedPerAddressAndSilentOnesGoSoon) {
  config.maxLoginsPerAddress = 3;
  config.silentTimeoutSeconds = 1;
  StartServer();
  auto admin = LoggedIn();  // logged in: counts no more
  Peer talking(server->Port()), silent(server->Port(), "127.0.0.2"), other(server->Port(), "127.1.2.3");
  for (Peer* peer : {&talking, &silent, &other}) peer->Expect("1900");
  talking.Send(
      "\xFD"
      "19");                                 // the start of a frame: it has said something
  Peer fourth(server->Port(), "127.0.0.4");  // all of 127.0.0.0/8 is one address
  EXPECT_EQ(fourth.Expect("1003"),
            "Too many connections from your address that have not logged in: try again later");
  EXPECT_TRUE(fourth.WaitClosed());
  EXPECT_EQ(fourth.Count("1900", ""), 0u);
  // A peer refused in a loop does not write a log line each time.
  size_t before = log.size();
  for (int i = 0; i < 20; ++i) {
    Peer again(server->Port());
    again.Expect("1003");
  }
  EXPECT_LE(log.size() - before, 2u);

  for (Peer* peer : {&silent, &other}) {
    EXPECT_EQ(peer->Expect("1003"), "Login timed out");
    EXPECT_TRUE(peer->WaitClosed());
  }
  EXPECT_EQ(talking.Count("1003", ""), 0u);
  Peer later(server->Port());
  later.Expect("1900");
  admin->Console(0, "who");
  admin->ExpectText("0000", "3 connected");

  // Nor does one that connects and hangs up without a word, again and again.
  before = log.size();
  for (int i = 0; i < 20; ++i) {
    {
      Peer quiet(server->Port());
      quiet.Expect("1900");
    }
    ASSERT_TRUE(Pump("the sessions to come down to three", [&] { return server->SessionCount() <= 3; }));
  }
  EXPECT_LE(log.size() - before, 4u);  // later's time-out may fall in here too
}

// The client sends nothing until its user has answered the login dialog, however long that takes:
// the silent time-out closes the crowd that came after such a user, never the user.
TEST_F(OvsServerTest, AUserAtTheLoginDialogKeepsTheTimeToLogIn) {
  config.silentTimeoutSeconds = 1;
  StartServer();
  Peer user(server->Port());
  user.Expect("1900");
  Peer crowd(server->Port(), "127.0.0.5");
  crowd.Expect("1900");
  EXPECT_EQ(crowd.Expect("1003"), "Login timed out");
  EXPECT_TRUE(crowd.WaitClosed());
  user.Login("admin", "secret");
  ASSERT_TRUE(Pump("the slow user's login to be answered",
                   [&] { return user.Count("1003", "") + user.Count("0000", "Logged in") > 0; }));
  EXPECT_EQ(user.Count("1003", ""), 0u) << "the user at the login dialog was closed as silent";
  EXPECT_EQ(user.Count("0000", "Logged in"), 1u);
}

// Guesses at one name, from any address and in any letter case, are checked one at a time, each later
// than the one before; the right password is never refused for them, only checked in its turn.
TEST_F(OvsServerTest, EachFailedCheckOfANameDelaysItsNextAndTheRightPasswordGetsInInTurn) {
  config.guessDelayMs = 200;
  std::string error;
  ASSERT_EQ(accounts->Add("guest", "guest", false, error), AccountStore::Outcome::Done);
  StartServer();
  std::vector<std::unique_ptr<Peer>> guesses;
  for (const char* from : {"127.0.0.2", "127.1.2.3", "127.9.9.9"}) {
    guesses.push_back(std::make_unique<Peer>(server->Port(), from));
    guesses.back()->Expect("1900");
  }
  Peer owner(server->Port());
  owner.Expect("1900");
  Peer other(server->Port(), "127.0.0.7");
  other.Expect("1900");
  QElapsedTimer clock;
  clock.start();
  guesses[0]->Login("admin", "guess0");
  guesses[1]->Login("ADMIN", "guess1");
  guesses[2]->Login("Admin", "guess2");
  ASSERT_TRUE(
      Pump("the third guess's wait of 200 ms", [&] { return Logged("its next check waits 200 ms"); }));
  owner.Login("admin", "secret");
  other.Login("guest", "guest");  // another name waits for none of them
  other.ExpectText("0000", "Logged in");
  std::vector<qint64> answered;
  for (auto& guess : guesses) {
    EXPECT_EQ(guess->Expect("1003"), "Login failed: wrong login name or password");
    answered.push_back(clock.elapsed());
  }
  owner.ExpectText("0000", "Logged in");
  const qint64 in = clock.elapsed();
  EXPECT_EQ(owner.Count("1003", ""), 0u);
  // In turn: each answer after the wait its predecessor's failure imposed (Qt's timers may be early by a
  // twentieth, and the clocks count whole milliseconds).
  EXPECT_GE(answered[1] - answered[0], 200 * 9 / 10);
  EXPECT_GE(answered[2] - answered[1], 400 * 9 / 10);
  EXPECT_GE(in - answered[2], 800 * 9 / 10);
  EXPECT_TRUE(Logged("its next check waits 400 ms"));
  EXPECT_TRUE(Logged("its next check waits 800 ms"));
  EXPECT_GE(other.frames.size(), 1u);

  // The success forgets the failures: a new wrong guess waits the first delay again, and the longest
  // wait is told to whoever is kept waiting (here the most, one second).
  Peer after(server->Port());
  after.Expect("1900");
  after.Login("admin", "again");
  after.Expect("1003");
  EXPECT_EQ(LogCount("its next check waits 200 ms"), 2u);
  for (int i = 0; i < 4; ++i) {
    Peer more(server->Port());
    more.Expect("1900");
    more.Login("admin", "again");
    more.Expect("1003");
  }
  EXPECT_TRUE(Logged("its next check waits 1000 ms"));
  Peer told(server->Port());
  told.Expect("1900");
  told.Login("admin", "secret");
  told.ExpectText("1001", "Recent failed logins for admin: checked in 1 s");
  told.ExpectText("0000", "Logged in");
}

TEST_F(OvsServerTest, AGuessersQueueFromOneAddressNeitherFillsTheServerNorPutsTheOwnerBehindAllOfIt) {
  // The guesser's address alone may take as many places as the whole server has.
  config.maxWaitingChecks = config.maxWaitingChecksPerAddress;
  config.guessDelayMs = 300;
  StartServer();
  std::string error;
  if (!server->Listen(QHostAddress::LocalHostIPv6, 0, error)) GTEST_SKIP() << "no IPv6 loopback: " << error;
  std::vector<std::unique_ptr<Peer>> guesses;
  const auto guess = [&] {
    guesses.push_back(std::make_unique<Peer>(server->Port(), "127.0.0.2"));
    guesses.back()->Expect("1900");
    guesses.back()->Login("admin", "guess" + std::to_string(guesses.size()));
  };
  for (int i = 0; i < config.maxWaitingChecksPerAddress; ++i) guess();
  Peer owner(server->Port(), "::1");
  owner.Expect("1900");
  ASSERT_TRUE(Pump("a guess's wait of 300 ms", [&] { return Logged("its next check waits 300 ms"); }));
  guess();  // the place the first guess left: every place is taken, all of them waiting for admin's turn
  owner.Login("admin", "secret");
  owner.Expect("1031");
  for (auto& peer : guesses) EXPECT_EQ(peer->Expect("1003"), "Login failed: wrong login name or password");
  // The guess checked before the owner came, then one more from its address: the owner's turn.
  const auto in = std::find_if(log.begin(), log.end(), [](const std::string& line) {
    return line.find("logged in") != std::string::npos;
  });
  ASSERT_NE(in, log.end());
  EXPECT_EQ(std::count_if(
                log.begin(), in,
                [](const std::string& line) { return line.find("failed login as") != std::string::npos; }),
            2);
}

// Guessers from many addresses share one budget per name: an address that logged in to the name before
// goes ahead of them on a budget of its own, and one that never did is told how long its turn may take.
TEST_F(OvsServerTest, AnAddressThatLoggedInBeforeGoesAheadOfGuessersFromManyAddresses) {
  config.guessDelayMs = 50;
  LoginQueue queue(config, *accounts);
  ov::MessageCipher cipher;
  PeerLog peerLog(1000, 1000);
  QTcpSocket socket;
  std::vector<std::shared_ptr<Connection>> connections;
  std::vector<std::string> answers;
  const auto check = [&](const std::string& group, const std::string& password) {
    connections.push_back(std::make_shared<Connection>(0, &socket, group, cipher, peerLog));
    std::string why;
    EXPECT_TRUE(queue.TakePlace(group, why)) << why;
    Check asked{false, connections.back(), group, "admin", password, "", Clock::now()};
    return queue.Queue(asked, [&](const Check& done, const CheckResult& result) {
      answers.push_back(done.group + (result.ok ? " in" : " out"));
    });
  };
  const auto answered = [&](const std::string& answer) {
    return size_t(std::count(answers.begin(), answers.end(), answer));
  };
  check("owner", "secret");
  ASSERT_TRUE(Pump("the owner's first login", [&] { return answered("owner in") == 1; }));
  for (int i = 0; i < 5; ++i) check("guesser" + std::to_string(i), "guess");
  ASSERT_TRUE(Pump("a guess to fail", [&] { return answers.size() == 2; }));
  const LoginQueue::Expected owner = check("owner", "secret");
  EXPECT_EQ(owner.before, 0u);
  EXPECT_LT(owner.wait, std::chrono::milliseconds(100));
  ASSERT_TRUE(Pump("the owner's second login", [&] { return answered("owner in") == 2; }));
  EXPECT_LE(answers.size(), 4u) << "the owner waited behind the guesses";

  // A newcomer waits behind every guess left, each failure doubling the next wait: its note says so.
  const auto since = Clock::now();
  const LoginQueue::Expected newcomer = check("newcomer", "secret");
  const auto failed = std::count_if(answers.begin(), answers.end(),
                                    [](const std::string& answer) { return answer.ends_with(" out"); });
  EXPECT_EQ(newcomer.before, size_t(5 - failed));  // a guess that runs still counts
  ASSERT_TRUE(Pump("the newcomer's login", [&] { return answered("newcomer in") == 1; }));
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since);
  EXPECT_LE(took, newcomer.wait + std::chrono::milliseconds(300));
  EXPECT_GE(took + std::chrono::milliseconds(300), newcomer.wait);
}

TEST_F(OvsServerTest, PasswordChecksRunBesideTheEventLoopAreBoundedAndCostTheSameForEveryName) {
  // An account whose check is slow: half a million iterations, the better part of a second (several,
  // under the sanitizers on a busy machine: its answers have a patience of their own).
  constexpr int kSlowCheckMs = 30000;
  accounts = std::make_unique<AccountStore>(dir.filePath("slow").toStdString(), 500000);
  std::string error;
  ASSERT_EQ(accounts->Add("slow", "secret", true, error), AccountStore::Outcome::Done);
  accounts = std::make_unique<AccountStore>(accounts->Path(), 1000);
  ASSERT_TRUE(accounts->Load(error)) << error;
  ASSERT_EQ(accounts->Add("admin", "secret", true, error), AccountStore::Outcome::Done);
  // An unknown name is checked against a decoy as dear as the dearest account in the file.
  EXPECT_EQ(accounts->CheckFor("nobody").iterations, 500000);
  EXPECT_FALSE(accounts->CheckFor("nobody").real);
  EXPECT_EQ(accounts->CheckFor("admin").iterations, 1000);

  config.maxWaitingChecksPerAddress = 2;
  config.loginDelayMs = 300;
  StartServer();
  auto admin = LoggedIn();
  Peer slow(server->Port()), stranger(server->Port()), third(server->Port());
  for (Peer* peer : {&slow, &stranger, &third}) peer->Expect("1900");
  QElapsedTimer sinceRequest;
  sinceRequest.start();
  slow.Login("slow", "secret");
  stranger.Login("nobody", "guess");
  third.Login("admin", "secret");  // a third check from the same address waits for none: refused
  admin->Console(0, "who");
  admin->ExpectText("0000", "(you)");
  // The logged-in user was answered while both checks still ran.
  EXPECT_EQ(slow.Count("1031", ""), 0u);
  EXPECT_EQ(stranger.Count("1003", ""), 0u);
  EXPECT_EQ(third.Expect("1003"), "The server is busy with other logins: try again later");
  EXPECT_GE(sinceRequest.elapsed(), config.loginDelayMs * 9 / 10);
  slow.Expect("1031", kSlowCheckMs);
  EXPECT_EQ(stranger.Expect("1003", kSlowCheckMs), "Login failed: wrong login name or password");
  EXPECT_GE(sinceRequest.elapsed(), config.loginDelayMs * 9 / 10);
  EXPECT_EQ(third.Count("1031", ""), 0u);
  Peer now(server->Port());
  now.Expect("1900");
  now.Login("admin", "secret");
  now.Expect("1031");
}

TEST(OvsAddressGroups, LoopbackIsOneAddressAndIpv6CountsBySlash64) {
  EXPECT_EQ(AddressGroup(QHostAddress("127.0.0.1")), "127.0.0.0/8");
  EXPECT_EQ(AddressGroup(QHostAddress("127.200.3.4")), "127.0.0.0/8");
  EXPECT_EQ(AddressGroup(QHostAddress("::ffff:127.1.1.1")), "127.0.0.0/8");
  EXPECT_EQ(AddressGroup(QHostAddress("192.0.2.7")), "192.0.2.7");
  EXPECT_EQ(AddressGroup(QHostAddress("::ffff:192.0.2.7")), "192.0.2.7");
  EXPECT_EQ(AddressGroup(QHostAddress("2001:db8:1:2::1")),
            AddressGroup(QHostAddress("2001:db8:1:2:ffff::9")));
  EXPECT_NE(AddressGroup(QHostAddress("2001:db8:1:2::1")), AddressGroup(QHostAddress("2001:db8:1:3::1")));
  EXPECT_NE(AddressGroup(QHostAddress("::1")), AddressGroup(QHostAddress("127.0.0.1")));
}

TEST_F(OvsServerTest, NewUsersAndPasswordChangesGoThroughThePromptsAndTheFile) {
  StartServer();
  auto peer = LoggedIn();
  peer->Control(906, ov::PadTo8("sneaky") + ov::PadTo16("pw"));
  EXPECT_EQ(peer->Expect("1001"), "New user refused: type newuser in the OV server's console first");

  peer->Console(0, "newuser");
  EXPECT_EQ(peer->Decipher(peer->Expect("1902")), "newuser");
  peer->Control(906, ov::PadTo8("guest") + ov::PadTo16("first"));
  EXPECT_EQ(peer->Expect("1001"), "User guest created");
  peer->Console(0, "newuser");
  peer->Expect("1902");
  peer->Control(906, ov::PadTo8("guest") + ov::PadTo16("again"));
  EXPECT_EQ(peer->Expect("1001"), "New user refused: that login name is taken");
  peer->Console(0, "newuser");
  peer->Expect("1902");
  peer->Control(906, ov::PadTo8("GuEsT") + ov::PadTo16("again"));
  EXPECT_EQ(peer->Expect("1001"), "New user refused: that login name is taken");
  EXPECT_FALSE(accounts->Has("GuEsT"));

  peer->Console(0, "chpwd");
  EXPECT_EQ(peer->Decipher(peer->Expect("1902")), "chpwd");
  peer->Control(907, ov::PadTo8("guest") + ov::PadTo16("wrong") + ov::PadTo16("second"));
  EXPECT_EQ(peer->Expect("1001"), "Password change refused: wrong login name or password");
  peer->Console(0, "chpwd");
  peer->Expect("1902");
  peer->Control(907, ov::PadTo8("guest") + ov::PadTo16("first") + ov::PadTo16("second"));
  EXPECT_EQ(peer->Expect("1001"), "Password changed for guest");

  AccountStore onDisk(accounts->Path(), 1000);
  std::string error;
  ASSERT_TRUE(onDisk.Load(error));
  EXPECT_TRUE(onDisk.Verify("guest", "second"));
  Peer guest(server->Port());
  guest.Expect("1900");
  guest.Login("guest", "second");
  guest.Expect("1031");

  // A change the disk cannot take is answered as failed, and the file is left as it was.
  test::FullDisk disk(test::FullDisk::Kind::SizeLimit, dir.path().toStdString());
  ASSERT_TRUE(disk.Fill());
  peer->Console(0, "chpwd");
  peer->Expect("1902");
  peer->Control(907, ov::PadTo8("guest") + ov::PadTo16("second") + ov::PadTo16("third"));
  EXPECT_EQ(peer->Expect("1001"), "Password change refused: the accounts file could not be written");
  peer->Console(0, "newuser");
  peer->Expect("1902");
  peer->Control(906, ov::PadTo8("late") + ov::PadTo16("pw"));
  EXPECT_EQ(peer->Expect("1001"), "New user refused: the accounts file could not be written");
  disk.Release();
  ASSERT_TRUE(onDisk.Load(error)) << error;
  EXPECT_TRUE(onDisk.Verify("guest", "second"));
  EXPECT_FALSE(onDisk.Has("late"));
}

TEST_F(OvsServerTest, ALoginWhoseCipherTextHoldsTheFrameEndStillLogsIn) {
  std::string error;
  accounts->Add("abcdl", "pw", false, error);  // the "l" enciphers to 0xFE
  StartServer();
  Peer peer(server->Port());
  peer.Expect("1900");
  peer.Login("abcdl", "pw");
  peer.ExpectText("0000", "as abcdl");
}

TEST_F(OvsServerTest, MalformedAndUnexpectedFramesAreLoggedAndAnsweredNeverFatal) {
  StartServer();
  auto peer = LoggedIn();
  peer->Send("stray bytes");
  peer->Send(ov::MakeFrame(0, "").replace(1, 4, "ABCD"));
  peer->Control(500, "what");
  peer->Control(24, "77");
  peer->Control(42, "77");
  peer->Control(26,
                "standin\x80"
                "a\x80"
                "b\x80"
                "c");
  peer->Send(
      "\xFD"
      "0000" +
      std::string(kMaxRequestSize + 10, 'x'));
  peer->Send("\xFE");
  peer->Console(0, "who");
  peer->ExpectText("0000", "(you)");
  EXPECT_GE(peer->Count("1001", "Malformed request ignored"), 2u);
  EXPECT_EQ(peer->Count("1001", "Unknown request code ABCD"), 1u);
  EXPECT_EQ(peer->Count("1001", "Unexpected control message 500 ignored"), 1u);
  EXPECT_EQ(peer->Count("1001", "Start refused: malformed request"), 1u);
  EXPECT_EQ(server->Games().Count(), 0u);

  // A flood of frames with a short code: every one is counted, the log gets one line a second at most.
  std::string flood;
  for (int i = 0; i < 200000; ++i) flood += "\xFD\xFE";
  for (int i = 0; i < 4; ++i) peer->Send(flood);
  peer->Console(0, "who");
  peer->ExpectText("0000", "(you)");
  peer.reset();
  ASSERT_TRUE(Pump("the session to end", [&] { return server->SessionCount() == 0; }));
  size_t counted = 0, lines = 0;
  const std::regex summary(": ([0-9]+) malformed request");
  for (const std::string& line : log) {
    std::smatch found;
    if (!std::regex_search(line, found, summary)) continue;  // a start refusal's own line is no summary
    ++lines;
    counted += size_t(std::stoul(found[1]));
  }
  EXPECT_EQ(counted, 6u + 800000u);  // stray bytes, ABCD, 500, 24, 42, the oversized frame, the flood
  EXPECT_LE(lines, 6u);              // the first report, one a second, and the last at the close
  EXPECT_TRUE(Logged("malformed requests, the first: skipped 11 bytes outside frames"));
  EXPECT_LT(log.size(), 30u);
}

TEST_F(OvsServerTest, BeforeLoginTheFirstMalformedFrameEndsTheConnection) {
  StartServer();
  for (const std::string& bad :
       {std::string("\xFD\xFE"), std::string("stray"), ov::MakeFrame(0, "").replace(1, 4, "ABCD"),
        std::string(40000, '\xFD') + "\xFE"}) {
    Peer peer(server->Port());
    peer.Expect("1900");
    peer.Send(bad + bad + bad);
    EXPECT_EQ(peer.Expect("1003"), "Login failed: malformed request") << Printable(bad);
    EXPECT_TRUE(peer.WaitClosed());
    EXPECT_EQ(peer.Count("1001", ""), 0u);
  }
  // A 905 longer than its 24 bytes is malformed even where its cipher text holds the end byte just past
  // them ("\xDF" enciphers to 0xFE in that place).
  ov::MessageCipher cipher;
  cipher.BuildMessageKey();
  const std::string sealed = cipher.EncryptMsg(ov::PadTo8("admin") + ov::PadTo16("secret") + "\xDF" + "zzzz");
  ASSERT_EQ(sealed[2 + 24], '\xFE');
  Peer longer(server->Port());
  longer.Expect("1900");
  longer.Send(ov::MakeFrame(1905, sealed));
  EXPECT_EQ(longer.Expect("1003"), "Login failed: malformed login");
  EXPECT_TRUE(longer.WaitClosed());
  EXPECT_EQ(longer.Count("1031", ""), 0u);
  EXPECT_FALSE(Logged(" logged in"));
}

// Two at once, each on a game port of its own, which the user's command line cannot change.
TEST_F(OvsServerTest, DebiansOpenArenaServerRunsAndRelaysWhereInstalled) {
  std::string error;
  std::vector<std::string> notes;
  ServerConfig withArena;
  ASSERT_TRUE(
      ParseConfig("optional-type openarena /usr/games/openarena-server +set dedicated 1 "
                  "+set net_port %PORT%\ngame-ports 43270-43279\nrestart openarena on-crash 1/600\n",
                  "/", withArena, error, notes));
  if (withArena.types.empty()) GTEST_SKIP() << "openarena-server is not installed";
  config.types = withArena.types;
  config.gamePorts = withArena.gamePorts;
  StartServer();
  auto peer = LoggedIn();
  peer->Control(26, "openarena\x80+set net_port 27990 +map oa_dm1");
  EXPECT_EQ(peer->Expect("1001"),
            "Start refused: net_port is set by the server type openarena and cannot be set again");
  std::vector<int> ids;
  for (const char* port : {"43270", "43271"}) {
    peer->Control(26, "openarena\x80+map oa_dm1");
    const std::string id = peer->Expect("1027");
    peer->Control(24, id);
    const std::string info = peer->Expect("1025");
    EXPECT_EQ(info.substr(info.rfind('\x80') + 1), port);
    peer->Control(42, id);
    ids.push_back(ov::ParseInt(id, -1));
    peer->ExpectText(ov::FormatCode(ids.back()), std::string("Opening IP socket: 0.0.0.0:") + port);
  }
  // A crash starts it again on its port, in the same console.
  server->Games().SetRestartDelayScale(20);
  ::kill(pid_t(server->Games().Find(ids[0])->pid), SIGSEGV);
  peer->ExpectText("0000", "Server " + std::to_string(ids[0]) + " (openarena) started again");
  peer->ExpectText(ov::FormatCode(ids[0]), "Opening IP socket: 0.0.0.0:43270");
  for (const int number : ids) {
    peer->Console(number, "status");
    peer->ExpectText(ov::FormatCode(number), "map: oa_dm1");
    peer->Console(number, "quit");
    EXPECT_EQ(peer->Expect("1028"), std::to_string(number));
  }
}

TEST_F(OvsServerTest, ATitleWithAnEmptyCommandLineStaysATitle) {
  StartServer();
  auto peer = LoggedIn();
  // Exactly what the start dialog sends for a title and an empty command line: type, 0x80, title, 0x80.
  const std::string payload = ov::BuildStartPayload("standin", "My Game", "");
  ASSERT_EQ(payload, "standin\x80My Game\x80");
  peer->Control(26, payload);
  const std::string id = peer->Expect("1027");
  peer->Control(24, id);
  EXPECT_EQ(ov::SplitFields(peer->Expect("1025")),
            (std::vector<std::string>{id, "standin", "My Game", "", "1", "1"}));
  peer->Control(42, id);
  peer->ExpectText(ov::FormatCode(ov::ParseInt(id, -1)), "Arguments: 2");  // the type's own two only

  // Without a title: type, 0x80 and nothing else is an empty command line and the default title.
  peer->Control(26, ov::BuildStartPayload("standin", "", ""));
  const std::string second = peer->Expect("1027");
  peer->Control(24, second);
  EXPECT_EQ(ov::SplitFields(peer->Expect("1025")),
            (std::vector<std::string>{second, "standin", "standin " + second, "", "1", "1"}));
}

TEST_F(OvsServerTest, OnlyAdministratorsCreateAccountsOrStopAnotherUsersGameServer) {
  std::string error;
  ASSERT_EQ(accounts->Add("guest", "guest", false, error), AccountStore::Outcome::Done);
  StartServer();
  auto admin = LoggedIn();
  auto guestPeer = LoggedIn("guest", "guest");
  Peer& guest = *guestPeer;

  guest.Console(0, "newuser");
  guest.ExpectText("0000", "Only an administrator can create accounts.");
  guest.Control(906, ov::PadTo8("sneaky") + ov::PadTo16("pw"));
  EXPECT_EQ(guest.Expect("1001"), "New user refused: type newuser in the OV server's console first");
  EXPECT_EQ(guest.Count("1902", ""), 0u);
  EXPECT_FALSE(accounts->Has("sneaky"));
  EXPECT_TRUE(Logged("(guest): newuser refused: not an administrator"));

  const int adminsGame = StartStandin(*admin, "+map e1m1");
  EXPECT_EQ(guest.Expect("1027"), std::to_string(adminsGame));
  guest.Console(0, "kill " + std::to_string(adminsGame));
  guest.ExpectText("0000", "Server " + std::to_string(adminsGame) +
                               " was started by admin: only an administrator can stop another user's game "
                               "server.");
  EXPECT_NE(server->Games().Find(adminsGame), nullptr);

  // A user stops their own; an administrator stops anyone's.
  guest.Control(26, "standin\x80+map e1m2");
  const std::string guestsGame = guest.Expect("1027");
  guest.Console(0, "kill " + guestsGame);
  EXPECT_EQ(guest.Expect("1028"), guestsGame);
  guest.Control(26, "standin\x80+map e1m3");
  const std::string third = guest.Expect("1027");
  admin->Console(0, "kill " + third);
  EXPECT_EQ(guest.Expect("1028"), third);
  EXPECT_EQ(server->Games().Count(), 1u);
}

// A game server's console is full control of it: only who started it and administrators type there,
// and every line typed is logged with the user's name. Everyone logged in may read every console.
TEST_F(OvsServerTest, ConsolesTakeInputFromTheirStarterAndAdministratorsOnlyAndUsersRunABoundedNumber) {
  config.maxServersPerUser = 2;
  config.maxConnectionsPerUser = 2;
  std::string error;
  ASSERT_EQ(accounts->Add("guest", "guest", false, error), AccountStore::Outcome::Done);
  StartServer();
  auto admin = LoggedIn();
  auto guestPeer = LoggedIn("guest", "guest");
  Peer& guest = *guestPeer;

  const int adminsGame = StartStandin(*admin, "+map e1m1");
  const std::string adminsCode = ov::FormatCode(adminsGame);
  EXPECT_EQ(guest.Expect("1027"), std::to_string(adminsGame));
  guest.Control(24, std::to_string(adminsGame));
  guest.Control(42, std::to_string(adminsGame));
  guest.ExpectText(adminsCode, "Server spawned.");  // reading is open to all
  guest.Console(adminsGame, "quit");
  EXPECT_EQ(guest.Expect("1001"), "Only the user who started server " + std::to_string(adminsGame) +
                                      " or an administrator can type into its console");
  admin->Console(adminsGame, "say still here");
  guest.ExpectText(adminsCode, "Server: still here");
  EXPECT_NE(server->Games().Find(adminsGame), nullptr);
  EXPECT_TRUE(Logged("(admin) to server " + std::to_string(adminsGame) + ": say still here"));
  EXPECT_TRUE(
      Logged("(guest): input for server " + std::to_string(adminsGame) + " refused: started by admin"));

  // A user types into their own; an administrator into anyone's. A user runs two at most here.
  const int guestsGame = StartStandin(guest, "+map e1m2");
  guest.Console(guestsGame, "say mine");
  guest.ExpectText(ov::FormatCode(guestsGame), "Server: mine");
  admin->Control(24, std::to_string(guestsGame));
  admin->Control(42, std::to_string(guestsGame));
  admin->Console(guestsGame, "say admin's");
  admin->ExpectText(ov::FormatCode(guestsGame), "Server: admin's");
  EXPECT_TRUE(Logged("(guest) to server " + std::to_string(guestsGame) + ": say mine"));
  StartStandin(guest, "+map e1m3");
  guest.Control(26, "standin\x80+map e1m4");
  EXPECT_EQ(guest.Expect("1001"),
            "Start refused: you run 2 game servers already, as many as one user may here; stop one first");
  admin->Control(26, "standin\x80+map e2m1");  // administrators are exempt
  admin->Control(26, "standin\x80+map e2m2");
  EXPECT_TRUE(Pump("the fifth game server", [&] { return server->Games().Count() == 5; }));

  // Nor does a user hold more than two of the server's connections; administrators are exempt.
  Peer again(server->Port()), third(server->Port());
  for (Peer* peer : {&again, &third}) peer->Expect("1900");
  again.Login("guest", "guest");
  again.Expect("1031");
  third.Login("guest", "guest");
  EXPECT_EQ(third.Expect("1003"),
            "Login refused: guest is logged in 2 times already, as often as one user may here");
  EXPECT_TRUE(third.WaitClosed());
  const auto secondAdmin = LoggedIn(), thirdAdmin = LoggedIn();  // each expects its welcome
  EXPECT_EQ(thirdAdmin->Count("1003", ""), 0u);
}

// Users together leave a quarter of max-servers to administrators; and a command line goes whole only
// to who started the server and to administrators, the others see its secrets masked.
TEST_F(OvsServerTest, UsersLeaveAdministratorsAShareOfTheServersAndSeeOnlyTheirOwnSecrets) {
  config.maxServers = 4;
  std::string error;
  ASSERT_EQ(accounts->Add("guest", "guest", false, error), AccountStore::Outcome::Done);
  StartServer();
  auto admin = LoggedIn();
  auto guest = LoggedIn("guest", "guest");
  for (const char* map : {"e1m1", "e1m2", "e1m3"})
    StartStandin(*guest, "+map " + std::string(map) + " +set g_password pw");
  guest->Control(26, "standin\x80+map e1m4");
  guest->ExpectText("1001", "Start refused: users run 3 game servers already");
  for (int i = 0; i < 3; ++i) admin->Expect("1027");
  const int adminsGame = StartStandin(*admin, "+map e2m1 +set rconpassword s3cret phrase");
  guest->Expect("1027");
  guest->Control(24, std::to_string(adminsGame));
  EXPECT_EQ(ov::SplitFields(guest->Expect("1025"))[3], "+map e2m1 +set rconpassword ********");
  // Nor does the stand-in's banner, which anyone may read, show them.
  guest->Control(42, std::to_string(adminsGame));
  guest->ExpectText(ov::FormatCode(adminsGame), "[4] rconpassword");
  EXPECT_EQ(guest->Expect(ov::FormatCode(adminsGame)), "  [5] ********\r\n");
  EXPECT_EQ(guest->Expect(ov::FormatCode(adminsGame)), "  [6] ********\r\n");
  guest->Console(0, "list");
  guest->ExpectText("0000", "+map e1m3 +set g_password pw");  // the list goes by id
  guest->ExpectText("0000", "+map e2m1 +set rconpassword ********");
  admin->Console(0, "list");
  admin->ExpectText("0000", "+map e1m3 +set g_password pw");
  admin->ExpectText("0000", "+map e2m1 +set rconpassword s3cret phrase");
  EXPECT_EQ(guest->Count("0000", "s3cret") + guest->Count("1025", "s3cret"), 0u);
}

// Hashing a new password takes as long as checking one: it runs on the workers too, and a password
// change is answered the login delay after its request whichever name it names.
TEST_F(OvsServerTest, PasswordChangesAndNewUsersHashBesideTheEventLoopAndCostTheSameForEveryName) {
  accounts = std::make_unique<AccountStore>(dir.filePath("slow").toStdString(), 50000);
  std::string error;
  ASSERT_EQ(accounts->Add("admin", "secret", true, error), AccountStore::Outcome::Done);
  config.loginDelayMs = 400;
  StartServer();
  auto admin = LoggedIn();

  admin->Console(0, "chpwd");
  admin->Expect("1902");
  admin->Control(907, ov::PadTo8("admin") + ov::PadTo16("secret") + ov::PadTo16("better"));
  admin->Console(0, "newuser");
  admin->Expect("1902");
  admin->Control(906, ov::PadTo8("carol") + ov::PadTo16("pw"));
  admin->Console(0, "who");
  admin->ExpectText("0000", "(you)");
  EXPECT_EQ(admin->Count("1001", ""), 0u) << "the hashing ran on the thread that answers who";
  EXPECT_TRUE(Pump("both account changes to be answered", [&] {
    return admin->Count("1001", "User carol created") + admin->Count("1001", "Password changed for admin") ==
           2;
  }));
  EXPECT_TRUE(accounts->Verify("admin", "better"));

  // Unknown or known, a refused change is answered no sooner than the login delay.
  for (const char* name : {"nobody", "admin", "carol"}) {
    admin->Console(0, "chpwd");
    admin->Expect("1902");
    QElapsedTimer clock;
    clock.start();
    admin->Control(907, ov::PadTo8(name) + ov::PadTo16("wrong") + ov::PadTo16("other"));
    admin->ExpectText("1001", "Password change refused: wrong login name or password");
    EXPECT_GE(clock.elapsed(), config.loginDelayMs * 9 / 10) << name;
  }
}

TEST(OvsServerIds, NeverReadAsControlMessagesOrTheOvConsole) {
  const auto none = [](int) { return false; };
  EXPECT_EQ(NextServerId(0, none), 1);
  EXPECT_EQ(NextServerId(998, none), 999);
  EXPECT_EQ(NextServerId(999, none), 2000);
  EXPECT_EQ(NextServerId(9999, none), 1);
  EXPECT_EQ(NextServerId(4, [](int id) { return id == 5 || id == 6; }), 7);
  EXPECT_EQ(NextServerId(9999, [](int id) { return id < 999; }), 999);
  EXPECT_EQ(NextServerId(3, [](int id) { return id != 3; }), 3);  // the only free one, after a full turn
  EXPECT_EQ(NextServerId(1, [](int) { return true; }), -1);
}

TEST(OvsGameOutput, LinesAreCutSafeForFramesAndTheLastOnesKept) {
  QTemporaryDir dir;
  GameServers games(3, 20);
  std::vector<std::string> lines;
  std::string ended;
  games.onLine = [&](int, const std::string& line) { lines.push_back(line); };
  games.onExited = [&](int, const std::string& how) { ended = how; };
  // printf reads its escapes itself: the bytes 0xFE and 0xFD, a long line and a last line without its end.
  const ServerType printf{"printf", "/usr/bin/printf", {}};
  std::string error;
  const int id = games.Start(printf, "", "", {"a\\376b\\375c\\r\\n%05000d\\nlast", "0"}, error);
  ASSERT_GT(id, 0) << error;
  ASSERT_TRUE(Pump("the game server to end", [&] { return !ended.empty(); }));
  EXPECT_EQ(ended, "exit code 0");  // the end of a server that stopped by itself
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], "a~b}c");
  EXPECT_EQ(lines[1], std::string(kMaxLineLength, '0'));
  EXPECT_EQ(lines[2], std::string(5000 - kMaxLineLength, '0'));
  EXPECT_EQ(lines[3], "last");
  EXPECT_EQ(games.Find(id), nullptr);

  // A program that cannot run, missing or not executable, is reported once and its id given back.
  QFile text(dir.filePath("text"));
  ASSERT_TRUE(text.open(QIODevice::WriteOnly));
  text.close();
  for (const char* name : {"none", "text"}) {
    std::string failure;
    games.onFailed = [&](int, const std::string& why) { failure = why; };
    const int missing = games.Start({"none", dir.filePath(name).toStdString(), {}}, "", "", {"\xE9"}, error);
    ASSERT_GT(missing, 0);
    ASSERT_TRUE(Pump("the start to fail", [&] { return !failure.empty(); })) << name;
    EXPECT_EQ(games.Count(), 0u);
    EXPECT_EQ(ended, "exit code 0");  // and nothing ran
  }
}

// How a game server ended is told as the users need it: stopped here, or crashed, with the exit code or
// the signal.
TEST(OvsGameOutput, AServerStoppedHereIsStoppedAndACrashSaysItsCodeOrSignal) {
  GameServers games(3, 20);
  std::map<int, std::string> ended;
  games.onExited = [&](int id, const std::string& how) { ended[id] = how; };
  const ServerType sleeper{"sleeper", "/bin/sleep", {"30"}};
  const ServerType failing{"failing", "/bin/sh", {"-c", "exit 3"}};
  std::string error;
  const int stopped = games.Start(sleeper, "", "", {}, error);
  const int killed = games.Start(sleeper, "", "", {}, error);
  const int failed = games.Start(failing, "", "", {}, error);
  ASSERT_TRUE(Pump("the servers to run", [&] {
    return games.Find(stopped)->pid > 0 && games.Find(killed)->pid > 0 && games.Find(stopped)->running &&
           games.Find(killed)->running;
  }));
  ASSERT_TRUE(games.Stop(stopped));
  ::kill(pid_t(games.Find(killed)->pid), SIGKILL);
  ASSERT_TRUE(Pump("all three to end", [&] { return ended.size() == 3; }));
  EXPECT_EQ(ended[stopped], "stopped");
  EXPECT_EQ(ended[killed], "crashed: signal 9 (Killed)");
  EXPECT_EQ(ended[failed], "crashed: exit code 3");
}

// Each game server whose type asks for one gets a game port of its own, skipping ports another program
// holds, and gives it back as it ends; the clients learn it as the seventh field of its description.
TEST_F(OvsServerTest, EachGameServerGetsAGamePortOfItsOwnAndTheClientsLearnIt) {
  QUdpSocket squatter;  // another program on the range's second port
  config.gamePorts = {43260, 43263};
  ASSERT_TRUE(squatter.bind(QHostAddress::AnyIPv4, 43261));
  config.types[0].arguments = {"--interval", "3600", "--port", "%PORT%"};
  config.types.push_back({"portless", STANDIN_SERVER, {"--interval", "3600", "--status-port", "off"}});
  StartServer();
  auto peer = LoggedIn();
  std::vector<int> ids;
  std::vector<std::string> infos;
  for (const char* type : {"standin", "standin", "portless", "standin", "standin"}) {
    peer->Control(26, std::string(type) + "\x80+map e1m1");
    const std::string answer = peer->Expect(ids.size() < 4 ? "1027" : "1001");
    if (ids.size() == 4) {
      EXPECT_EQ(answer, "Start refused: no free game port (43260-43263 are all taken)");
      break;
    }
    ids.push_back(ov::ParseInt(answer, -1));
    peer->Control(24, std::to_string(ids.back()));
    infos.push_back(peer->Expect("1025"));
  }
  ASSERT_EQ(infos.size(), 4u);
  const std::string ports[] = {"43260", "43262", "", "43263"};
  const char* types[] = {"standin", "standin", "portless", "standin"};
  for (size_t i = 0; i < infos.size(); ++i) {
    const std::string id = std::to_string(ids[i]), title = std::string(types[i]) + " " + id;
    EXPECT_EQ(infos[i], id + "\x80" + types[i] + "\x80" + title +
                            "\x80+map e1m1\x80"
                            "1\x80"
                            "1\x80" +
                            ports[i]);
  }
  // The stand-in answers its status query on the port it was given.
  peer->Control(42, std::to_string(ids[0]));
  peer->ExpectText(ov::FormatCode(ids[0]), "Status query on UDP port 43260");
  // Its port is free again once it ends.
  peer->Console(0, "kill " + std::to_string(ids[1]));
  EXPECT_EQ(peer->Expect("1028"), std::to_string(ids[1]));
  peer->ExpectText("0000", "Server " + std::to_string(ids[1]) + " ended: stopped");
  peer->Control(26, "standin\x80+map e1m1");
  const int again = ov::ParseInt(peer->Expect("1027"), -1);
  peer->Control(24, std::to_string(again));
  const std::string info = peer->Expect("1025");
  EXPECT_EQ(info.substr(info.rfind('\x80') + 1), "43262");
}

// A type that asks for restarts gets them after a crash only, under the same id, until its limit; an
// end from within (exit code 0), a stop signal from the host or a stop asked here is final.
TEST(OvsRestarts, OnlyACrashRestartsAndTheLimitEndsIt) {
  struct Case {
    const char* script;
    std::vector<std::string> notices;  // what the consoles are told, in order
    std::string ended;
  };
  const Case cases[] = {
      {"echo up; ulimit -c 0; kill -SEGV $$",
       {"crashed (signal 11): restarting in 1 s, 1 of 2", "crashed (signal 11): restarting in 5 s, 2 of 2",
        "crashed (signal 11): not restarted, 2 restarts in 600 s already"},
       "crashed: signal 11 (Segmentation fault)"},
      {"echo up; exit 2",
       {"crashed (exit code 2): restarting in 1 s, 1 of 2",
        "crashed (exit code 2): restarting in 5 s, 2 of 2",
        "crashed (exit code 2): not restarted, 2 restarts in 600 s already"},
       "crashed: exit code 2"},
      {"echo up; exit 0", {}, "exit code 0"},
      {"echo up; kill -TERM $$", {}, "crashed: signal 15 (Terminated)"},
  };
  for (const Case& test : cases) {
    GameServers games(50, 20);
    games.SetRestartDelayScale(10);
    std::vector<std::string> notices, ended;
    int restarted = 0;
    games.onCrashed = [&](int id, const CrashReport& report) { notices.push_back(CrashNotice(id, report)); };
    games.onRestarted = [&](int) { ++restarted; };
    games.onExited = [&](int, const std::string& how) { ended.push_back(how); };
    std::string error;
    const int id = games.Start({"sh", "/bin/sh", {"-c", test.script}, {2, 600}}, "", "", {}, error);
    ASSERT_TRUE(Pump(std::string("the end of ") + test.script, [&] { return !ended.empty(); }));
    std::vector<std::string> expected;
    for (const std::string& notice : test.notices)
      expected.push_back("Server " + std::to_string(id) + " " + notice);
    EXPECT_EQ(notices, expected) << test.script;
    EXPECT_EQ(ended, std::vector<std::string>{test.ended}) << test.script;
    EXPECT_EQ(restarted, int(expected.empty() ? 0 : expected.size() - 1)) << test.script;
  }
}

// A server waiting to start again stays down when stopped, and one still waiting as the OV server ends
// is simply gone.
TEST(OvsRestarts, AStopWhileWaitingToStartAgainIsFinal) {
  for (const bool stop : {true, false}) {
    GameServers games(50, 20);
    std::vector<std::string> ended;
    int crashes = 0, restarted = 0;
    games.onCrashed = [&](int, const CrashReport&) { ++crashes; };
    games.onRestarted = [&](int) { ++restarted; };
    games.onExited = [&](int, const std::string& how) { ended.push_back(how); };
    std::string error;
    const int id = games.Start({"sh", "/bin/sh", {"-c", "exit 1"}, {3, 600}}, "", "", {}, error);
    ASSERT_TRUE(Pump("the crash", [&] { return crashes == 1; }));
    EXPECT_EQ(games.Find(id)->restarting, true);
    if (!stop) continue;  // destroyed while waiting
    ASSERT_TRUE(games.Stop(id));
    ASSERT_TRUE(Pump("the stop", [&] { return !ended.empty(); }));
    EXPECT_EQ(ended, std::vector<std::string>{"stopped"});
    EXPECT_EQ(games.Count(), 0u);
    EXPECT_EQ(restarted, 0);
  }
}

// Killed with SIGSEGV, the game server starts again under its id: the client keeps its window, which
// stays live and takes input, and nobody is told of a new server or of an end. A user's kill is final.
TEST_F(OvsServerTest, ACrashedGameServerStartsAgainUnderItsIdAndAKillStopsItForGood) {
  config.types[0].restart = {3, 600};
  StartServer();
  server->Games().SetRestartDelayScale(20);
  auto peer = LoggedIn();
  const int id = StartStandin(*peer, "+map e1m1");
  const std::string code = ov::FormatCode(id), name = "Server " + std::to_string(id);
  // A signal no handler can turn into an exit code (a sanitizer's build of the stand-in reports SIGSEGV
  // itself and exits 1); SIGSEGV itself is in the restart table above.
  ::kill(pid_t(server->Games().Find(id)->pid), SIGKILL);
  peer->ExpectText(code, name + " crashed (signal 9)");  // its own console, then every console
  peer->ExpectText("0000", name + " crashed (signal 9): restarting in 1 s, 1 of 3");
  peer->ExpectText("0000", name + " (standin) started again");
  peer->ExpectText(code, "Server spawned.");
  peer->Console(id, "say still here");
  peer->ExpectText(code, "Server: still here");
  EXPECT_EQ(peer->Count("1027", ""), 1u);
  EXPECT_EQ(peer->Count("1028", ""), 0u);

  peer->Console(0, "kill " + std::to_string(id));
  EXPECT_EQ(peer->Expect("1028"), std::to_string(id));
  peer->ExpectText("0000", name + " ended: stopped");
  EXPECT_EQ(server->Games().Count(), 0u);
  EXPECT_EQ(peer->Count("0000", "restarting in"), 1u);
}

// What a game server costs is read from its session's processes (a shell and the loop it runs) and shown
// by list.
TEST_F(OvsServerTest, ListShowsWhatEachGameServerCosts) {
  config.types.push_back({"busy", "/bin/sh", {"-c", "while :; do :; done & while :; do :; done"}});
  StartServer();
  auto peer = LoggedIn();
  peer->Control(26, "busy\x80");
  const int id = ov::ParseInt(peer->Expect("1027"), -1);
  const qint64 pid = server->Games().Find(id)->pid;
  ProcessFigures figures;
  ASSERT_TRUE(Pump("a third of a second of CPU time in the busy server's session", [&] {
    const auto read = ReadSessionFigures({pid});
    return read.count(pid) && (figures = read.at(pid)).cpuSeconds >= 0.3;
  }));
  EXPECT_GT(figures.residentBytes, 100 << 10);
  EXPECT_LT(figures.residentBytes, 1LL << 30);
  peer->Console(0, "list");
  const std::string shown = "pid " + std::to_string(pid);
  peer->ExpectText("0000", shown);
  EXPECT_EQ(peer->Count("0000", shown), 1u);
  const std::regex listed(shown + ", up \\d+s, cpu [1-9]\\d*\\.\\d%, \\d+\\.\\d MiB");
  for (const ov::Frame& frame : peer->frames) {
    if (frame.payload.find(shown) == std::string::npos) continue;
    EXPECT_TRUE(std::regex_search(frame.payload, listed)) << frame.payload;
  }
}

// Message 43 is answered with 33: the figures of each running game server the connection was told of,
// read now; nothing before login.
TEST_F(OvsServerTest, TheFiguresRequestNamesEachRunningServerTheConnectionWasToldOf) {
  std::string error;
  ASSERT_EQ(accounts->Add("guest", "guest", false, error), AccountStore::Outcome::Done);
  StartServer();
  auto admin = LoggedIn();
  const int id = StartStandin(*admin, "+map e1m1");
  auto guest = LoggedIn("guest", "guest");
  Peer stranger(server->Port());
  stranger.Expect("1900");
  stranger.Control(43, "");
  stranger.ExpectText("1001", "Log in first");
  guest->Expect("1027");
  guest->Control(43, "");
  const ov::msg::Figures figures = ov::msg::Figures::Decode(guest->Expect("1033"));
  ASSERT_EQ(figures.servers.size(), 1u);
  EXPECT_EQ(figures.servers[0].id, id);
  EXPECT_EQ(figures.servers[0].pid, server->Games().Find(id)->pid);
  EXPECT_GT(figures.servers[0].residentKiB, 100);
  admin->Console(0, "kill " + std::to_string(id));
  admin->Expect("1028");
  admin->Control(43, "");
  EXPECT_EQ(admin->Expect("1033"), "");
  EXPECT_EQ(stranger.Count("1033", ""), 0u);
}

// Schedules are an administrator's: kept in their file, they run on the servers of their title or type at
// the minute, told to administrators only.
TEST_F(OvsServerTest, AdministratorsKeepSchedulesInTheirFileAndTheyRunOnTheirServers) {
  std::string error;
  ASSERT_EQ(accounts->Add("guest", "guest", false, error), AccountStore::Outcome::Done);
  const QString path = dir.filePath("schedules");
  config.schedulesPath = path.toStdString();
  StartServer();
  auto admin = LoggedIn();
  auto guest = LoggedIn("guest", "guest");
  for (const char* command :
       {"schedule list", "schedule add every 1 type standin restart", "schedule del 1"}) {
    guest->Console(0, command);
    guest->ExpectText("0000", "Only an administrator can use schedules.");
  }
  EXPECT_FALSE(QFile::exists(path));
  const std::string line = "every 1 type standin line say hello";
  const std::pair<std::string, std::string> steps[] = {
      {"schedule list", "No schedules."},
      {"schedule add every 5 title 'My game' line say bye",
       "Schedule 1 added: every 5 title \"My game\" line say bye"},
      {"schedule add " + line, "Schedule 2 added: " + line + " (next "},
      {"schedule add every 1 title Other", "Schedule refused: too short"},
      {"schedule add every 1 title Other restart", "Schedule 3 added"},
      {"schedule del 4", "No schedule 4: schedule list shows them."},
      {"schedule del 1", "Schedule 1 deleted: every 5 title \"My game\" line say bye"},
      {"schedule list", "  2  every 1 title Other restart  (next "},
  };
  for (const auto& [command, answer] : steps) {
    admin->Console(0, command);
    admin->ExpectText("0000", answer);
  }
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_TRUE(
      file.readAll().endsWith(QByteArray::fromStdString("\n" + line + "\nevery 1 title Other restart\n")));

  std::map<std::string, int> ids;
  for (const std::string title : {"My game", "Other"}) {
    admin->Control(26, "standin\x80" + title + "\x80+map e1m1");
    ids[title] = ov::ParseInt(admin->Expect("1027"), -1);
    admin->Control(24, std::to_string(ids[title]));
    admin->Expect("1025");
  }
  admin->Control(42, std::to_string(ids["My game"]));
  admin->ExpectText(ov::FormatCode(ids["My game"]), "Server spawned.");
  // The clock the schedules follow is put to just before a minute, so that they run now.
  using namespace std::chrono;
  const auto real = system_clock::now();
  const auto ahead = minutes(1) - real.time_since_epoch() % minutes(1) - milliseconds(300);
  server->Schedules().SetClock([ahead] { return system_clock::now() + ahead; });
  admin->ExpectText("0000",
                    "Schedule 1 sends its line to server " + std::to_string(ids["My game"]) + " (My game)");
  // The game's answer and the restart of the other come in either order.
  EXPECT_TRUE(Pump("My game to say hello",
                   [&] { return admin->Count(ov::FormatCode(ids["My game"]), "Server: hello") > 0; }));
  EXPECT_EQ(admin->Expect("1028"), std::to_string(ids["Other"]));
  const int again = ov::ParseInt(admin->Expect("1027"), -1);
  ASSERT_NE(server->Games().Find(again), nullptr);
  EXPECT_EQ(server->Games().Find(again)->title, "Other");
  EXPECT_EQ(server->Games().Find(again)->commandLine, "+map e1m1");
  EXPECT_TRUE(
      Logged("schedule 2 (every 1 title Other restart) restarts server " + std::to_string(ids["Other"])));
  EXPECT_EQ(guest->Count("0000", "Schedule"), 0u);
  EXPECT_TRUE(server->Schedules().Armed());
}

TEST_F(OvsServerTest, NeitherADamagedSchedulesFileNorAFullDiskLosesASchedule) {
  const QString damaged = dir.filePath("damaged");
  const QByteArray text = "every 5 type standin restart\nevery day type standin restart\n";
  QFile file(damaged);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(text) == text.size());
  file.close();
  config.schedulesPath = damaged.toStdString();
  StartServer();
  EXPECT_TRUE(Logged("schedules file not read, no schedule runs: " + damaged.toStdString() + ": line 2:"));
  EXPECT_FALSE(server->Schedules().Armed());
  auto admin = LoggedIn();
  admin->Console(0, "schedule add every 1 type standin restart");
  admin->ExpectText("0000",
                    "The schedules file is damaged (" + damaged.toStdString() +
                        ": line 2: every needs a number of minutes (1 to 1440)): no schedule runs and it "
                        "is not written over; mend it by hand.");
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_EQ(file.readAll(), text);

  test::FullDisk::ForEachKind([&](test::FullDisk& disk, const std::string& folder) {
    admin.reset();
    server.reset();
    config.schedulesPath = folder + "/schedules";
    StartServer();
    admin = LoggedIn();
    admin->Console(0, "schedule add every 5 type standin restart");
    admin->ExpectText("0000", "Schedule 1 added");
    ASSERT_TRUE(disk.Fill());
    admin->Console(0, "schedule add every 1 type standin restart");
    admin->ExpectText("0000",
                      "Schedule change refused: the schedules file could not be written (cannot write " +
                          config.schedulesPath);
    admin->Console(0, "schedule list");
    admin->ExpectText("0000", "  1  every 5 type standin restart");
    EXPECT_EQ(admin->Count("0000", "  2  every"), 0u);
    std::ifstream in(config.schedulesPath);
    EXPECT_EQ(std::string((std::istreambuf_iterator<char>(in)), {}).find("every 1 "), std::string::npos);
    disk.Release();
  });
  admin.reset();
  server.reset();
}

}  // namespace
}  // namespace ovs
