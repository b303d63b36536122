// Remember password in the login dialog, against the desktop's keyring: none at all, and a real one on
// a private session bus of the test's own.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <csignal>
#include <functional>

#include "app/qt/qt_platform.h"
#include "core/status_line.h"
#include "protocol/qt/keyring_store.h"
#include "protocol/qt/login_dialog.h"
#include "tests/common/controls.h"
#include "tests/common/fakes.h"
#include "tests/common/qt_wait.h"

namespace ov {
namespace {

const std::string kServer = "127.0.0.1:4044";

bool ProcessUntil(const std::function<bool()>& done, int ms = 10000) {
  QElapsedTimer clock;
  clock.start();
  while (!done() && clock.elapsed() < ms) QApplication::processEvents(QEventLoop::AllEvents, 10);
  return done();
}

// The login dialog with Remember password wired to the keyring, as the program has it.
struct Remembering {
  test::RecordingDesktop desktop;
  StatusLine status{desktop};
  LoginDialog dlg;
  KeyringStore store;
  SavedLogins logins{store, dlg, status};
  Remembering() { ConnectSavedLogins(dlg, logins, dlg); }
  void ShowLogin() { dlg.ShowStep({"Arena", "Login:", "Password:", true, false, true, kServer, true}); }
};

TEST(SavedLogins, WithoutASessionBusTheBoxIsDisabledAndSaysWhy) {
  QTemporaryDir runtime;  // a runtime folder with no bus in it
  const QByteArray address = qgetenv("DBUS_SESSION_BUS_ADDRESS");
  const QByteArray folder = qgetenv("XDG_RUNTIME_DIR");
  qunsetenv("DBUS_SESSION_BUS_ADDRESS");
  qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
  Remembering r;
  r.ShowLogin();
  const bool answered =
      ProcessUntil([&] { return !test::Find<QCheckBox>(r.dlg, "cbRemember")->toolTip().contains("Asking"); });
  if (!address.isEmpty()) qputenv("DBUS_SESSION_BUS_ADDRESS", address);
  qputenv("XDG_RUNTIME_DIR", folder);
  ASSERT_TRUE(answered);
  EXPECT_TRUE(test::Find<QCheckBox>(r.dlg, "cbRemember")->isVisible());
  EXPECT_FALSE(test::Find<QCheckBox>(r.dlg, "cbRemember")->isEnabled());
  EXPECT_FALSE(test::Find<QCheckBox>(r.dlg, "cbRemember")->isChecked());
  EXPECT_EQ(test::Find<QCheckBox>(r.dlg, "cbRemember")->toolTip(),
            "No D-Bus session bus: the desktop's keyring cannot be reached");
  EXPECT_FALSE(test::Find<QPushButton>(r.dlg, "bForget")->isEnabled());
}

#ifdef CLIENT_PROGRAM
// On a real display Qt asks for the session bus as the program starts; without one, the D-Bus library
// would start a bus (and write where to find it under ~/.dbus) that outlives the program.
// An address whose only entries start a bus ("autolaunch:") names none either.
TEST(OnDesktop, WithoutASessionBusTheClientStartsNone) {
  for (const char* address : {"", "autolaunch:", "unix:path=/nowhere;autolaunch:"}) {
    SCOPED_TRACE(address);
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DBUS_SESSION_BUS_ADDRESS");
    if (*address != '\0') env.insert("DBUS_SESSION_BUS_ADDRESS", address);
    for (const char* name : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_RUNTIME_DIR"}) {
      ASSERT_TRUE(QDir().mkpath(home.filePath(name)));
      QFile::setPermissions(home.filePath(name), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
      env.insert(name, home.filePath(name));
    }
    QProcess client;
    client.setProcessEnvironment(env);
    client.start(CLIENT_PROGRAM, {});
    ASSERT_TRUE(client.waitForStarted(5000)) << "the client did not start";
    // Up once its frame shows on the display.
    auto shown = [&] {
      QProcess xprop;
      xprop.start("xprop", {"-name", "Orvane Client", "_NET_WM_PID"});
      return xprop.waitForFinished(2000) &&
             xprop.readAllStandardOutput().trimmed().endsWith(" " + QByteArray::number(client.processId()));
    };
    const bool up = test::PumpQt("the client's frame on the display", shown, 10000);
    client.terminate();
    EXPECT_TRUE(client.waitForFinished(5000)) << "the client did not end";
    ASSERT_TRUE(up);
    // A bus started for it: named in a file under its home, and ended here.
    const QDir buses(home.filePath("HOME/.dbus/session-bus"));
    for (const QString& name : buses.entryList(QDir::Files)) {
      QFile file(buses.filePath(name));
      ASSERT_TRUE(file.open(QIODevice::ReadOnly));
      const QByteArray text = file.readAll();
      const int at = text.indexOf("DBUS_SESSION_BUS_PID=");
      const int bus = at < 0 ? 0 : text.mid(at + 21).split('\n').first().toInt();
      if (bus > 1) ::kill(bus, SIGTERM);
      ADD_FAILURE() << "a session bus was started: " << text.toStdString();
    }
  }
}
#endif

// What the keyring holds for a key, asked of it by another program: each entry's label and password.
QString Lookup(const std::string& key) {
  QProcess tool;
  tool.start("secret-tool", {"search", "--all", "user", QString::fromStdString(key)});
  if (!tool.waitForFinished(10000)) return "(no answer)";
  QStringList found;
  for (const QString& line : QString::fromUtf8(tool.readAllStandardOutput()).split('\n')) {
    if (line.startsWith("label = ") || line.startsWith("secret = ")) found << line.mid(line.indexOf('=') + 2);
  }
  return found.join(" / ");
}

TEST(SavedLogins, AKeyringOnAPrivateBusKeepsFillsAndForgetsThePassword) {
  for (const char* program : {"dbus-run-session", "gnome-keyring-daemon", "secret-tool"}) {
    if (QStandardPaths::findExecutable(program).isEmpty())
      GTEST_SKIP() << program << " is not installed (packages dbus-daemon, gnome-keyring, libsecret-tools)";
  }
  const QString test =
      QString("%1.%2").arg(testing::UnitTest::GetInstance()->current_test_info()->test_suite_name(),
                           testing::UnitTest::GetInstance()->current_test_info()->name());
  if (qEnvironmentVariable("OV_PRIVATE_KEYRING").isEmpty()) {
    // This test again, in a session bus and home of its own: the user's keyring is never reached.
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DBUS_SESSION_BUS_ADDRESS");
    for (const char* name :
         {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_RUNTIME_DIR"}) {
      const QString path = home.path() + "/" + name;
      ASSERT_TRUE(QDir().mkpath(path));
      QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
      env.insert(name, path);
    }
    env.insert("OV_PRIVATE_KEYRING", home.path());
    env.insert("QT_QPA_PLATFORM", "offscreen");
    QProcess child;
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start("dbus-run-session",
                {"--", QCoreApplication::applicationFilePath(), "--gtest_filter=" + test});
    const bool ended = child.waitForFinished(60000);
    if (!ended) child.kill();
    const QString out = QString::fromUtf8(child.readAll());
    ASSERT_TRUE(ended) << "the private session did not end within 60 s:\n" << out.toStdString();
    EXPECT_EQ(child.exitCode(), 0) << out.toStdString();
    EXPECT_TRUE(out.contains("[  PASSED  ] 1 test")) << out.toStdString();
    return;
  }
  ASSERT_TRUE(QDir::homePath().startsWith(qEnvironmentVariable("OV_PRIVATE_KEYRING")));
  QProcess daemon;  // unlocks a new login keyring with an empty password, then leaves its daemon running
  daemon.start("gnome-keyring-daemon", {"--unlock", "--components=secrets"});
  daemon.write("\n");
  daemon.closeWriteChannel();
  ASSERT_TRUE(daemon.waitForFinished(10000)) << "gnome-keyring-daemon did not start";

  Remembering r;
  r.ShowLogin();
  ASSERT_TRUE(ProcessUntil([&] { return test::Find<QCheckBox>(r.dlg, "cbRemember")->isEnabled(); }))
      << test::Find<QCheckBox>(r.dlg, "cbRemember")->toolTip().toStdString();
  EXPECT_FALSE(test::Find<QCheckBox>(r.dlg, "cbRemember")->isChecked());  // off until asked for
  test::Find<QLineEdit>(r.dlg, "edPW1")->setText("alice");
  test::Find<QLineEdit>(r.dlg, "edPW2")->setText("s3cret");
  test::Find<QCheckBox>(r.dlg, "cbRemember")->setChecked(true);
  test::Find<QPushButton>(r.dlg, "OKBtn")->click();
  r.logins.LoginAccepted(kServer);
  ASSERT_TRUE(ProcessUntil([&] { return r.logins.KeptLogins().count(kServer) > 0; })) << r.desktop.Bar();
  EXPECT_EQ(Lookup("alice@" + kServer), "Orvane Client: alice@127.0.0.1:4044 / s3cret");

  // The next prompt from there is filled and waits for the user.
  r.ShowLogin();
  ASSERT_TRUE(ProcessUntil([&] { return test::Find<QLineEdit>(r.dlg, "edPW2")->text() == "s3cret"; }))
      << r.desktop.Bar();
  EXPECT_EQ(test::Find<QLineEdit>(r.dlg, "edPW1")->text(), "alice");
  EXPECT_TRUE(r.dlg.isVisible());
  EXPECT_TRUE(test::Find<QCheckBox>(r.dlg, "cbRemember")->isChecked());
  ASSERT_TRUE(test::Find<QPushButton>(r.dlg, "bForget")->isEnabled());

  test::Find<QPushButton>(r.dlg, "bForget")->click();
  ASSERT_TRUE(ProcessUntil([&] { return r.logins.KeptLogins().empty(); })) << r.desktop.Bar();
  EXPECT_FALSE(test::Find<QPushButton>(r.dlg, "bForget")->isEnabled());
  EXPECT_FALSE(test::Find<QCheckBox>(r.dlg, "cbRemember")->isChecked());
  EXPECT_EQ(Lookup("alice@" + kServer), "");
}

}  // namespace
}  // namespace ov
