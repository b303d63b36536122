#include "app/qt/qt_platform.h"

#include <QApplication>
#include <QDateTime>
#include <QDesktopServices>
#include <QDir>
#include <QIcon>
#include <QMdiArea>
#include <QMessageBox>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>
#include <QUrl>
#include <algorithm>

#include "app/qt/connect_dialog.h"
#include "app/qt/main_window.h"
#include "app/qt/notifications.h"
#include "app/qt/send_to_servers_dialog.h"
#include "app/qt/settings.h"
#include "app/qt/start_server_dialog.h"
#include "consoles/qt/console_window.h"
#include "consoles/qt/players_panel.h"
#include "protocol/qt/keyring_store.h"
#include "protocol/qt/login_dialog.h"
#include "registry/qt/servers_window.h"

namespace ov {

// ---- QtDesktop

QtDesktop::QtDesktop(MainWindow& main) : main_(&main) {
  statusTimer_.setSingleShot(true);
  QObject::connect(&statusTimer_, &QTimer::timeout, [this] {
    if (onTimer_) onTimer_();
  });
  beepGap_.setSingleShot(true);
  QObject::connect(&beepGap_, &QTimer::timeout, [this] { NextBeep(); });
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

// A beep asked for while another sounds waits its turn on a timer, so that two beeps are heard as two
// and the window's thread never sleeps between them.
constexpr int kBeepGapMs = 120;
constexpr int kMaxBeepsDue = kBeepBurst * 10;  // what the rationed requests can ask for at once

void QtDesktop::Beep() {
  if (beepsDue_ >= kMaxBeepsDue) return;
  ++soundedBeeps_;
  if (beepGap_.isActive()) {
    ++beepsDue_;
    return;
  }
  QApplication::beep();
  beepGap_.start(kBeepGapMs);
}

void QtDesktop::NextBeep() {
  if (beepsDue_ == 0) return;
  --beepsDue_;
  QApplication::beep();
  beepGap_.start(kBeepGapMs);
}

void QtDesktop::MessageBox(const std::string& text) {
  QMessageBox box(QMessageBox::NoIcon, QApplication::applicationName(), ToQt(text), QMessageBox::Ok,
                  main_.data());
  box.setTextFormat(Qt::PlainText);  // a server's text shows as it was sent, never as markup
  box.exec();
}

void QtDesktop::SetCommandEnabled(Command command, bool enabled) {
  if (main_) main_->SetCommandEnabled(command, enabled);
}

void QtDesktop::SetConnectEnabled(bool enabled) {
  if (main_) main_->SetCommandEnabled(Command::Connect, enabled);
}

void QtDesktop::Quit() {
  if (main_) main_->close();
}

std::string QtDesktop::LocalTime() {
  return FromQt(QDateTime::currentDateTime().toString("yyyy-MM-dd hh:mm:ss"));
}

// ---- QtWindowSystem

QtWindowSystem::QtWindowSystem(MainWindow& main, RedrawPacer& pacer) : main_(&main), pacer_(pacer) {}

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

ApplicationLook::ApplicationLook() {
  // The application title. Not as the display name: on X11 Qt would append that to every window's
  // title, and titles are the system's own.
  QApplication::setApplicationName("Orvane Client");
  QIcon icon;
  for (const char* size : {"48", "256"}) icon.addFile(QString(":/icons/%1/orvane-client.png").arg(size));
  QApplication::setWindowIcon(icon);
}

QtFrontEnd::QtFrontEnd(Settings& settings) : settings_(settings) {
  recent_.Load(settings_.RecentServers());
  connectDialog_.SetRecent(recent_.Entries());
}

void QtFrontEnd::ConnectTo(Client& client, const Endpoint& where) {
  client.Controller().Connect(where.address, where.port, where.count);
}

void QtFrontEnd::Remember(const Endpoint& where) {
  recent_.Remember(where);
  settings_.SetRecentServers(recent_.Entries());
  connectDialog_.SetRecent(recent_.Entries());
}

void QtFrontEnd::ConnectAtStart(Client& client, const std::vector<std::string>& targets) {
  std::vector<Endpoint> endpoints;
  endpoints.reserve(targets.size());
  for (const std::string& target : targets) endpoints.push_back(recent_.TargetFor(target));
  client.Connections().ConnectAtStart(endpoints);
}

Platform QtFrontEnd::PlatformWith(SocketApi& sockets, EventLoop& loop) {
  return Platform{sockets, loop, desktop_, servers_, windows_, loginDialog_};
}

void ConnectLoginDialog(LoginDialog& dialog, ClientController& controller, const QObject& context) {
  QObject::connect(&dialog, &LoginDialog::answered, &context, [&controller] { controller.LoginAnswered(); });
  QObject::connect(&dialog, &LoginDialog::cancelled, &context,
                   [&controller] { controller.LoginCancelled(); });
  QObject::connect(&dialog, &LoginDialog::dismissed, &context,
                   [&controller] { controller.LoginDismissed(); });
}

void ConnectSavedLogins(LoginDialog& dialog, SavedLogins& logins, const QObject& context) {
  QObject::connect(&dialog, &LoginDialog::stepShown, &context,
                   [&logins](const std::string& server, bool offered) { logins.StepShown(server, offered); });
  QObject::connect(&dialog, &LoginDialog::loginEdited, &context,
                   [&logins](const std::string& login) { logins.LoginEdited(login); });
  QObject::connect(&dialog, &LoginDialog::forgetRequested, &context, [&logins] { logins.Forget(); });
  QObject::connect(&dialog, &LoginDialog::loginAnswered, &context,
                   [&logins](const std::string& server, const std::string& login, const std::string& password,
                             bool remember) { logins.Answered(server, login, password, remember); });
}

void ConnectColourCodes(MainWindow& main, ServersWindow& servers) {
  servers.SetColourCodes(main.ColourCodes());
  QObject::connect(&main, &MainWindow::colourCodesChanged, &servers, [&main, &servers](bool on) {
    servers.SetColourCodes(on);
    for (ConsoleWindow* console : main.ConsoleWindows()) console->SetColourCodes(on);
  });
}

void ConnectPlayersPanel(ConsoleWindow& view, MainWindow& main, ServersWindow& servers,
                         ClientController& controller, StatusQueries& queries, Settings& settings,
                         const QObject& context) {
  PlayersPanel* panel = view.Players();
  const Console* window = view.Window();
  const std::optional<PlayersSource> source = window ? controller.PlayersSourceOf(*window) : std::nullopt;
  if (!panel || !source) return;
  const std::optional<StatusTarget> kept =
      ParseStatusTarget(settings.StatusQuery(source->server, source->title));
  // By default the OV server's host, at the game port it announced for this server.
  panel->SetTarget(kept ? *kept : DefaultStatusTarget(source->server.address, source->gamePort));
  panel->Attach(queries.Open());
  QObject::connect(panel, &PlayersPanel::targetChosen, panel,
                   [&settings, server = source->server, title = source->title](const StatusTarget& target) {
                     settings.SetStatusQuery(server, title, target.Text());
                   });
  QObject::connect(&view, &ConsoleWindow::playersToggled, &main,
                   [&main](bool on) { main.SetPlayersShown(on); });
  QObject::connect(panel, &PlayersPanel::summaryChanged, &context,
                   [&view, &servers, &controller](const QString& summary) {
                     const Console* w = view.Window();
                     const int node = w ? controller.TreeNodeOf(*w) : 0;
                     if (node != 0) servers.SetNodeTip(node, FromQt(summary));
                   });
  QObject::connect(panel, &PlayersPanel::kickRequested, &context,
                   [&view, &controller](const std::string& line) {
                     if (Console* w = view.Window()) controller.Kick(*w, line);
                     view.EnterLine(ToQt(line));
                   });
  view.SetPlayersShown(main.PlayersShown());
}

void ConnectServersWindow(ServersWindow& window, ClientController& controller, const QObject& context) {
  QObject::connect(&window, &ServersWindow::selectionChanged, &context,
                   [&controller] { controller.SelectionChanged(); });
  QObject::connect(&window, &ServersWindow::openRequested, &context,
                   [&controller] { controller.OpenSelectedWindow(); });
  QObject::connect(&window, &ServersWindow::tipAboutToShow, &context, [&window, &controller](int node) {
    window.SetNodeFigures(node, controller.NodeFigures(node));
  });
}

void ConnectServerDialogs(StartServerDialog& start, SendToServersDialog& send, MainWindow& main,
                          ClientController& c, const QObject& context) {
  QObject::connect(&start, &StartServerDialog::hostsRequested, &context, [&start, &c] {
    // The list is rebuilt first: the preselected line is read from it.
    const std::vector<std::string> hosts = c.StartHosts();
    start.SetHosts(hosts, c.StartPreselectedLine());
  });
  QObject::connect(&start, &StartServerDialog::typesRequested, &context,
                   [&start, &c](int hostLine) { start.SetTypes(c.StartTypes(hostLine)); });
  QObject::connect(&start, &StartServerDialog::goRequested, &context,
                   [&start, &c](int hostLine, int typeLine, const std::string& typeText,
                                const std::string& title, const std::string& commandLine) {
                     start.done(c.StartGo(hostLine, typeLine, typeText, title, commandLine));
                   });
  QObject::connect(&start, &StartServerDialog::notLatin1, &context, [&c] { c.Refused(kNotLatin1Note); });

  // Server > Send to Servers lists the Quake servers, those of the selected OV server ticked.
  QObject::connect(&main, &MainWindow::sendToServersRequested, &context,
                   [&send, &c] { send.ShowSendDialog(c.SendTargets()); });
  QObject::connect(&send, &SendToServersDialog::sendRequested, &context,
                   [&c](const std::vector<SendTarget>& targets, const std::string& line) {
                     c.SendToServers(targets, line);
                   });
  QObject::connect(&send, &SendToServersDialog::notLatin1, &context, [&c] { c.Refused(kNotLatin1Note); });
}

// ---- QtSession

QtSession::QtSession(QtFrontEnd& ui, Client& client, const std::string& commandLine)
    : ui_(ui), client_(client), started_(Start(client, commandLine)) {}

QtSession::~QtSession() {
  // The console windows stay with the frame, but no longer show the client's consoles.
  for (ConsoleWindow* console : ui_.main_.ConsoleWindows()) console->Detach();
  ui_.desktop_.SetTimerHandler(nullptr);
  ui_.windows_.SetViewHandler(nullptr);
  client_.Controller().SetFiguresHandler(nullptr);
  ui_.KeepLogs(client_.Controller(),
               false);  // what is kept reaches the disk, and the client's consoles let go of it
}

bool QtSession::Start(Client& client, const std::string& commandLine) {
  QtFrontEnd& ui = ui_;
  MainWindow& main = ui.main_;
  ClientController& c = client.Controller();
  const QObject* context = &context_;
  ui.desktop_.SetTimerHandler([&c] { c.StatusTimerExpired(); });
  ui.windows_.SetViewHandler([this, &ui, &c, &client, &main, context](ConsoleWindow& view) {
    view.SetColourCodes(main.ColourCodes());
    QObject::connect(&view, &ConsoleWindow::lineEntered, context,
                     [&c](Console* window, const std::string& line) { c.LineEntered(*window, line); });
    QObject::connect(&view, &ConsoleWindow::closing, context,
                     [&c](Console* window) { c.WindowClosing(*window); });
    QObject::connect(&view, &ConsoleWindow::notLatin1, context, [&c] { c.Refused(kNotLatin1Note); });
    QObject::connect(&view, &ConsoleWindow::reconnectRequested, context,
                     [&c](const Endpoint& where) { c.Reconnect(where); });
    ConnectPlayersPanel(view, main, ui.servers_, c, client.StatusQueries(), ui.settings_, *context);
    if (notifications_) notifications_->AddWatchItem(view);
  });
  QObject::connect(&main, &MainWindow::playersShownChanged, context, [&main](bool on) {
    for (ConsoleWindow* console : main.ConsoleWindows()) console->SetPlayersShown(on);
  });

  // The frame hears of the debug log and of its own closing before InitClient runs.
  c.SetDebugListener([&main] { main.DebugLogGrew(); });
  QObject::connect(&main, &MainWindow::debugLinesWanted, context,
                   [&main, &client] { main.AppendDebugLines(client.Debug()); });
  QObject::connect(&main, &MainWindow::closing, context, [&c] { c.SetDebugListener(nullptr); });
  if (!client.InitClient(commandLine)) return false;
  notifications_ = std::make_unique<Notifications>(main, client, ui.settings_);
  // Only a client that started has sockets to shut down.
  QObject::connect(&main, &MainWindow::closing, context, [&client] { client.ShutdownClient(); });
  main.ShowDebugPane(client.Debug(), client.Debug().DebugMode() == 1);
  QObject::connect(&main, &MainWindow::hintShown, context,
                   [&c](const std::string& hint) { c.ShowHint(hint); });
  QObject::connect(&main, &MainWindow::firstShown, context, [&c] { c.FirstShown(); });
  QObject::connect(
      &main, &MainWindow::connectRequested, context,
      [&c](const std::string& address, int port, int count) { c.Connect(address, port, count); });
  // The commands on the selection leave alone a server that a removal has only just selected.
  c.SetDoubleClickInterval(QApplication::doubleClickInterval());
  QObject::connect(&main, &MainWindow::openWindowRequested, context, [&c] { c.OpenSelectedWindow(); });
  QObject::connect(&main, &MainWindow::disconnectRequested, context, [&c] { c.DisconnectSelected(); });
  // An OV server that names itself has taken the client in: it joins the recent servers.
  // So has the login it asked for, which the keyring may now keep.
  c.SetIntroducedHandler([this, &ui](const Endpoint& where) {
    ui.Remember(where);
    if (logins_) logins_->LoginAccepted(where.Text());
  });
  QObject::connect(&main, &MainWindow::killRequested, context, [&c] { c.KillSelected(); });
  QObject::connect(&main, &MainWindow::cleanupRequested, context, [&c] { c.CleanupDeadWindows(); });

  ConnectLoginDialog(ui.loginDialog_, c, context_);
  keyring_ = std::make_unique<KeyringStore>();
  logins_ = std::make_unique<SavedLogins>(*keyring_, ui.loginDialog_, client.Status());
  logins_->Load(ui.settings_.SavedLogins());
  logins_->SetKeptHandler([&ui](const SavedLogins::Kept& kept) { ui.settings_.SetSavedLogins(kept); });
  ConnectSavedLogins(ui.loginDialog_, *logins_, context_);
  ConnectServersWindow(ui.servers_, c, context_);
  main.AddConsoleWindow(&ui.servers_);  // a child of the frame, visible at once
  ConnectColourCodes(main, ui.servers_);

  ConnectServerDialogs(ui.startDialog_, ui.sendDialog_, main, c, context_);
  // Figures heard while a tip or the Send to Servers list is up show there at once.
  c.SetFiguresHandler([&ui, &c] {
    if (const int node = ui.servers_.TipNode()) ui.servers_.SetNodeFigures(node, c.NodeFigures(node));
    if (ui.sendDialog_.isVisible()) ui.sendDialog_.ShowFigures(c.SendFigures(ui.sendDialog_.Targets()));
  });
  main.SetWindows(&ui.connectDialog_, &ui.servers_, &ui.startDialog_);

  ui.KeepLogs(c, main.KeepLogs());
  QObject::connect(&main, &MainWindow::keepLogsChanged, context, [&ui, &c](bool on) { ui.KeepLogs(c, on); });
  QObject::connect(&main, &MainWindow::openLogFolderRequested, context,
                   [this, &ui, &c] { ui.OpenLogFolder(c, context_); });
  // What is kept reaches the disk before the program ends.
  QObject::connect(&main, &MainWindow::closing, context, [&ui, &c] { ui.KeepLogs(c, false); });
  return true;
}

void QtFrontEnd::KeepLogs(ClientController& controller, bool on) {
  if (on == (keptLogs_ != nullptr)) return;
  controller.SetLogKeeper(nullptr);
  keptLogs_.reset();
  if (!on) return;
  keptLogs_ = std::make_unique<KeptLogs>(
      FromQt(LogRoot()), [&controller](const std::string& note) { controller.ShowNote(note); });
  controller.SetLogKeeper(&keptLogs_->Keeper());
}

void QtFrontEnd::OpenLogFolder(ClientController& controller, QObject& owner) {
  const QString root = LogRoot();
  const std::string refused = "Open Log Folder: no program opens " + FromQt(root);
  if (!QDir().mkpath(root)) {
    controller.Refused("Open Log Folder: cannot create " + FromQt(root));
    return;
  }
  // The desktop's opener is run here rather than through QDesktopServices, which starts it detached
  // and so reports success even when it then finds no program for a folder.
  const QString opener = QStandardPaths::findExecutable("xdg-open");
  if (opener.isEmpty()) {
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(root))) controller.Refused(refused);
    return;
  }
  auto* process = new QProcess(&owner);
  QObject::connect(process, &QProcess::finished, process,
                   [process, &controller, refused](int code, QProcess::ExitStatus status) {
                     if (status != QProcess::NormalExit || code != 0) controller.Refused(refused);
                     process->deleteLater();
                   });
  QObject::connect(process, &QProcess::errorOccurred, process, [process, &controller, refused](auto error) {
    if (error != QProcess::FailedToStart) return;
    controller.Refused(refused);
    process->deleteLater();
  });
  process->start(opener, {root});
}

}  // namespace ov
