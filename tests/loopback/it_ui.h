#pragma once
// The program as a user meets it, for the loopback tests: the client composed as the program's entry
// composes it (real sockets, real event loop, real widgets), and the user's hands and eyes on it. Every
// wait ends as soon as what it waits for holds; the patience only keeps a broken run from hanging.
#include <QObject>
#include <QSettings>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <functional>
#include <string>
#include <vector>

#include "app/client.h"
#include "app/qt/qt_platform.h"
#include "app/qt/settings.h"
#include "net/qt/posix_socket_api.h"
#include "net/qt/qt_event_loop.h"
#include "tests/common/controls.h"
#include "tests/common/qt_wait.h"

class QAction;
class QPushButton;

namespace ov {
class ConsoleWindow;
class MainWindow;
}  // namespace ov

namespace ov::it {

using test::kPatienceMs;

// Handles events until done() holds; false, with a failure that says what it waited for, when the
// patience runs out first.
bool PumpUntil(const std::string& what, const std::function<bool()>& done, int patienceMs = kPatienceMs);

// Key presses as the keyboard sends them to the focused widget.
void Key(QWidget* target, int key, const QString& text = QString());
void Type(QWidget* target, const QString& text);

// The whole program on the real platform, started and shown as the program's entry does it.
class LiveProgram {
 public:
  explicit LiveProgram(const std::string& commandLine = "/usr/bin/orvane-client");
  ~LiveProgram();  // closes the main window: the connections go
  LiveProgram(const LiveProgram&) = delete;
  LiveProgram& operator=(const LiveProgram&) = delete;

  // Runs act once ready() holds, from a timer: so also inside whatever nested loop runs then (a
  // modal dialog, the login prompt's wait). When ready() never holds, the test gives up: every open
  // dialog is cancelled and every connection dropped, so that the nested loops end instead of hanging
  // the run.
  void When(const std::string& what, std::function<bool()> ready, std::function<void()> act,
            int patienceMs = kPatienceMs);
  bool AllActed() const { return pending_ == 0; }

  // System > Connect: fills the connect dialog and presses Connect; returns when the attempt ended.
  void Connect(const QString& address, int port, const QString& timeoutCount = "10");
  // Answers the next login dialog step whose first label is label1 (the dialog must be showing it).
  void AnswerPrompt(const QString& label1, const QString& field1, const QString& field2 = QString());
  // System > Start: picks the host and the type, types the command line and the title, presses Start.
  void StartServer(const QString& host, const QString& type, const QString& title, const QString& command);

  MainWindow& Main() const;
  // The controls, found by the names their windows give them.
  template <class T>
  T* Control(const char* name) const {
    return test::Find<T>(Main(), name);
  }
  QAction* Action(const char* name) const;      // in the menu bar
  QPushButton* Button(const char* name) const;  // on the tool bar
  // What the user reads, as bytes (comparisons of std::string print readably when they fail).
  std::string StatusText() const;
  std::string DebugPane() const;  // Memo1 as it stands now
  // The tree as it reads: "[OV]name" at the top, "  [G]title" below its OV server.
  std::vector<std::string> Tree() const;
  void SelectNode(const QString& text);       // clicks the node, as the user would
  std::vector<std::string> Captions() const;  // the frame's child windows, in creation order
  ConsoleWindow* Window(const QString& caption) const;
  static std::string Log(ConsoleWindow* window);  // what the window's log shows
  // Types a line into the window's input line and presses Enter.
  static void Enter(ConsoleWindow* window, const QString& line);
  // Waits until the window's log shows text; false (with the log printed) when it never does.
  bool LogShows(const QString& caption, const QString& text, int patienceMs = kPatienceMs);

  PosixSocketApi sockets;
  QtEventLoop loop;
  // Settings of its own, never the user's.
  QTemporaryDir settingsDir;
  Settings settings{
      std::make_unique<QSettings>(settingsDir.filePath("orvane-client.conf"), QSettings::IniFormat)};
  QtFrontEnd ui{settings};
  Client client{ui.PlatformWith(sockets, loop)};
  QtSession session;
  bool started = false;

 private:
  void GiveUpWaits();
  MainWindow& main_{ui.Main()};
  QObject scope_;  // owns the pending When timers: none outlives the program
  int pending_ = 0;
  test::RescueOnGiveUp rescue_{[this] { GiveUpWaits(); }};
};

}  // namespace ov::it
