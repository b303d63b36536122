// The players panel's rules that a stand-in cannot break: an answer counts only from where the query
// went; what the user chose is kept between runs, within its bound.
#include <gtest/gtest.h>

#include <QLabel>
#include <QTest>
#include <QTextDocument>
#include <QTreeWidget>
#include <QUdpSocket>

#include "app/qt/main_window.h"
#include "app/qt/settings.h"
#include "consoles/qt/players_panel.h"
#include "registry/qt/servers_window.h"
#include "tests/common/controls.h"

namespace ov {
namespace {

QByteArray Answer(const char* map) {
  return QByteArray("\xFF\xFF\xFF\xFFstatusResponse\n\\mapname\\") + map + "\\sv_maxclients\\4\n1 2 \"x\"\n";
}

TEST(PlayersPanel, AnswersFromAnyOtherAddressOrPortAreIgnored) {
  QUdpSocket server;  // where the query goes
  QUdpSocket other;   // anyone else on the machine
  ASSERT_TRUE(server.bind(QHostAddress::LocalHost, 0));
  ASSERT_TRUE(other.bind(QHostAddress::LocalHost, 0));
  PlayersPanel panel;
  panel.SetTarget({"127.0.0.1", server.localPort()});
  panel.show();
  ASSERT_TRUE(QTest::qWaitFor([&] { return server.hasPendingDatagrams(); }, 5000)) << "no query came";
  QByteArray query(64, '\0');
  QHostAddress from;
  quint16 port = 0;
  query.resize(server.readDatagram(query.data(), query.size(), &from, &port));
  EXPECT_EQ(query, QByteArray("\xFF\xFF\xFF\xFFgetstatus\n"));

  other.writeDatagram(Answer("forged"), from, port);
  server.writeDatagram(Answer("dm6"), from, port);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !panel.Summary().isEmpty(); }, 5000));
  EXPECT_EQ(panel.Summary().toStdString(), "1/4 players on dm6");
  // The forged answer, read before the true one, was dropped: a later read holds nothing of it. Nor does
  // a second answer from the server itself to the one query.
  other.writeDatagram(Answer("forged"), from, port);
  server.writeDatagram(Answer("unasked"), from, port);
  QTest::qWait(100);
  EXPECT_EQ(panel.Summary().toStdString(), "1/4 players on dm6");
  panel.hide();
  EXPECT_FALSE(panel.Querying());
}

TEST(PlayersPanel, AnIpv6ServerIsAskedOverIpv6) {
  QUdpSocket server;
  if (!server.bind(QHostAddress::LocalHostIPv6, 0)) GTEST_SKIP() << "this machine has no IPv6 loopback";
  PlayersPanel panel;
  const std::optional<StatusTarget> target = ParseStatusTarget("[::1]:" + std::to_string(server.localPort()));
  ASSERT_TRUE(target.has_value()) << "a bracketed IPv6 address is refused";
  panel.SetTarget(*target);
  panel.show();
  ASSERT_TRUE(QTest::qWaitFor([&] { return server.hasPendingDatagrams(); }, 5000)) << "no query came";
  QHostAddress from;
  quint16 port = 0;
  server.readDatagram(nullptr, 0, &from, &port);
  server.writeDatagram(Answer("dm6"), from, port);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !panel.Summary().isEmpty(); }, 5000));
  EXPECT_EQ(panel.Summary().toStdString(), "1/4 players on dm6");
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
  ServersWindow servers;
  const int node = servers.AddNode(0, "Duel");
  for (const char* map : {"oa_dm1", "<b>dm6</b>", "<img src=/x>", "a&amp;b", "<qt>x"}) {
    QUdpSocket server;
    ASSERT_TRUE(server.bind(QHostAddress::LocalHost, 0));
    PlayersPanel panel;
    panel.SetTarget({"127.0.0.1", server.localPort()});
    panel.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return server.hasPendingDatagrams(); }, 5000)) << "no query came";
    QHostAddress from;
    quint16 port = 0;
    server.readDatagram(nullptr, 0, &from, &port);
    server.writeDatagram(Answer(map), from, port);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !panel.Summary().isEmpty(); }, 5000)) << map;
    const QString summary = "1/4 players on " + QString(map);
    EXPECT_EQ(panel.Summary(), summary);
    EXPECT_EQ(ShownAsTip(panel.findChild<QLabel*>("PlayersSummary")->toolTip()).toStdString(),
              summary.toStdString());
    servers.SetNodeTip(node, summary.toStdString());
    EXPECT_EQ(ShownAsTip(servers.Tree()->topLevelItem(0)->toolTip(0)).toStdString(), summary.toStdString());
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

}  // namespace
}  // namespace ov
