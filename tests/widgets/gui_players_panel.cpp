// The players panel as the user meets it: in a Quake server's window, asking the game port its OV server
// announced, showing the answer, the counts of the day and why a kick cannot be; fitting its window;
// silent once hidden or dead. The sockets are the fakes' but for the IPv6 query and the look-up pool.
#include <gtest/gtest.h>

#include <QApplication>
#include <QContextMenuEvent>
#include <QHelpEvent>
#include <QLabel>
#include <QMdiArea>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTextDocument>
#include <QTimer>
#include <QTreeWidget>
#include <QUdpSocket>
#include <atomic>
#include <condition_variable>
#include <mutex>

#include "app/qt/main_window.h"
#include "app/qt/qt_platform.h"
#include "app/qt/settings.h"
#include "consoles/qt/console_window.h"
#include "consoles/qt/log_view.h"
#include "consoles/qt/players_panel.h"
#include "consoles/qt/players_split.h"
#include "net/qt/host_lookup.h"
#include "net/qt/posix_socket_api.h"
#include "net/qt/qt_event_loop.h"
#include "registry/qt/servers_window.h"
#include "tests/common/controls.h"
#include "tests/common/fakes.h"
#include "tests/common/shown_windows.h"

namespace ov {
namespace {

const std::string kSep(1, '\x80');

// An OV server "alpha" on the fakes, running Quake server 7 "Duel", whose game port it announced.
struct Served {
  Settings settings;
  QtFrontEnd ui{settings};
  test::FakeEventLoop loop;
  test::FakeSocketApi sockets{loop};
  Client client{ui.PlatformWith(sockets, loop)};
  QtSession session{ui, client, "orvane-client"};
  int socket = 0;

  explicit Served(int gamePort = 27963) {
    ui.Main().resize(900, 700);
    ui.Main().show();
    sockets.autoConnectError = 0;
    client.Connections().ConnectToServer("127.0.0.1", 4044, 10);
    socket = sockets.lastSocket;
    Receive(test::FrameOf("1021", "i" + kSep + "alpha") + test::FrameOf("1027", "7") +
            test::FrameOf("1025", "7" + kSep + kSep + "Duel" + kSep + kSep + "1" + kSep + "1" + kSep +
                                      std::to_string(gamePort)));
  }
  ~Served() {
    if (ui.Main().PlayersShown()) test::Find<QAction>(ui.Main(), "mnuPlayers")->trigger();
  }
  void Receive(const std::string& bytes) {
    sockets.Deliver(socket, bytes);
    loop.RunPending();
    test::ShowOpened(ui.Main());
  }
  ConsoleWindow* Duel() {
    Console* duel = client.Sessions().WindowOf(client.Sessions().Find(socket)->Slot(), 7);
    return duel == nullptr ? nullptr : dynamic_cast<ConsoleWindow*>(duel->view);
  }
  PlayersPanel* Panel() { return Duel()->Players(); }
  // The game server answers the last query sent, echoing its challenge.
  void Answer(const std::string& players, const std::string& map = "dm6") {
    const int udp = sockets.lastSocket;
    const test::FakeSocketApi::Datagram& query = sockets.datagrams.at(udp).sent.back();
    const std::string challenge = query.bytes.substr(14, 16);
    sockets.DeliverDatagram(udp, {query.peer, query.port,
                                  "\xFF\xFF\xFF\xFFstatusResponse\n\\mapname\\" + map +
                                      "\\sv_maxclients\\8\\challenge\\" + challenge + "\n" + players});
    loop.RunPending();
  }
};

TEST(PlayersPanel, AsksTheAnnouncedGamePortShowsTheAnswerAndStopsWhenHiddenOrDead) {
  Served p;
  PlayersPanel* panel = p.Panel();
  EXPECT_FALSE(panel->Querying()) << "off by default, the panel asks nothing";
  test::Find<QAction>(p.ui.Main(), "mnuPlayers")->trigger();
  ASSERT_TRUE(panel->Querying());
  const auto& sent = p.sockets.datagrams.at(p.sockets.lastSocket).sent;
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].port, Htons(27963)) << "not the game port the OV server announced";
  EXPECT_EQ(sent[0].peer.bytes[0], 127);

  p.Answer("3 48 \"^1Red^7Baron\"\n1 20 \"Wolf\"\n");
  EXPECT_EQ(panel->Summary().toStdString(), "2/8 players on dm6");
  ASSERT_EQ(panel->List()->topLevelItemCount(), 2);
  EXPECT_EQ(panel->List()->topLevelItem(0)->text(0), "^1Red^7Baron");
  EXPECT_EQ(test::Find<ServersWindow>(p.ui.Main(), "fSvrs")
                ->Tree()
                ->findItems("[G]Duel", Qt::MatchRecursive)
                .value(0)
                ->toolTip(0),
            "2/8 players on dm6");
  auto* plot = test::Find<PlayersPlot>(*panel, "PlayersPlot");
  EXPECT_EQ(plot->Figures().toStdString(), "Last 24 hours: peak 2, average 2.0 players");
  EXPECT_EQ(plot->TimeLabel(QTime(12, 0)), "since 12:00");
  const Clock::time_point first = p.loop.Now();
  p.loop.Advance(PlayersPanel::kRefreshMs);
  p.Answer("1 20 \"Wolf\"\n");
  EXPECT_EQ(plot->Figures().toStdString(), "Last 24 hours: peak 2, average 1.5 players");

  // Hidden, then shown again: the counts heard stay with the window.
  test::Find<QAction>(p.ui.Main(), "mnuPlayers")->trigger();
  EXPECT_FALSE(panel->Querying());
  EXPECT_EQ(p.sockets.OpenDatagrams(), 0);
  test::Find<QAction>(p.ui.Main(), "mnuPlayers")->trigger();
  EXPECT_EQ(plot->Figures().toStdString(), "Last 24 hours: peak 2, average 1.5 players");

  // The server goes: its window is dead, and its panel asks no more.
  p.Receive(test::FrameOf("1028", "7"));
  EXPECT_FALSE(panel->Querying());
  EXPECT_EQ(p.sockets.OpenDatagrams(), 0);
  const size_t queries = p.sockets.datagrams.size();
  p.loop.Advance(5 * PlayersPanel::kRefreshMs);
  EXPECT_EQ(p.sockets.datagrams.size(), queries);

  // The counts heard stay on the plot for a day, its time axis saying since when.
  const struct {
    int minutes;  // since the first count
    QString label;
  } ages[] = {{90, "since 10:30"}, {24 * 60 - 1, "last 24 hours"}, {24 * 60, ""}};
  for (const auto& age : ages) {
    p.loop.Advance(
        int((first + std::chrono::minutes(age.minutes) - p.loop.Now()) / std::chrono::milliseconds(1)));
    EXPECT_EQ(plot->TimeLabel(QTime(12, 0)), age.label) << age.minutes;
  }
}

// Opens a player's context menu and reads it: Kick's state and the other lines, then runs act on it.
QStringList PlayerMenu(PlayersPanel* panel, int row, const std::function<void(QMenu*)>& act = nullptr) {
  QStringList seen;
  QTreeWidget* list = panel->List();
  const QPoint at = list->visualItemRect(list->topLevelItem(row)).center();
  QTimer::singleShot(0, [&] {
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    if (!menu) return;
    for (QAction* a : menu->actions())
      seen << (a->isEnabled() ? "" : "(off) ") + a->text() +
                  (a->toolTip() != a->text().remove('&') ? " / " + a->toolTip() : "");
    if (act) {
      act(menu);
    } else {
      menu->close();
    }
  });
  emit list->customContextMenuRequested(at);
  return seen;
}

// Answers Yes to the message box once it is up, from inside its loop, reading its text; gives up after
// `turns` turns of the loop, so that a box that never comes fails the test by what it asked.
void AnswerBox(QString* text, int turns) {
  QTimer::singleShot(10, [text, turns] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      *text = box->text();
      box->button(QMessageBox::Yes)->click();
    } else if (turns > 0) {
      AnswerBox(text, turns - 1);
    }
  });
}

TEST(PlayersPanel, KickSaysWhyItCannotAndAsksWithTheNameAsShown) {
  Served p;
  PlayersPanel* panel = p.Panel();
  test::Find<QAction>(p.ui.Main(), "mnuPlayers")->trigger();
  p.Answer("1 1 \"Sarge\"\n1 1 \"sarge\"\n1 1 \"Vic\x01tim\"\n1 1 \"^1Red^7Baron\"\n");
  ASSERT_EQ(panel->List()->topLevelItemCount(), 4);
  EXPECT_EQ(panel->List()->topLevelItem(2)->text(0), "Vic tim");
  const QString named = "Not by name: another player's name matches it (in another case or colours)";
  const QString altered = "Not by name: the name is shown changed (cut, or a control character as a blank)";
  EXPECT_EQ(PlayerMenu(panel, 0), QStringList({"(off) &Kick / " + named, "(off) " + named}));
  EXPECT_EQ(PlayerMenu(panel, 2), QStringList({"(off) &Kick / " + altered, "(off) " + altered}));

  // With Colour Codes on the question shows the name as the list draws it; the line sends it as sent.
  test::Find<QAction>(p.ui.Main(), "mnuColourCodes")->trigger();
  QString asked;
  AnswerBox(&asked, 200);
  PlayerMenu(panel, 3, [](QMenu* menu) {
    menu->setActiveAction(menu->actions().front());
    QTest::keyClick(menu, Qt::Key_Return);
  });
  test::Find<QAction>(p.ui.Main(), "mnuColourCodes")->trigger();
  EXPECT_EQ(asked.toStdString(), "Kick RedBaron from the server?") << "no question came";
  std::vector<std::string> lines;
  for (const Frame& f : FrameAssembler().Feed(p.sockets.sockets.at(p.socket).sent).frames)
    lines.push_back(f.payload);
  EXPECT_EQ(lines.back(), "kick ^1Red^7Baron");
}

TEST(PlayersPanel, FitsInsideItsWindowAndKeepsTheLogReadableWhenTiled) {
  Served p;
  ConsoleWindow* duel = p.Duel();
  QMdiArea* area = p.ui.Main().MdiArea();
  duel->move(area->viewport()->width() - duel->width() - 40, 0);  // little room to its right
  test::Find<QAction>(p.ui.Main(), "mnuPlayers")->trigger();
  QApplication::processEvents();
  EXPECT_LE(duel->geometry().right(), area->viewport()->width() - 1) << "the panel widened it past the frame";
  EXPECT_GE(duel->x(), 0);
  auto* split = test::Find<PlayersSplit>(*duel, "PlayersSplit");
  const int charWidth = duel->Log()->fontMetrics().horizontalAdvance('x');
  EXPECT_GE(duel->Log()->width(), 30 * charWidth);
  EXPECT_GT(p.Panel()->width(), PlayersSplit::kMinPanel - 1);
  EXPECT_LE(p.Panel()->geometry().right(), split->width());

  // A tile of a seven-window frame: the panel keeps its share, the log a usable width.
  duel->resize(300, 220);
  QApplication::processEvents();
  EXPECT_GE(duel->Log()->width(), 20 * charWidth)
      << "the log would wrap at " << duel->Log()->width() / charWidth;
  // The user drags the split; the share is kept through a resize.
  split->setSizes({100, split->width() - 100});
  emit split->splitterMoved(100, 1);
  duel->resize(600, 220);
  QApplication::processEvents();
  EXPECT_NEAR(double(p.Panel()->width()) / (split->width() - split->handleWidth()), split->Share(), 0.02);
  EXPECT_GT(p.Panel()->width(), 300);
}

// What a tool tip holding this text shows: a tip that looks like markup is read as markup.
QString ShownAsTip(const QString& tip) {
  QTextDocument shown;
  if (Qt::mightBeRichText(tip)) {
    shown.setHtml(tip);
  } else {
    shown.setPlainText(tip);
  }
  return shown.toPlainText();
}

TEST(PlayersPanel, TipsShowTheGameServersTextAsSent) {
  // The panel's summary and the server's node show a map's name as text, whatever it holds.
  Served p;
  test::Find<QAction>(p.ui.Main(), "mnuPlayers")->trigger();
  QTreeWidgetItem* node = test::Find<ServersWindow>(p.ui.Main(), "fSvrs")
                              ->Tree()
                              ->findItems("[G]Duel", Qt::MatchRecursive)
                              .value(0);
  ASSERT_NE(node, nullptr);
  for (const char* map : {"oa_dm1", "<b>dm6</b>", "<img src=/x>", "a&amp;b", "<qt>x"}) {
    p.loop.Advance(PlayersPanel::kRefreshMs);
    p.Answer("1 2 \"x\"\n", map);
    const QString summary = "1/8 players on " + QString(map);
    EXPECT_EQ(p.Panel()->Summary(), summary);
    EXPECT_EQ(ShownAsTip(p.Panel()->findChild<QLabel*>("PlayersSummary")->toolTip()).toStdString(),
              summary.toStdString());
    EXPECT_EQ(ShownAsTip(node->toolTip(0)).toStdString(), summary.toStdString());
  }
}

TEST(PlayersPanel, ShownStateAndQueryAddressesAreRemembered) {
  {
    Settings firstRun(UserSettings());
    MainWindow first(firstRun);
    EXPECT_FALSE(test::Find<QAction>(first, "mnuPlayers")->isChecked());  // off by default
    test::Find<QAction>(first, "mnuPlayers")->trigger();
    const Endpoint server{"127.0.0.1", 4044, 10};
    for (int i = 0; i <= Settings::kMaxStatusQueries; ++i)
      firstRun.SetStatusQuery(server, "title " + std::to_string(i),
                              "10.0.0." + std::to_string(i % 250) + ":27960");
    firstRun.SetStatusQuery(server, "title 5", "game:27961");  // set again: the latest wins
  }
  Settings settings(UserSettings());
  MainWindow second(settings);
  EXPECT_TRUE(test::Find<QAction>(second, "mnuPlayers")->isChecked());
  test::Find<QAction>(second, "mnuPlayers")->trigger();
  // Whatever the time-out count the server was reached with.
  EXPECT_EQ(settings.StatusQuery({"127.0.0.1", 4044, 3}, "title 5"), "game:27961");
  EXPECT_EQ(settings.StatusQuery({"127.0.0.1", 4045, 10}, "title 5"), "");
  EXPECT_EQ(settings.StatusQuery({"127.0.0.1", 4044, 10}, "title 0"), "");  // beyond the bound
  EXPECT_EQ(settings.StatusQuery({"127.0.0.1", 4044, 10}, "title 1"), "10.0.0.1:27960");
}

TEST(StatusQueryOverPosix, AnIpv6ServerIsAskedOverIpv6AndAnswersItsChallenge) {
  QUdpSocket server;
  if (!server.bind(QHostAddress::LocalHostIPv6, 0)) GTEST_SKIP() << "this machine has no IPv6 loopback";
  PosixSocketApi sockets;
  QtEventLoop loop;
  StatusQuery query(sockets, loop, {});
  query.SetTarget({"::1", server.localPort()});
  query.Start();
  ASSERT_TRUE(QTest::qWaitFor([&] { return server.hasPendingDatagrams(); }, 5000)) << "no query came";
  QByteArray asked(64, '\0');
  QHostAddress from;
  quint16 port = 0;
  asked.resize(server.readDatagram(asked.data(), asked.size(), &from, &port));
  ASSERT_TRUE(asked.startsWith("\xFF\xFF\xFF\xFFgetstatus ")) << asked.toStdString();
  const QByteArray challenge = asked.mid(14).trimmed();
  server.writeDatagram("\xFF\xFF\xFF\xFFstatusResponse\n\\mapname\\dm6\\challenge\\" + challenge + "\n", from,
                       port);
  ASSERT_TRUE(QTest::qWaitFor([&] { return query.State() == StatusQuery::Shown::Answer; }, 5000))
      << "the answer was not taken";
  EXPECT_EQ(query.Status().map, "dm6");
  query.Stop();
  EXPECT_EQ(sockets.OpenSockets(), 0);
}

TEST(HostLookups, ASilentResolverHoldsAFewThreadsAndTheWaitingAreBounded) {
  std::mutex mutex;
  std::condition_variable released;
  bool silent = true;
  std::atomic<int> inside{0}, most{0};
  HostLookups lookups([&](const std::string& host, bool) {
    const int now = ++inside;
    for (int seen = most; now > seen && !most.compare_exchange_weak(seen, now);) {
    }
    std::unique_lock<std::mutex> lock(mutex);
    released.wait(lock, [&] { return !silent; });
    --inside;
    return std::vector<SocketAddress>(host.size());
  });
  int answered = 0, started = 0;
  for (size_t i = 0; i < HostLookups::kMaxWaiting + 2 * HostLookups::kWorkers; ++i)
    started += lookups.Start("game.example", false, [&](std::vector<SocketAddress>) { ++answered; }) != -1;
  ASSERT_TRUE(QTest::qWaitFor([&] { return inside == HostLookups::kWorkers; }, 5000))
      << "the pool did not start";
  EXPECT_EQ(lookups.Threads(), HostLookups::kWorkers);
  // Those the threads took are no longer waiting: the bound holds for the rest.
  EXPECT_GE(started, int(HostLookups::kMaxWaiting));
  EXPECT_LE(started, int(HostLookups::kMaxWaiting + HostLookups::kWorkers)) << "the waiting were not bounded";
  {
    const std::lock_guard<std::mutex> lock(mutex);
    silent = false;
  }
  released.notify_all();
  ASSERT_TRUE(QTest::qWaitFor([&] { return answered == started; }, 5000)) << answered << " of " << started;
  EXPECT_EQ(most, HostLookups::kWorkers);
}

}  // namespace
}  // namespace ov
