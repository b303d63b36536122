// The program's entry: the application title, the windows in their order, the client composed on the
// real sockets and event loop, and the message loop.
#include <QApplication>
#include <QLoggingCategory>
#include <QTimer>
#include <string>
#include <vector>

#include "app/client.h"
#include "app/qt/command_line.h"
#include "app/qt/main_window.h"
#include "app/qt/qt_platform.h"
#include "app/qt/settings.h"
#include "core/qt/latin1_text.h"
#include "net/qt/posix_socket_api.h"
#include "net/qt/qt_event_loop.h"
#include "protocol/qt/keyring_store.h"

int main(int argc, char** argv) {
  // The debug switch is looked for in the whole command line, the program's own path included, before
  // Qt takes its own options out of it.
  std::string commandLine;
  for (int i = 0; i < argc; ++i) {
    if (i > 0) commandLine += ' ';
    commandLine += argv[i];
  }

  ov::command_line::AnswerHelpOrVersion(argc, argv);
  ov::NeverStartASessionBus();
  QApplication app(argc, argv);
  // The accessibility bridge warns of every key typed in a field that hides its characters, since such a
  // field offers it no text (see PasswordField); QT_LOGGING_RULES can still turn the warnings on.
  QLoggingCategory::setFilterRules("qt.accessibility.atspi.warning=false");
  ov::command_line::WarnOfUnknownOptions();

  ov::PosixSocketApi sockets;
  ov::QtEventLoop loop;
  // Each is built on those before it and destroyed before them.
  ov::Settings settings(ov::UserSettings());
  ov::QtFrontEnd ui(settings);
  ov::Client client(ui.PlatformWith(sockets, loop));
  const ov::QtSession session(ui, client, commandLine);
  if (!session.Started()) return 1;
  if (!settings.Kept()) {
    client.Status().ShowStatus(
        "Settings not read - " + ov::FromQt(ov::UserSettingsPath()) + " is left as it is and not written",
        10000, 1);
  }

  ui.Main().show();
  std::vector<std::string> targets;
  for (const QString& target : ov::command_line::ConnectTargets()) targets.push_back(ov::FromQt(target));
  // From the running loop, as the user's own Connect would be.
  if (!targets.empty()) QTimer::singleShot(0, &ui.Main(), [&] { ui.ConnectAtStart(client, targets); });
  return QApplication::exec();
}
