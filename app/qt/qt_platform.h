#pragma once
// The Qt side of the desktop seams: the status bar, timer, beep and message box of the main window,
// the console windows' factory, and the set of widgets the program runs with.
#include <QElapsedTimer>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <functional>
#include <vector>

class QSettings;
#include <memory>
#include <string>
#include <string_view>

#include "app/client.h"
#include "consoles/qt/console_window.h"
#include "core/qt/latin1_text.h"
#include "core/qt/window_title.h"
#include "app/recent_servers.h"

namespace ov {

class MainWindow;
class ConnectDialog;
class LoginDialog;
class ServersWindow;
class StartServerDialog;
class SendToServersDialog;
class KeyringStore;
class SavedLogins;

// What the login dialog's answers and the servers window's requests go to.
void ConnectLoginDialog(LoginDialog& dialog, AccountPrompts& prompts);
// Remember password and Forget in the login dialog, with the passwords in the desktop's keyring.
void ConnectSavedLogins(LoginDialog& dialog, SavedLogins& logins);
void ConnectServersWindow(ServersWindow& window, Selection& selection);
// View > Colour Codes reaches the tree and every console window, open or opened later.
void ConnectColourCodes(MainWindow& main, ServersWindow& servers);

class QtDesktop : public Desktop {
 public:
  explicit QtDesktop(MainWindow& main);
  // The status timer's expiry goes to the handler the root sets.
  void SetTimerHandler(std::function<void()> onTimer) { onTimer_ = std::move(onTimer); }

  void SetStatusBarText(const std::string& text) override;
  void StartStatusTimer(int ms) override;
  void StopStatusTimer() override;
  bool BeepsAllowed() override;
  void Beep() override;
  void Pause(int ms) override;
  void MessageBox(const std::string& text) override;
  void SetCommandEnabled(Command command, bool enabled) override;
  void SetConnectEnabled(bool enabled) override;
  void Quit() override;
  std::string LocalTime() override;

  int SoundedBeeps() const { return soundedBeeps_; }

 private:
  QPointer<MainWindow> main_;
  std::function<void()> onTimer_;
  QTimer statusTimer_;
  // Requests for beeps are rationed: a burst of a few, then one per interval (see BeepsAllowed).
  QElapsedTimer beepClock_;
  qint64 refilledAt_ = 0;
  int requestsLeft_ = 0;
  int soundedBeeps_ = 0;
};

class QtWindowSystem : public WindowSystem {
 public:
  explicit QtWindowSystem(MainWindow& main);
  // Each new console window is handed to the root, which connects what it asks for.
  void SetViewHandler(std::function<void(ConsoleWindow&)> onCreated) { onCreated_ = std::move(onCreated); }
  ConsoleView* CreateConsoleView(Console& window) override;

 private:
  QPointer<MainWindow> main_;
  std::function<void(ConsoleWindow&)> onCreated_;
  RedrawPacer pacer_;  // shared by every console window it creates
};

// The program's widgets, created in the order the program starts them. They exist before the client
// that they serve (it is built on them) and must be destroyed before it: they hold references into it.
class QtFrontEnd {
 public:
  // settings: where the recent servers are kept between runs; none keeps nothing.
  explicit QtFrontEnd(QSettings* settings = nullptr);
  ~QtFrontEnd();
  QtFrontEnd(const QtFrontEnd&) = delete;
  QtFrontEnd& operator=(const QtFrontEnd&) = delete;

  Platform PlatformWith(SocketApi& sockets, EventLoop& loop);
  // The main window's creation (InitClient), then the other windows join: the root connects what each
  // widget asks for to the client's services. False when the program ends.
  bool Start(Client& client, const std::string& commandLine);
  void DestroyWidgets();
  // Connects as the connect dialog does. A server joins the recent servers once it has named itself
  // (a login it asked for succeeded), not when it only took the connection.
  void ConnectTo(Client& client, const Endpoint& where);
  // The servers named on the command line ("ADDRESS[:PORT]"), one after another; one box at the end
  // lists every failure.
  void ConnectAtStart(Client& client, const std::vector<std::string>& targets);
  const RecentServers& Recent() const { return recent_; }

  MainWindow* fMain = nullptr;
  ConnectDialog* ConnDlg = nullptr;
  LoginDialog* PWDlg = nullptr;
  ServersWindow* fSvrs = nullptr;
  StartServerDialog* fStart = nullptr;
  SendToServersDialog* fSend = nullptr;  // Server > Send to Servers

 private:
  void Remember(const Endpoint& where);
  QSettings* settings_;
  RecentServers recent_;
  std::unique_ptr<QtDesktop> desktop_;
  std::unique_ptr<QtWindowSystem> windows_;
  // The passwords kept in the keyring; they answer the login dialog, so they go before the widgets.
  std::unique_ptr<KeyringStore> keyring_;
  std::unique_ptr<SavedLogins> logins_;
};

}  // namespace ov
