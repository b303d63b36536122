// The client against the reference OV server, each a program of its own, over loopback: the OV server
// runs as a child process on a free port with a configuration and an accounts file made for the test,
// and the client is driven through its widgets as a user drives it.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QInputDialog>
#include <QMdiArea>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <QUdpSocket>
#include <csignal>
#include <memory>
#include <string>

#include "app/qt/connect_dialog.h"
#include "app/qt/main_window.h"
#include "consoles/qt/console_window.h"
#include "consoles/qt/log_view.h"
#include "consoles/qt/players_panel.h"
#include "registry/qt/servers_window.h"
#include "tests/common/controls.h"
#include "tests/loopback/it_ui.h"
#include "wire/cipher.h"
#include "wire/payload.h"

namespace ov::it {
namespace {

#if defined(OVSERVER_PROGRAM) && defined(STANDIN_SERVER) && defined(CLIENT_PROGRAM)

// The reference OV server as a child process. It goes when this object goes, and with the test
// program if that dies first; it stops the game servers it runs when it stops.
class OvServerProcess {
 public:
  OvServerProcess() {
    EXPECT_TRUE(dir.isValid());
    const QString config =
        "name Test OV\n"
        "caption Test OV server: log in\n"
        "type standin " STANDIN_SERVER
        " --interval 3600\n"
        "backlog 150\n"
        "login-delay-ms 50\n"
        "hash-iterations 1000\n";
    QFile file(ConfigPath());
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(config.toUtf8());
  }
  ~OvServerProcess() { Stop(); }

  QString ConfigPath() const { return dir.filePath("ovserver.conf"); }
  QString AccountsPath() const { return dir.filePath("accounts"); }

  // Adds an administrator's account the way an operator does: the program's own --add-user --admin.
  bool AddUser(const QString& name, const QString& password) {
    QProcess add;
    add.start(OVSERVER_PROGRAM,
              {"--config", ConfigPath(), "--accounts", AccountsPath(), "--add-user", name, "--admin"});
    add.write((password + "\n").toUtf8());
    add.closeWriteChannel();
    if (!add.waitForFinished(kPatienceMs)) {
      add.kill();
      add.waitForFinished();
      return false;
    }
    return add.exitStatus() == QProcess::NormalExit && add.exitCode() == 0;
  }

  // Starts it on a port of the system's choosing and waits until it listens.
  bool Start() {
    process.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGTERM); });
    QObject::connect(&process, &QProcess::readyReadStandardError,
                     [this] { log += process.readAllStandardError().toStdString(); });
    QStringList arguments = {"--config", ConfigPath(), "--accounts", AccountsPath(), "--port", "0"};
    for (const QString& address : listen) arguments << "--listen" << address;
    process.start(OVSERVER_PROGRAM, arguments);
    static const QRegularExpression listening("listening on 127\\.0\\.0\\.1:(\\d+)");
    const bool up = PumpUntil("the OV server to listen", [&] {
      const QRegularExpressionMatch m = listening.match(QString::fromStdString(log));
      if (m.hasMatch()) port = m.captured(1).toInt();
      return port > 0 || process.state() == QProcess::NotRunning;
    });
    return up && port > 0;
  }

  // SIGTERM to its process id, and SIGKILL when it does not end in time.
  void Stop() {
    if (process.state() == QProcess::NotRunning) return;
    process.terminate();
    if (!process.waitForFinished(kPatienceMs)) {
      process.kill();
      process.waitForFinished();
    }
  }

  QStringList listen = {"127.0.0.1"};  // the first listens on a free port, the others on the same
  QTemporaryDir dir{QDir::tempPath() + "/orvane-e2e-XXXXXX"};  // no blank in its paths
  QProcess process;
  std::string log;  // what it wrote on standard error
  int port = 0;
};

// Counts the occurrences of a text in another.
int Count(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
  return n;
}

// What the OV server's console said after the last time the line was typed into it.
std::string AnswerTo(const std::string& log, const std::string& line) {
  const size_t at = log.rfind("> " + line);
  return at == std::string::npos ? std::string() : log.substr(at);
}

class OvServerEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    program = std::make_unique<LiveProgram>(CommandLine());
    ASSERT_TRUE(program->started);
    ASSERT_TRUE(server.AddUser("admin", "secret"));
    ASSERT_TRUE(server.Start()) << server.log;
  }
  void TearDown() override {
    program.reset();  // the client first: its connections close in order
    server.Stop();
    if (HasFailure()) std::cerr << "The OV server's log:\n" << server.log;
  }

  // Connects and logs in; true once the OV server's console window greets the user.
  bool LogIn(const QString& name, const QString& password) {
    program->AnswerPrompt("Login:", name, password);
    program->Connect("127.0.0.1", server.port);
    return program->LogShows(kOvWindow, "Logged in to Test OV as " + name + ".");
  }

  static constexpr const char* kOvWindow = "OV Server on Test OV";
  OvServerProcess server;
  std::unique_ptr<LiveProgram> program;
  virtual std::string CommandLine() const { return "/usr/bin/orvane-client"; }
};

TEST_F(OvServerEndToEnd, ANameOrPasswordThatEnciphersToTheFrameEndStillLogsIn) {
  // An "l" fifth in a name and an "S" second in a password encipher to 0xFE: the OV server reads an
  // account message by its fixed width, so such an answer is carried whole.
  MessageCipher cipher;
  cipher.BuildMessageKey();
  for (const auto& [name, password] : {std::pair<std::string, std::string>{"abcdl", "secret"},
                                       std::pair<std::string, std::string>{"bob", "aSdf"}}) {
    SCOPED_TRACE(name + " / " + password);
    const std::string sealed = cipher.EncryptMsg(PadTo8(name) + PadTo16(password));
    ASSERT_NE(sealed.find('\xFE'), std::string::npos);
    ASSERT_TRUE(server.AddUser(QString::fromStdString(name), QString::fromStdString(password)));
    ASSERT_TRUE(LogIn(QString::fromStdString(name), QString::fromStdString(password)));
    program->SelectNode("[OV]Test OV");
    program->Button("tbDis")->click();
    ASSERT_TRUE(program->Tree().empty());
  }
}

TEST_F(OvServerEndToEnd, StartAGameServerTalkToItCloseAndReopenItsWindowAndQuitIt) {
  LiveProgram& p = *program;
  ASSERT_TRUE(LogIn("admin", "secret"));
  EXPECT_EQ(p.Tree(), std::vector<std::string>({"[OV]Test OV"}));

  // The start-server dialog offers the configured type; the server starts and its window opens by itself
  // with the banner, which lists the arguments one by one.
  p.StartServer("Test OV", "standin", "Duel", "+map e1m1");
  ASSERT_TRUE(PumpUntil("the game server's node in the tree", [&] { return p.Tree().size() == 2; }));
  EXPECT_EQ(p.Tree(), std::vector<std::string>({"[OV]Test OV", "  [G]Duel"}));
  ASSERT_TRUE(p.LogShows("Duel", "Orvane stand-in dedicated server 1.0"));
  ASSERT_TRUE(p.LogShows("Duel", "[2] e1m1"));

  // Its greeting in colour codes: kept exactly in the log, drawn as colours with the codes hidden when
  // View > Colour Codes is on.
  ASSERT_TRUE(p.LogShows("Duel", "^3Orvane ^1stand-in^7 ready on ^2e1m1"));
  EXPECT_NE(p.Window("Duel")->Window()->log.Text().find("^3Orvane ^1stand-in^7 ready on ^2e1m1\r\n"),
            std::string::npos);
  p.Action("mnuColourCodes")->trigger();
  p.Window("Duel")->RedrawNow();
  EXPECT_TRUE(p.Window("Duel")->Log()->VisibleRows().contains("Orvane stand-in ready on e1m1"))
      << p.Window("Duel")->Log()->VisibleRows().join("|").toStdString();
  EXPECT_TRUE(p.Log(p.Window("Duel")).find("^3Orvane ^1stand-in^7 ready on ^2e1m1\n") != std::string::npos);
  p.Action("mnuColourCodes")->trigger();

  // A typed line reaches the game server's console and its answer comes back.
  LiveProgram::Enter(p.Window("Duel"), "status");
  ASSERT_TRUE(p.LogShows("Duel", "map:     e1m1"));
  ASSERT_TRUE(p.LogShows("Duel", "players: 2 active (8 max)"));
  LiveProgram::Enter(p.Window(kOvWindow), "who");
  ASSERT_TRUE(p.LogShows(kOvWindow, "(you)"));
  EXPECT_NE(AnswerTo(p.Log(p.Window(kOvWindow)), "who").find(", watching "), std::string::npos);

  // Closing its window stops the relaying to this client (41): the OV server no longer counts it watching.
  p.Window("Duel")->close();
  ASSERT_TRUE(PumpUntil("the Duel window to close", [&] { return p.Window("Duel") == nullptr; }));
  LiveProgram::Enter(p.Window(kOvWindow), "who");
  ASSERT_TRUE(PumpUntil("a second \"(you)\" in the OV server's window",
                        [&] { return Count(p.Log(p.Window(kOvWindow)), "(you)") == 2; }));
  EXPECT_EQ(AnswerTo(p.Log(p.Window(kOvWindow)), "who").find("watching"), std::string::npos)
      << p.Log(p.Window(kOvWindow));

  // Reopened from the tree (42), the new window gets what the server said before: banner and answer.
  p.SelectNode("[G]Duel");
  p.Button("tbWnd")->click();
  ASSERT_NE(p.Window("Duel"), nullptr);
  ASSERT_TRUE(p.LogShows("Duel", "Orvane stand-in dedicated server 1.0"));
  ASSERT_TRUE(p.LogShows("Duel", "map:     e1m1"));

  // quit ends the game server: it leaves the tree and its window stays, dead.
  LiveProgram::Enter(p.Window("Duel"), "quit");
  ASSERT_TRUE(PumpUntil("the ended game server's node to go", [&] { return p.Tree().size() == 1; }));
  EXPECT_EQ(p.Tree(), std::vector<std::string>({"[OV]Test OV"}));
  EXPECT_NE(p.Window("Duel[Dead]"), nullptr);
  EXPECT_TRUE(p.LogShows(kOvWindow, "ended"));
}

// The OV server's address shows in its tooltips; Disconnect leaves the window dead with a last line
// saying when, why and where; Reconnect from that window logs in again as the connect dialog would.
TEST_F(OvServerEndToEnd, ADeadOVServerWindowSaysWhereItWasAndReconnects) {
  LiveProgram& p = *program;
  ASSERT_TRUE(LogIn("admin", "secret"));
  const QString where = QString("127.0.0.1:%1").arg(server.port);
  ConsoleWindow* first = p.Window(kOvWindow);
  EXPECT_EQ(first->toolTip(), where);
  EXPECT_EQ(p.Control<QTreeWidget>("trSvrs")->topLevelItem(0)->toolTip(0), where);

  p.SelectNode("[OV]Test OV");
  p.Button("tbDis")->click();
  ASSERT_TRUE(PumpUntil("the dead OV server's window",
                        [&] { return p.Window("OV Server on Test OV[Dead]") != nullptr; }));
  ASSERT_TRUE(p.LogShows("OV Server on Test OV[Dead]", "Connection to " + where + " ended at "));
  ASSERT_TRUE(p.LogShows("OV Server on Test OV[Dead]", ": Disconnected by the client"));

  p.Main().MdiArea()->setActiveSubWindow(first);
  ASSERT_TRUE(p.Action("mnuReconnect")->isEnabled());
  p.AnswerPrompt("Login:", "admin", "secret");
  p.Action("mnuReconnect")->trigger();
  ASSERT_TRUE(p.LogShows(kOvWindow, "Logged in to Test OV as admin."));
  EXPECT_EQ(p.Tree(), std::vector<std::string>({"[OV]Test OV"}));
  EXPECT_NE(p.Window("OV Server on Test OV[Dead]"), nullptr);  // the dead one stays as it was

  // The other side ends it: the status line says what it always said, the window the same and when.
  server.Stop();
  ASSERT_TRUE(PumpUntil("the tree to empty", [&] { return p.Tree().empty(); }));
  EXPECT_EQ(p.StatusText(), "Server closed connection");
  ConsoleWindow* second = nullptr;
  for (QMdiSubWindow* w : p.Main().MdiArea()->subWindowList())
    if (w != first && w->windowTitle() == "OV Server on Test OV[Dead]")
      second = qobject_cast<ConsoleWindow*>(w);
  ASSERT_NE(second, nullptr);
  ASSERT_TRUE(PumpUntil("the second window to say the server closed the connection", [&] {
    return LiveProgram::Log(second).find(": Server closed connection") != std::string::npos;
  })) << LiveProgram::Log(second);
}

// Servers named on the command line are connected to at start-up as the dialog would, with its error texts.
TEST_F(OvServerEndToEnd, ConnectAtStartUpLogsInAndReportsAsTheDialog) {
  LiveProgram& p = *program;
  // Every failure is told, each with its reason, in one box once all have been tried.
  QString box;
  p.When(
      "the box of failed start-up connections",
      [] { return qobject_cast<QMessageBox*>(QApplication::activeModalWidget()); },
      [&box] {
        auto* shown = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        box = shown->text();
        shown->accept();
      });
  p.AnswerPrompt("Login:", "admin", "secret");
  p.ui.ConnectAtStart(p.client,
                      {"127.0.0.1:70000", "127.0.0.1:" + std::to_string(server.port), "ov.example"});
  ASSERT_TRUE(p.LogShows(kOvWindow, "Logged in to Test OV as admin."));
  EXPECT_EQ(box,
            "Could not connect to 2 of the 3 servers named at start-up:\n"
            "Can't connect - Invalid Port number: 127.0.0.1:70000\n"
            "Can't connect - Invalid IP address: ov.example:4044");
  EXPECT_EQ(p.StatusText(), "Can't connect - Invalid IP address");
  // Remembered for the connect dialog, with the default count.
  ASSERT_EQ(p.ui.Recent().Entries().size(), 1u);
  EXPECT_EQ(p.ui.Recent().Entries().front(), (Endpoint{"127.0.0.1", server.port, 10}));
  EXPECT_EQ(p.Control<QComboBox>("cbRecent")->itemText(0),
            QString("127.0.0.1:%1, time-out 10").arg(server.port));
}

// Whether this machine can listen on the IPv6 loopback.
bool HasIpv6Loopback() {
  const int fd = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in6 any{};
  any.sin6_family = AF_INET6;
  any.sin6_addr = in6addr_loopback;
  const bool ok = ::bind(fd, reinterpret_cast<const sockaddr*>(&any), sizeof any) == 0;
  ::close(fd);
  return ok;
}

class OvServerEndToEndByName : public OvServerEndToEnd {
 protected:
  OvServerEndToEndByName() {
    if (HasIpv6Loopback()) server.listen << "::1";
  }
};

// A host name and an IPv6 address reach the server, and the connection keeps the name the user gave.
TEST_F(OvServerEndToEndByName, LocalhostAndTheIpv6LoopbackConnectUnderTheNameGiven) {
  LiveProgram& p = *program;
  p.AnswerPrompt("Login:", "admin", "secret");
  p.Connect("localhost", server.port);
  ASSERT_TRUE(p.LogShows(kOvWindow, "Logged in to Test OV as admin."));
  EXPECT_EQ(p.Window(kOvWindow)->toolTip(), QString("localhost:%1").arg(server.port));
  ASSERT_EQ(p.ui.Recent().Entries().size(), 1u);
  EXPECT_EQ(p.ui.Recent().Entries().front(), (Endpoint{"localhost", server.port, 10}));

  if (!HasIpv6Loopback()) GTEST_SKIP() << "this machine has no IPv6 loopback";
  p.SelectNode("[OV]Test OV");
  test::Find<QPushButton>(p.Main(), "tbDis")->click();
  ASSERT_TRUE(PumpUntil("the tree to empty", [&] { return p.Tree().empty(); }));
  p.AnswerPrompt("Login:", "admin", "secret");
  p.Connect("[::1]", server.port);
  ASSERT_TRUE(p.LogShows(kOvWindow, "Logged in to Test OV as admin."));
  EXPECT_EQ(p.Window(kOvWindow)->toolTip(), QString("[::1]:%1").arg(server.port));
  EXPECT_NE(server.log.find("from ::1"), std::string::npos) << server.log;
}

class OvServerEndToEndDebug : public OvServerEndToEnd {
  std::string CommandLine() const override { return "/usr/bin/orvane-client -debug"; }
};

TEST_F(OvServerEndToEndDebug, AWrongPasswordIsRefusedAndTheConnectionClosed) {
  LiveProgram& p = *program;
  p.AnswerPrompt("Login:", "admin", "not-it");
  // The refusal stands in a message box until the user dismisses it, whatever the close does meanwhile.
  std::string box;
  p.When(
      "the refusal's message box",
      [] { return qobject_cast<QMessageBox*>(QApplication::activeModalWidget()); },
      [&] {
        auto* shown = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        box = shown->text().toStdString();
        shown->accept();
      });
  p.Connect("127.0.0.1", server.port);
  ASSERT_TRUE(PumpUntil("the refusal's box and the close", [&] {
    return p.AllActed() && p.StatusText() == "Server closed connection";
  })) << p.StatusText();
  EXPECT_EQ(box, "Login failed: wrong login name or password");
  EXPECT_NE(p.DebugPane().find("ramsg called code 3 msg: Login failed: wrong login name or password"),
            std::string::npos)
      << p.DebugPane();
  EXPECT_TRUE(p.Tree().empty());
  EXPECT_EQ(p.Captions(), std::vector<std::string>({"Servers"}));
  EXPECT_TRUE(p.Action("mnuCon")->isEnabled());

  // The right password on a new connection is let in.
  ASSERT_TRUE(LogIn("admin", "secret"));
  EXPECT_EQ(p.Tree(), std::vector<std::string>({"[OV]Test OV"}));
}

TEST_F(OvServerEndToEndDebug, NewUserAndPasswordChangeThroughThePrompts) {
  LiveProgram& p = *program;
  ASSERT_TRUE(LogIn("admin", "secret"));

  p.AnswerPrompt("New user login name:", "carol", "pw-one");
  p.AnswerPrompt("Confirm new user Password:", "pw-one");
  LiveProgram::Enter(p.Window(kOvWindow), "newuser");
  ASSERT_TRUE(p.LogShows(kOvWindow, "User carol created."));

  p.AnswerPrompt("Login name:", "carol", "pw-one");
  p.AnswerPrompt("New password:", "pw-two", "pw-two");
  LiveProgram::Enter(p.Window(kOvWindow), "chpwd");
  ASSERT_TRUE(p.LogShows(kOvWindow, "Password changed for carol."));
  EXPECT_TRUE(p.AllActed());

  // The account is on disk, hashed: no password in the clear.
  QFile accounts(server.AccountsPath());
  ASSERT_TRUE(accounts.open(QIODevice::ReadOnly));
  const std::string stored = accounts.readAll().toStdString();
  EXPECT_NE(stored.find("carol:pbkdf2-sha256:"), std::string::npos) << stored;
  EXPECT_EQ(stored.find("pw-"), std::string::npos) << stored;

  // Disconnected, carol's old password is refused and the new one lets her in.
  p.SelectNode("[OV]Test OV");
  p.Button("tbDis")->click();
  ASSERT_TRUE(p.Tree().empty());
  p.AnswerPrompt("Login:", "carol", "pw-one");
  p.When(
      "the refusal's message box",
      [] { return qobject_cast<QMessageBox*>(QApplication::activeModalWidget()); },
      [] { qobject_cast<QMessageBox*>(QApplication::activeModalWidget())->accept(); });
  p.Connect("127.0.0.1", server.port);
  ASSERT_TRUE(PumpUntil("the refusal in the debug pane", [&] {
    return Count(p.DebugPane(), "ramsg called code 3 msg: Login failed") == 1;
  })) << p.DebugPane();
  ASSERT_TRUE(PumpUntil("the close on the status line", [&] {
    return p.StatusText() == "Server closed connection";
  })) << p.StatusText();
  EXPECT_TRUE(p.Tree().empty());
  ASSERT_TRUE(LogIn("carol", "pw-two"));
  EXPECT_EQ(p.Tree(), std::vector<std::string>({"[OV]Test OV"}));
}

TEST_F(OvServerEndToEnd, ShellMetacharactersReachTheGameServerAsPlainArguments) {
  LiveProgram& p = *program;
  ASSERT_TRUE(LogIn("admin", "secret"));
  const QString pwned = server.dir.filePath("pwned");
  const QString out = server.dir.filePath("out");
  p.StartServer(
      "Test OV", "standin", "Meta",
      "+map e1m1 ; touch " + pwned + " && echo $(id) | cat > " + out + " 'two words' \"$HOME\" `x`");
  ASSERT_TRUE(p.LogShows("Meta", "Type status, map NAME, say TEXT or quit."));
  const std::string banner = p.Log(p.Window("Meta"));
  // The command line's arguments, each word as typed, then the configured ones: nothing was expanded,
  // redirected or run by a shell.
  const std::vector<std::string> expected = {
      "+map",  "e1m1",       ";",   "touch", pwned.toStdString(), "&&",        "echo",
      "$(id)", "|",          "cat", ">",     out.toStdString(),   "two words", "$HOME",
      "`x`",   "--interval", "3600"};
  EXPECT_NE(banner.find("Arguments: " + std::to_string(expected.size()) + "\n"), std::string::npos) << banner;
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_NE(banner.find("  [" + std::to_string(i + 1) + "] " + expected[i] + "\n"), std::string::npos)
        << expected[i] << "\n"
        << banner;
  }
  EXPECT_FALSE(QFile::exists(pwned));
  EXPECT_FALSE(QFile::exists(out));

  // The OV server stops: the client sees the connection close, and both windows are left dead.
  server.Stop();
  ASSERT_TRUE(PumpUntil("the tree to empty", [&] { return p.Tree().empty(); }));
  EXPECT_EQ(p.StatusText(), "Server closed connection");
  EXPECT_EQ(p.Captions(), std::vector<std::string>({"Servers", "OV Server on Test OV[Dead]", "Meta[Dead]"}));
}

// The players panel over real UDP against the stand-in's status query: its map and players, the count as
// the server node's tooltip, Kick typed into the console, and "no answer" where nothing answers. Hidden,
// it holds no socket.
TEST_F(OvServerEndToEnd, PlayersPanelShowsTheMapAndPlayersKicksOneAndSaysNoAnswer) {
  LiveProgram& p = *program;
  ASSERT_TRUE(LogIn("admin", "secret"));
  p.StartServer("Test OV", "standin", "Duel", "--status-port 0 +map q3dm17");
  ASSERT_TRUE(p.LogShows("Duel", "Type status, map NAME, say TEXT or quit."));
  ConsoleWindow* duel = p.Window("Duel");
  const std::string banner = duel->Window()->log.Text();
  const size_t at = banner.find("Status query on UDP port ");
  ASSERT_NE(at, std::string::npos) << banner;
  const int port = std::stoi(banner.substr(at + 25));
  PlayersPanel* panel = duel->Players();
  EXPECT_TRUE(panel->isHidden());
  EXPECT_FALSE(panel->Querying());

  // The query address, through the panel's field; then the window's own menu item shows the panel.
  p.When(
      "the query address dialog",
      [] { return qobject_cast<QInputDialog*>(QApplication::activeModalWidget()); },
      [port] {
        auto* dialog = qobject_cast<QInputDialog*>(QApplication::activeModalWidget());
        dialog->setTextValue(QString("127.0.0.1:%1").arg(port));
        dialog->accept();
      });
  panel->AskTarget();
  EXPECT_EQ(panel->Target(), (StatusTarget{"127.0.0.1", port}));
  test::Find<QAction>(*duel, "mnuWindowPlayers")->trigger();
  EXPECT_TRUE(test::Find<QAction>(p.Main(), "mnuPlayers")->isChecked());
  ASSERT_TRUE(PumpUntil("the panel to show both players", [&] {
    return panel->Summary() == "2/8 players on q3dm17";
  })) << panel->Summary().toStdString();
  QTreeWidgetItem* first = panel->List()->topLevelItem(0);
  EXPECT_EQ(QStringList({first->text(0), first->text(1), first->text(2)}),
            QStringList({"^1Red^7Baron", "12", "48"}));
  QTreeWidgetItem* node = test::Find<QTreeWidget>(p.Main(), "trSvrs")
                              ->findItems("Duel", Qt::MatchRecursive | Qt::MatchEndsWith)
                              .value(0);
  ASSERT_NE(node, nullptr);
  EXPECT_EQ(node->toolTip(0), "2/8 players on q3dm17");

  // Kick, confirmed: the line goes as a typed one, shows in the console, and the player leaves.
  p.When(
      "the kick confirmation", [] { return qobject_cast<QMessageBox*>(QApplication::activeModalWidget()); },
      [] {
        qobject_cast<QMessageBox*>(QApplication::activeModalWidget())->button(QMessageBox::Yes)->click();
      });
  panel->AskKick("^4Blue ^3Wolf");
  ASSERT_TRUE(p.LogShows("Duel", "kick \"^4Blue ^3Wolf\"\n"));
  ASSERT_TRUE(p.LogShows("Duel", "^4Blue ^3Wolf^7 was kicked."));
  ASSERT_TRUE(PumpUntil("the panel to show the kicked player gone", [&] {
    return panel->Summary() == "1/8 players on q3dm17";
  })) << panel->Summary().toStdString();

  // A port where something listens but never answers.
  QUdpSocket silent;
  ASSERT_TRUE(silent.bind(QHostAddress::LocalHost, 0));
  panel->SetTarget({"127.0.0.1", silent.localPort()});
  ASSERT_TRUE(PumpUntil("the panel to say no answer", [&] {
    return panel->Summary() == PlayersPanel::kNoAnswer;
  })) << panel->Summary().toStdString();
  EXPECT_EQ(panel->List()->topLevelItemCount(), 0);

  test::Find<QAction>(p.Main(), "mnuPlayers")->trigger();
  EXPECT_FALSE(panel->Querying());
  EXPECT_EQ(node->toolTip(0), "");
  EXPECT_TRUE(p.AllActed());
}

// The programs' command lines as a user types them: help and version need no display; an unknown option
// is named on standard error, and ends the OV server while the client goes on; Qt's options and the debug
// switch (in any letter case, anywhere) are never taken for unknown ones.
TEST(ProgramCommandLines, HelpVersionAndUnknownOptions) {
  struct Case {
    const char* program;
    QStringList arguments;
    int exitCode;     // kRunsOn: still running once it has written what is expected
    std::string out;  // expected in standard output
    std::string err;  // expected in standard error
  };
  constexpr int kRunsOn = -1;
  const Case cases[] = {
      {CLIENT_PROGRAM, {"--help"}, 0, "-DEBUG anywhere in the command line", ""},
      {CLIENT_PROGRAM, {"-DEBUG", "-h"}, 0, "--version", ""},
      {CLIENT_PROGRAM, {"--version"}, 0, "orvane-client " OV_VERSION "\n", ""},
      {CLIENT_PROGRAM,
       {"-platform", "offscreen", "--bogus"},
       kRunsOn,
       "",
       "orvane-client: Unknown option 'bogus'. It is ignored.\n"},
      {CLIENT_PROGRAM,
       {"-platform", "offscreen", "-x-debug", "--connects", "127.0.0.1"},
       kRunsOn,
       "",
       "Unknown option 'connects'."},
      {CLIENT_PROGRAM,
       {"-platform", "offscreen", "--connect"},
       kRunsOn,
       "",
       "Missing value after '--connect'."},
      {CLIENT_PROGRAM, {"--help"}, 0, "--connect <ADDRESS[:PORT]>", ""},
      {CLIENT_PROGRAM,
       {"-platform", "offscreen", "-display", ":0", "-geometry", "10x10", "-nograb", "-style", "fusion",
        "-reverse", "-dEbUg", "/tmp/x-Debug", "--help-all"},
       0,
       "-platform",
       ""},
      {OVSERVER_PROGRAM, {"--help"}, 0, "--add-user", ""},
      {OVSERVER_PROGRAM, {"--version"}, 0, "ovserver " OV_VERSION "\n", ""},
      {OVSERVER_PROGRAM, {"--bogus"}, 1, "", "ovserver: Unknown option 'bogus'."},
      {STANDIN_SERVER, {"--help"}, 0, "usage: standin-server", ""},
  };
  for (const Case& c : cases) {
    const std::string what = std::string(c.program) + " " + c.arguments.join(' ').toStdString();
    QProcess run;
    // No display at all: only the cases that ask for the offscreen platform may start the GUI.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) environment.remove(name);
    run.setProcessEnvironment(environment);
    run.start(c.program, c.arguments);
    if (c.exitCode == kRunsOn) {
      std::string err;
      QElapsedTimer clock;
      clock.start();
      while (err.find(c.err) == std::string::npos && clock.elapsed() < kPatienceMs &&
             run.state() != QProcess::NotRunning) {
        run.waitForReadyRead(100);
        err += run.readAllStandardError().toStdString();
      }
      EXPECT_NE(err.find(c.err), std::string::npos) << what << "\n" << err;
      QTest::qWait(300);  // time enough to end, had it been going to
      EXPECT_EQ(run.state(), QProcess::Running) << what << " ended: " << err;
      run.kill();
      run.waitForFinished();
      continue;
    }
    if (!run.waitForFinished(kPatienceMs)) {
      run.kill();
      run.waitForFinished();
      ADD_FAILURE() << what << ": still running";
      continue;
    }
    const std::string out = run.readAllStandardOutput().toStdString();
    const std::string err = run.readAllStandardError().toStdString();
    EXPECT_EQ(run.exitStatus(), QProcess::NormalExit) << what << "\n" << err;
    EXPECT_EQ(run.exitCode(), c.exitCode) << what << "\n" << out << err;
    EXPECT_NE(out.find(c.out), std::string::npos) << what << "\n" << out;
    EXPECT_NE(err.find(c.err), std::string::npos) << what << "\n" << err;
    if (c.exitCode != 0) {
      EXPECT_EQ(out, "") << what;
    }
  }
}

#else

TEST(OvServerEndToEnd, NeedsTheOvServerBuilt) { GTEST_SKIP() << "the OV server is not part of this build"; }

#endif

}  // namespace
}  // namespace ov::it
