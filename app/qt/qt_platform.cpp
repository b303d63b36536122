#include "app/qt/qt_platform.h"

#include <QAction>
#include <QApplication>
#include <QDateTime>
#include <QIcon>
#include <QMdiArea>
#include <QMessageBox>
#include <QPushButton>
#include <QThread>
#include <algorithm>

#include "protocol/qt/keyring_store.h"
#include "protocol/qt/login_dialog.h"
#include "registry/qt/servers_window.h"
#include "app/qt/connect_dialog.h"
#include "consoles/qt/console_window.h"
#include "app/qt/main_window.h"
#include "app/qt/settings.h"
#include "app/qt/send_to_servers_dialog.h"
#include "app/qt/start_server_dialog.h"

namespace ov {

// ---- QtDesktop

QtDesktop::QtDesktop(MainWindow& main) : main_(&main) {
  statusTimer_.setSingleShot(true);
  QObject::connect(&statusTimer_, &QTimer::timeout, [this] {
    if (onTimer_) onTimer_();
  });
}

void QtDesktop::SetStatusBarText(const std::string& text) {
  if (main_) main_->SetStatusText(text);
}

void QtDesktop::StartStatusTimer(int ms) { statusTimer_.start(ms); }

void QtDesktop::StopStatusTimer() { statusTimer_.stop(); }

// An OV server that floods the client with frames it must complain about would otherwise hold the
// program in the pauses between beeps: requests for beeps come in a burst of a few, then one per
// interval; a request beyond that sounds nothing. One request (at most ten beeps) sounds all of them.
constexpr int kBeepBurst = 4;
constexpr qint64 kBeepIntervalMs = 100;

bool QtDesktop::BeepsAllowed() {
  if (!beepClock_.isValid()) {
    beepClock_.start();
    requestsLeft_ = kBeepBurst;
  }
  const qint64 refills = (beepClock_.elapsed() - refilledAt_) / kBeepIntervalMs;
  if (refills > 0) {
    refilledAt_ += refills * kBeepIntervalMs;
    requestsLeft_ = static_cast<int>(std::min<qint64>(kBeepBurst, requestsLeft_ + refills));
  }
  if (requestsLeft_ == 0) return false;
  --requestsLeft_;
  return true;
}

void QtDesktop::Beep() {
  ++soundedBeeps_;
  QApplication::beep();
}

void QtDesktop::Pause(int ms) { QThread::msleep(static_cast<unsigned long>(ms)); }

void QtDesktop::MessageBox(const std::string& text) {
  QMessageBox box(QMessageBox::NoIcon, QApplication::applicationName(), ToQt(text), QMessageBox::Ok,
                  main_.data());
  box.setTextFormat(Qt::PlainText);  // a server's text shows as it was sent, never as markup
  box.exec();
}

void QtDesktop::SetCommandEnabled(Command command, bool enabled) {
  if (!main_) return;
  if (QAction* action = main_->ActionFor(command)) action->setEnabled(enabled);
  if (QPushButton* button = main_->ButtonFor(command)) button->setEnabled(enabled);
}

void QtDesktop::SetConnectEnabled(bool enabled) {
  if (main_) main_->mnuCon->setEnabled(enabled);
}

void QtDesktop::Quit() {
  if (main_) main_->close();
}

std::string QtDesktop::LocalTime() {
  return FromQt(QDateTime::currentDateTime().toString("yyyy-MM-dd hh:mm:ss"));
}

// ---- QtWindowSystem

QtWindowSystem::QtWindowSystem(MainWindow& main) : main_(&main) {}

ConsoleView* QtWindowSystem::CreateConsoleView(Console& window) {
  if (!main_ || main_->ShuttingDown()) return nullptr;
  ConsoleWindow* view = window.kind == ConsoleKind::OVServer
                            ? static_cast<ConsoleWindow*>(new OVConsoleWindow(pacer_, window))
                            : new QuakeConsoleWindow(pacer_, window);
  if (onCreated_) onCreated_(*view);
  main_->AddConsoleWindow(view);
  return view;
}

// ---- QtFrontEnd

QtFrontEnd::QtFrontEnd(QSettings* settings) : settings_(settings) {
  if (settings_) recent_.Load(ReadRecentServers(*settings_));
  // The application title. Not as the display name: on X11 Qt would append that to every window's
  // title, and titles are the system's own.
  QApplication::setApplicationName("Orvane Client");
  QIcon icon;
  for (const char* size : {"48", "256"}) icon.addFile(QString(":/icons/%1/orvane-client.png").arg(size));
  QApplication::setWindowIcon(icon);
  fMain = new MainWindow;
  desktop_ = std::make_unique<QtDesktop>(*fMain);
  windows_ = std::make_unique<QtWindowSystem>(*fMain);
  ConnDlg = new ConnectDialog(fMain);
  PWDlg = new LoginDialog(fMain);
  fSvrs = new ServersWindow;
  fStart = new StartServerDialog(fMain);
  fSend = new SendToServersDialog(fMain);
  ConnDlg->SetRecent(recent_.Entries());
}

void QtFrontEnd::ConnectTo(Client& client, const Endpoint& where) {
  client.connections.ConnectToServer(where.address, where.port, where.count);
}

void QtFrontEnd::Remember(const Endpoint& where) {
  recent_.Remember(where);
  if (settings_) WriteRecentServers(*settings_, recent_.Entries());
  if (ConnDlg) ConnDlg->SetRecent(recent_.Entries());
}

void QtFrontEnd::ConnectAtStart(Client& client, const std::vector<std::string>& targets) {
  std::vector<Endpoint> endpoints;
  endpoints.reserve(targets.size());
  for (const std::string& target : targets) endpoints.push_back(recent_.TargetFor(target));
  client.connections.ConnectAtStart(endpoints);
}

QtFrontEnd::~QtFrontEnd() { DestroyWidgets(); }

Platform QtFrontEnd::PlatformWith(SocketApi& sockets, EventLoop& loop) {
  return Platform{sockets, loop, *desktop_, *fSvrs, *windows_, *PWDlg};
}

void ConnectLoginDialog(LoginDialog& dialog, AccountPrompts& prompts) {
  QObject::connect(&dialog, &LoginDialog::answered, &dialog, [&prompts] { prompts.Answer(); });
  QObject::connect(&dialog, &LoginDialog::cancelled, &dialog, [&prompts] { prompts.Cancel(); });
  QObject::connect(&dialog, &LoginDialog::dismissed, &dialog, [&prompts] { prompts.Dismiss(); });
}

void ConnectSavedLogins(LoginDialog& dialog, SavedLogins& logins) {
  QObject::connect(&dialog, &LoginDialog::stepShown, &dialog,
                   [&logins](const std::string& server, bool offered) { logins.StepShown(server, offered); });
  QObject::connect(&dialog, &LoginDialog::loginEdited, &dialog,
                   [&logins](const std::string& login) { logins.LoginEdited(login); });
  QObject::connect(&dialog, &LoginDialog::forgetRequested, &dialog, [&logins] { logins.Forget(); });
  QObject::connect(&dialog, &LoginDialog::loginAnswered, &dialog,
                   [&logins](const std::string& server, const std::string& login, const std::string& password,
                             bool remember) { logins.Answered(server, login, password, remember); });
}

void ConnectColourCodes(MainWindow& main, ServersWindow& servers) {
  servers.SetColourCodes(main.ColourCodes());
  QObject::connect(&main, &MainWindow::colourCodesChanged, &servers, [&main, &servers](bool on) {
    servers.SetColourCodes(on);
    for (QMdiSubWindow* w : main.MdiArea()->subWindowList())
      if (auto* console = qobject_cast<ConsoleWindow*>(w)) console->SetColourCodes(on);
  });
}

void ConnectServersWindow(ServersWindow& window, Selection& selection) {
  QObject::connect(&window, &ServersWindow::selectionChanged, &window,
                   [&selection] { selection.UpdateSelection(); });
  QObject::connect(&window, &ServersWindow::openRequested, &window, [&selection] {
    // A node that belongs to no server opens nothing.
    if (selection.Kind() == SelectionKind::None || !selection.MayAct()) return;
    const SelectedServer selected = selection.Selected();
    selection.OpenServerWindow(selected.ovIndex, selected.serverId, Opener::User);
  });
}

bool QtFrontEnd::Start(Client& client, const std::string& commandLine) {
  desktop_->SetTimerHandler([&client] { client.status.OnTimer(); });
  MainWindow& frame = *fMain;
  windows_->SetViewHandler([this, &client, &frame](ConsoleWindow& view) {
    view.SetColourCodes(frame.ColourCodes());
    QObject::connect(
        &view, &ConsoleWindow::lineEntered, &view,
        [&client](Console* window, const std::string& line) { client.consoles.SendLine(*window, line); });
    QObject::connect(&view, &ConsoleWindow::closing, &view,
                     [&client](Console* window) { client.consoles.CloseWindow(*window); });
    QObject::connect(&view, &ConsoleWindow::notLatin1, &view,
                     [&client] { client.status.ShowStatus(kNotLatin1Note, 5000, 1); });
    QObject::connect(&view, &ConsoleWindow::reconnectRequested, &view,
                     [&client](const Endpoint& where) { client.connections.Reconnect(where); });
  });

  // FormCreate: the frame hears of the debug log and of its own closing before InitClient runs.
  MainWindow& main = *fMain;
  client.debug.SetListener([&main] { main.DebugLogGrew(); });
  QObject::connect(&main, &MainWindow::debugLinesWanted, &main,
                   [&main, &client] { main.AppendDebugLines(client.debug); });
  QObject::connect(&main, &MainWindow::closing, &main, [&client] { client.debug.SetListener(nullptr); });
  if (!client.InitClient(commandLine)) return false;
  // Only a client that started has sockets to shut down.
  QObject::connect(&main, &MainWindow::closing, &main, [&client] { client.ShutdownClient(); });
  main.ShowDebugPane(client.debug, client.debug.DebugMode() == 1);
  QObject::connect(&main, &MainWindow::hintShown, &main,
                   [&client](const std::string& hint) { client.status.ShowAppHint(hint); });
  QObject::connect(&main, &MainWindow::firstShown, &main, [&client] { client.selection.UpdateSelection(); });
  QObject::connect(&main, &MainWindow::connectRequested, &main,
                   [this, &client](const std::string& address, int port, int count) {
                     ConnectTo(client, Endpoint{address, port, count});
                   });
  // The commands on the selection leave alone a server that a removal has only just selected.
  client.selection.SetDoubleClickInterval(QApplication::doubleClickInterval());
  QObject::connect(&main, &MainWindow::openWindowRequested, &main, [&client] {
    if (!client.selection.MayAct()) return;
    const SelectedServer s = client.selection.Selected();
    client.selection.OpenServerWindow(s.ovIndex, s.serverId, Opener::User);
  });
  QObject::connect(&main, &MainWindow::disconnectRequested, &main, [&client] {
    if (client.selection.MayAct()) client.connections.Disconnect(client.selection.Selected().ovIndex, 1);
  });
  // An OV server that names itself has taken the client in: it joins the recent servers.
  // So has the login it asked for, which the keyring may now keep.
  client.registry.SetIntroducedHandler([this, &client](int slot) {
    Remember(client.tables.OVServers[slot].Where);
    if (logins_) logins_->LoginAccepted(client.tables.OVServers[slot].Where.Text());
  });
  QObject::connect(&main, &MainWindow::killRequested, &main, [&client] {
    client.desktop.MessageBox("not yet implemented - use QUIT in server consoles");
    client.selection.UpdateSelection();
  });
  QObject::connect(&main, &MainWindow::cleanupRequested, &main,
                   [&client] { client.selection.CleanupDeadWindows(); });

  ConnectLoginDialog(*PWDlg, client.prompts);
  keyring_ = std::make_unique<KeyringStore>();
  logins_ = std::make_unique<SavedLogins>(*keyring_, *PWDlg, client.status);
  if (settings_) logins_->Load(ReadSavedLogins(*settings_));
  logins_->SetKeptHandler([this](const SavedLogins::Kept& kept) {
    if (settings_) WriteSavedLogins(*settings_, kept);
  });
  ConnectSavedLogins(*PWDlg, *logins_);
  ConnectServersWindow(*fSvrs, client.selection);
  fMain->AddConsoleWindow(fSvrs);  // a child of the frame, visible at once
  ConnectColourCodes(*fMain, *fSvrs);

  StartServerDialog& start = *fStart;
  QObject::connect(&start, &StartServerDialog::hostsRequested, &start,
                   [&start, &client] { start.SetHosts(client.start.RefillHosts()); });
  QObject::connect(&start, &StartServerDialog::typesRequested, &start,
                   [&start, &client](int hostLine) { start.SetTypes(client.start.TypesForHost(hostLine)); });
  QObject::connect(&start, &StartServerDialog::goRequested, &start,
                   [&start, &client](int hostLine, int typeLine, const std::string& typeText,
                                     const std::string& title, const std::string& commandLine) {
                     start.done(client.start.Go(hostLine, typeLine, typeText, title, commandLine));
                   });
  QObject::connect(&start, &StartServerDialog::notLatin1, &start,
                   [&client] { client.status.ShowStatus(kNotLatin1Note, 5000, 1); });
  fMain->SetWindows(ConnDlg, fSvrs, fStart);

  // Server > Send to Servers lists the Quake servers, those of the selected OV server ticked.
  SendToServersDialog& send = *fSend;
  QObject::connect(&main, &MainWindow::sendToServersRequested, &send, [&send, &client] {
    const bool selected = client.selection.Kind() != SelectionKind::None;
    send.ShowSendDialog(client.sendTo.Targets(selected ? client.selection.Selected().ovIndex : -1));
  });
  QObject::connect(&send, &SendToServersDialog::sendRequested, &send,
                   [&client](const std::vector<SendTarget>& targets, const std::string& line) {
                     client.sendTo.Send(targets, line);
                   });
  QObject::connect(&send, &SendToServersDialog::notLatin1, &send,
                   [&client] { client.status.ShowStatus(kNotLatin1Note, 5000, 1); });
  return true;
}

void QtFrontEnd::DestroyWidgets() {
  logins_.reset();  // a late answer of the keyring finds nobody
  keyring_.reset();
  // The dialogs, the servers window and the console windows are children of the main window.
  if (fMain && !fMain->ShuttingDown()) {
    for (QMdiSubWindow* w : fMain->MdiArea()->subWindowList()) {
      if (auto* console = qobject_cast<ConsoleWindow*>(w)) console->Detach();
    }
  }
  if (fSvrs && !fSvrs->parent()) delete fSvrs;  // never added to the frame
  delete fMain;
  fMain = nullptr;
  ConnDlg = nullptr;
  PWDlg = nullptr;
  fSvrs = nullptr;
  fStart = nullptr;
  fSend = nullptr;
}

}  // namespace ov
