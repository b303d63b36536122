// View > Notifications and the consoles' Watch Words on the real widgets; the OnNotificationDaemon cases
// run against a real notification daemon on a private session bus
// (tests/widgets/with_notification_daemon.sh).
#include <gtest/gtest.h>

#include <QFile>
#include <QInputDialog>
#include <QMdiArea>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <optional>

#include "app/qt/notifications.h"
#include "app/qt/qt_platform.h"
#include "app/qt/settings.h"
#include "consoles/qt/console_window.h"
#include "tests/common/controls.h"
#include "tests/common/fakes.h"
#include "tests/common/qt_wait.h"

namespace ov {
namespace {

const std::string kSep(1, '\x80');

// The program over faked sockets, with OV server "alpha" running game server 7 "Duel", both windows open.
struct Program {
  Settings settings{UserSettings()};
  QtFrontEnd ui{settings};
  test::FakeEventLoop loop;
  test::FakeSocketApi sockets{loop};
  Client client{ui.PlatformWith(sockets, loop)};
  QtSession session{ui, client, "orvane-client"};
  int socket = 0;

  Program() {
    ui.Main().show();
    sockets.autoConnectError = 0;
    client.Connections().ConnectToServer("127.0.0.1", 4044, 10);
    socket = sockets.lastSocket;
    Receive("1021", "i" + kSep + "alpha");
    Receive("1027", "7");
    Receive("1025", "7" + kSep + kSep + "Duel" + kSep + kSep + "1" + kSep + "1");
  }
  ~Program() { Switch()->setChecked(false); }  // the settings outlive the test
  void Receive(const std::string& code, const std::string& payload) {
    sockets.Deliver(socket, test::FrameOf(code, payload));
    loop.RunPending();
  }
  QAction* Switch() { return test::Find<QAction>(*ui.Main().menuBar(), "mnuNotifications"); }
  ConsoleWindow* View(int id) {
    const int slot = client.Sessions().Find(socket)->Slot();
    Console* w = id == 0 ? client.Sessions().WindowOf(slot, 0) : client.Sessions().WindowOf(slot, id);
    return dynamic_cast<ConsoleWindow*>(w->view);
  }
  // As the user sets them: the window's menu item, then the dialog.
  void SetWatchWords(ConsoleWindow& view, const QString& words) {
    QAction* item = test::Find<QAction>(view, "mnuWatchWords");
    emit view.systemMenu()->aboutToShow();
    ASSERT_TRUE(item->isEnabled());
    item->trigger();
    auto* dialog = test::Find<QInputDialog>(ui.Main(), "WatchWordsDlg");
    dialog->setTextValue(words);
    dialog->accept();
    delete dialog;  // closed, it would go at a later turn of the loop
  }
};

TEST(Notifications, OffByDefaultWatchWordsAndTheSwitchAreRemembered) {
  Program p;
  EXPECT_FALSE(p.Switch()->isChecked());
  p.SetWatchWords(*p.View(7), " Admin, CHEAT ");
  const auto kept = p.settings.WatchWords();
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_EQ(kept[0].first, (NoticeKey{"127.0.0.1:4044", "Duel", true}));
  EXPECT_EQ(kept[0].second, (std::vector<std::string>{"admin", "cheat"}));
  p.Switch()->setChecked(true);
  EXPECT_TRUE(p.settings.NotificationsOn());
  // A dead window's server is gone: it has no words to set.
  ConsoleWindow* dead = p.View(7);
  p.Receive("1028", "7");
  emit dead->systemMenu()->aboutToShow();
  EXPECT_FALSE(test::Find<QAction>(*dead, "mnuWatchWords")->isEnabled());
  p.SetWatchWords(*p.View(0), "");
  EXPECT_EQ(p.settings.WatchWords().size(), 1u) << "no words for the OV server keep nothing for it";
}

TEST(Notifications, NoSessionBusIsStartedForThem) {
  const QTemporaryDir runtime;
  QFile(runtime.path() + "/bus").open(QIODevice::WriteOnly);
  struct Case {
    const char *named, *runtime;
    QString address;
  };
  const std::vector<Case> cases = {
      {"unix:path=/run/user/1/bus", nullptr, "unix:path=/run/user/1/bus"},
      {"autolaunch:", nullptr, ""},
      {"unix:path=/nowhere;autolaunch:", nullptr, ""},
      {nullptr, "/nonexistent", ""},
      {nullptr, nullptr, ""},
      {nullptr, "RUNTIME", "unix:path=" + runtime.path() + "/bus"},
  };
  const auto keep = [](const char* name) {
    return qEnvironmentVariableIsSet(name) ? std::optional<QByteArray>(qgetenv(name)) : std::nullopt;
  };
  const std::optional<QByteArray> kept = keep("DBUS_SESSION_BUS_ADDRESS"),
                                  keptRuntime = keep("XDG_RUNTIME_DIR");
  for (const Case& c : cases) {
    c.named ? qputenv("DBUS_SESSION_BUS_ADDRESS", c.named) : qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    const QString dir = c.runtime && QString(c.runtime) == "RUNTIME" ? runtime.path() : QString(c.runtime);
    c.runtime ? qputenv("XDG_RUNTIME_DIR", dir.toUtf8()) : qunsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(DBusNotifier::SessionBusAddress(), c.address)
        << (c.named ? c.named : "") << " " << dir.toStdString();
  }
  kept ? qputenv("DBUS_SESSION_BUS_ADDRESS", *kept) : qunsetenv("DBUS_SESSION_BUS_ADDRESS");
  keptRuntime ? qputenv("XDG_RUNTIME_DIR", *keptRuntime) : qunsetenv("XDG_RUNTIME_DIR");
}

// The notices the daemon received, "id|summary|body" each.
QString Received() {
  QFile log(qEnvironmentVariable("NOTICE_LOG"));
  return log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll()) : QString();
}

TEST(OnNotificationDaemon, ANoticeReachesTheDaemonAndItsClickOpensTheConsole) {
  ASSERT_FALSE(qEnvironmentVariableIsEmpty("NOTICE_LOG")) << "run under with_notification_daemon.sh";
  Program p;
  p.Switch()->setChecked(true);
  p.SetWatchWords(*p.View(7), "cheat");
  QMdiArea* area = p.ui.Main().MdiArea();
  area->setActiveSubWindow(p.View(0));
  p.Receive("0007", "player ^1Cheat^7er joined\n");
  ASSERT_TRUE(test::PumpQt("the daemon to receive the watch word's notice",
                           [] { return Received().contains("Duel: \"cheat\"|player Cheater joined"); }));
  ASSERT_NE(area->activeSubWindow(), p.View(7));
  ASSERT_EQ(QProcess::execute("dunstctl", {"action", "0"}), 0);
  EXPECT_TRUE(test::PumpQt("a click on the notice to activate Duel's console",
                           [&] { return area->activeSubWindow() == p.View(7); }));

  // A removal, then the OV server's word on how it ended, before the daemon has answered the first:
  // the same notice, updated.
  p.Receive("1028", "7");
  p.Receive("0000", "Server 7 ended: crashed\r\n");
  const auto idOf = [](const QString& summary) {
    const QRegularExpressionMatch m =
        QRegularExpression("^(\\d+)\\|" + summary + "\\|", QRegularExpression::MultilineOption)
            .match(Received());
    return m.hasMatch() ? m.captured(1) : QString();
  };
  ASSERT_TRUE(test::PumpQt("the daemon to receive the removal and its update",
                           [&] { return !idOf("Duel ended").isEmpty() && !idOf("Duel crashed").isEmpty(); }));
  EXPECT_EQ(idOf("Duel crashed"), idOf("Duel ended")) << Received().toStdString();
}

}  // namespace
}  // namespace ov
