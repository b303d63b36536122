#pragma once
// The Qt side of the desktop seams: the status bar, timer, beep and message box of the main window,
// the console windows' factory, and the set of widgets the program runs with.
#include <QElapsedTimer>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/client.h"
#include "app/qt/connect_dialog.h"
#include "app/qt/main_window.h"
#include "app/qt/send_to_servers_dialog.h"
#include "app/qt/start_server_dialog.h"
#include "app/recent_servers.h"
#include "consoles/qt/console_window.h"
#include "consoles/qt/kept_logs.h"
#include "core/qt/latin1_text.h"
#include "core/qt/window_title.h"
#include "protocol/qt/login_dialog.h"
#include "registry/qt/servers_window.h"

namespace ov {

class KeyringStore;
class Notifications;
class SavedLogins;
class Settings;

// What the login dialog's answers and the servers window's requests go to, for as long as context lives.
void ConnectLoginDialog(LoginDialog& dialog, ClientController& controller, const QObject& context);
void ConnectServersWindow(ServersWindow& window, ClientController& controller, const QObject& context);
// Server > Start Server and Server > Send to Servers.
void ConnectServerDialogs(StartServerDialog& start, SendToServersDialog& send, MainWindow& main,
                          ClientController& controller, const QObject& context);
// Remember password and Forget in the login dialog, with the passwords in the desktop's keyring.
void ConnectSavedLogins(LoginDialog& dialog, SavedLogins& logins, const QObject& context);
// View > Colour Codes reaches the tree and every console window, open or opened later.
void ConnectColourCodes(MainWindow& main, ServersWindow& servers);
// A Quake server's players panel: shown as View > Players and Map says, querying the address the user
// set for that server (else its OV server's host, port 27960), its summary as the server node's tooltip,
// and Kick typed into its console.
void ConnectPlayersPanel(ConsoleWindow& view, MainWindow& main, ServersWindow& servers,
                         ClientController& controller, StatusQueries& queries, Settings& settings,
                         const QObject& context);

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
  void MessageBox(const std::string& text) override;
  void SetCommandEnabled(Command command, bool enabled) override;
  void SetConnectEnabled(bool enabled) override;
  void Quit() override;
  std::string LocalTime() override;

  int SoundedBeeps() const { return soundedBeeps_; }  // sounded or waiting their turn
  int BeepsDue() const { return beepsDue_; }          // waiting their turn

 private:
  QPointer<MainWindow> main_;
  std::function<void()> onTimer_;
  QTimer statusTimer_;
  // Requests for beeps are rationed: a burst of a few, then one per interval (see BeepsAllowed).
  QElapsedTimer beepClock_;
  qint64 refilledAt_ = 0;
  int requestsLeft_ = 0;
  int soundedBeeps_ = 0;
  QTimer beepGap_;  // running while a beep sounds
  int beepsDue_ = 0;
  void NextBeep();
};

class QtWindowSystem : public WindowSystem {
 public:
  QtWindowSystem(MainWindow& main, RedrawPacer& pacer);
  // Each new console window is handed to the root, which connects what it asks for.
  void SetViewHandler(std::function<void(ConsoleWindow&)> onCreated) { onCreated_ = std::move(onCreated); }
  ConsoleView* CreateConsoleView(Console& window) override;

 private:
  QPointer<MainWindow> main_;
  std::function<void(ConsoleWindow&)> onCreated_;
  RedrawPacer& pacer_;  // shared by every console window it creates
};

// The application's title and icon, set before the first window is created.
struct ApplicationLook {
  ApplicationLook();
};

// The program's widgets and the desktop seams over them, built before the client that is built on them.
// Members are built in the order they are declared and destroyed in the reverse: a dialog goes before the
// frame that is its parent, the frame (with the console windows in it) before their redraw pacer.
class QtFrontEnd {
 public:
  // settings: what is kept between runs (the recent servers, the saved logins, the View menu's switches).
  explicit QtFrontEnd(Settings& settings);
  QtFrontEnd(const QtFrontEnd&) = delete;
  QtFrontEnd& operator=(const QtFrontEnd&) = delete;

  Platform PlatformWith(SocketApi& sockets, EventLoop& loop);
  MainWindow& Main() { return main_; }
  QtDesktop& DesktopSeam() { return desktop_; }
  // Connects as the connect dialog does. A server joins the recent servers once it has named itself
  // (a login it asked for succeeded), not when it only took the connection.
  void ConnectTo(Client& client, const Endpoint& where);
  // The servers named on the command line ("ADDRESS[:PORT]"), one after another; one box at the end
  // lists every failure.
  void ConnectAtStart(Client& client, const std::vector<std::string>& targets);
  const RecentServers& Recent() const { return recent_; }
  // View > Keep Logs: the files being written while it is on, none while off.
  KeptLogs* Logs() const { return keptLogs_.get(); }

 private:
  friend class QtSession;
  void Remember(const Endpoint& where);
  void KeepLogs(ClientController& controller, bool on);
  // Tells on the status line when no program opens the folder; owner ends the opener's watch.
  void OpenLogFolder(ClientController& controller, QObject& owner);

  Settings& settings_;
  RecentServers recent_;
  ApplicationLook look_;
  RedrawPacer pacer_;
  MainWindow main_{settings_};
  ConnectDialog connectDialog_{&main_};
  LoginDialog loginDialog_{&main_};
  ServersWindow servers_;  // a child of the frame once a session has started
  StartServerDialog startDialog_{&main_};
  SendToServersDialog sendDialog_{&main_};  // Server > Send to Servers
  QtDesktop desktop_{main_};
  QtWindowSystem windows_{main_, pacer_};
  std::unique_ptr<KeptLogs> keptLogs_;  // while View > Keep Logs is on
};

// The front end joined to the client built on it: the main window's creation (InitClient), then what each
// widget asks for is connected to the client's services. Built after both and destroyed before them, it
// takes every tie from the widgets into the client with it: the connections end with context_, and the
// console windows let go of the client's consoles.
class QtSession {
 public:
  QtSession(QtFrontEnd& ui, Client& client, const std::string& commandLine);
  ~QtSession();
  QtSession(const QtSession&) = delete;
  QtSession& operator=(const QtSession&) = delete;

  bool Started() const { return started_; }  // false: the program ends

 private:
  bool Start(Client& client, const std::string& commandLine);

  QtFrontEnd& ui_;
  Client& client_;
  QObject context_;  // the receiver of every connection into the client
  // The passwords kept in the keyring; they answer the login dialog. A late answer of the keyring finds
  // nobody: the logins go first, then the keyring.
  std::unique_ptr<KeyringStore> keyring_;
  std::unique_ptr<SavedLogins> logins_;
  std::unique_ptr<Notifications> notifications_;  // View > Notifications, the consoles' Watch Words
  bool started_;
};

}  // namespace ov
