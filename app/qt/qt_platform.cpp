#include "app/qt/qt_platform.h"

#include <QApplication>
#include <QDateTime>
#include <QDesktopServices>
#include <QDir>
#include <QIcon>
#include <QMdiArea>
#include <QMessageBox>
#include <QThread>
#include <QUrl>
#include <algorithm>

#include "app/qt/connect_dialog.h"
#include "app/qt/main_window.h"
#include "app/qt/send_to_servers_dialog.h"
#include "app/qt/settings.h"
#include "app/qt/start_server_dialog.h"
#include "consoles/qt/console_window.h"
#include "consoles/qt/players_panel.h"
#include "app/qt/notifications.h"
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
  client.connections.ConnectToServer(where.address, where.port, where.count);
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
  client.connections.ConnectAtStart(endpoints);
}

Platform QtFrontEnd::PlatformWith(SocketApi& sockets, EventLoop& loop) {
  return Platform{sockets, loop, desktop_, servers_, windows_, loginDialog_};
}

void ConnectLoginDialog(LoginDialog& dialog, AccountPrompts& prompts, const QObject& context) {
  QObject::connect(&dialog, &LoginDialog::answered, &context, [&prompts] { prompts.Answer(); });
  QObject::connect(&dialog, &LoginDialog::cancelled, &context, [&prompts] { prompts.Cancel(); });
  QObject::connect(&dialog, &LoginDialog::dismissed, &context, [&prompts] { prompts.Dismiss(); });
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
    for (QMdiSubWindow* w : main.MdiArea()->subWindowList())
      if (auto* console = qobject_cast<ConsoleWindow*>(w)) console->SetColourCodes(on);
  });
}

void ConnectPlayersPanel(ConsoleWindow& view, MainWindow& main, ServersWindow& servers, Client& client,
                         Settings& settings, const QObject& context) {
  PlayersPanel* panel = view.Players();
  const Console* window = view.Window();
  if (!panel || !window || window->OVIndex < 0 || window->OVIndex >= kSlotCount) return;
  const OVIrec& ov = client.tables.OVServers[window->OVIndex];
  const int q = client.tables.FindQServer(window->OVIndex, window->ServerId);
  const Endpoint server = ov.Where;
  const std::string title = q == -1 ? std::string() : client.tables.QServers[q].Title;
  const std::optional<StatusTarget> kept = ParseStatusTarget(settings.StatusQuery(server, title));
  // By default the OV server's host, at the game port it announced for this server.
  const int port = q == -1 ? 0 : client.tables.QServers[q].GamePort;
  panel->SetTarget(kept ? *kept : DefaultStatusTarget(ov.Where.address, port));
  panel->Attach(client.statusQueries.Open());
  QObject::connect(panel, &PlayersPanel::targetChosen, panel,
                   [&settings, server, title](const StatusTarget& target) {
                     settings.SetStatusQuery(server, title, target.Text());
                   });
  QObject::connect(&view, &ConsoleWindow::playersToggled, &main,
                   [&main](bool on) { main.SetPlayersShown(on); });
  QObject::connect(panel, &PlayersPanel::summaryChanged, &context,
                   [&view, &servers, &client](const QString& summary) {
                     const Console* w = view.Window();
                     const int found = w ? client.tables.FindQServer(w->OVIndex, w->ServerId) : -1;
                     if (found != -1 && client.tables.QServers[found].InUse)
                       servers.SetNodeTip(client.tables.QServers[found].TreeNode, FromQt(summary));
                   });
  QObject::connect(panel, &PlayersPanel::kickRequested, &context, [&view, &client](const std::string& line) {
    if (Console* w = view.Window(); w && !w->IsDead()) client.consoles.AppendLine(*w, line);
    view.EnterLine(ToQt(line));
  });
  view.SetPlayersShown(main.PlayersShown());
}

namespace {
// A command on a selection that a removal has only just made is not carried out, and the user is told.
bool MayAct(Selection& selection, StatusLine& status) {
  if (selection.MayAct()) return true;
  status.ShowStatus(kSelectionMovedNote, 5000, 0);
  return false;
}
}  // namespace

void ConnectServersWindow(ServersWindow& window, Selection& selection, StatusLine& status,
                          const QObject& context) {
  QObject::connect(&window, &ServersWindow::selectionChanged, &context,
                   [&selection] { selection.UpdateSelection(); });
  QObject::connect(&window, &ServersWindow::openRequested, &context, [&selection, &status] {
    // A node that belongs to no server opens nothing.
    if (selection.Kind() == SelectionKind::None || !MayAct(selection, status)) return;
    const SelectedServer selected = selection.Selected();
    selection.OpenServerWindow(selected.ovIndex, selected.serverId, Opener::User);
  });
}

// ---- QtSession

QtSession::QtSession(QtFrontEnd& ui, Client& client, const std::string& commandLine)
    : ui_(ui), client_(client), started_(Start(client, commandLine)) {}

QtSession::~QtSession() {
  // The console windows stay with the frame, but no longer show the client's consoles.
  for (QMdiSubWindow* w : ui_.main_.MdiArea()->subWindowList()) {
    if (auto* console = qobject_cast<ConsoleWindow*>(w)) console->Detach();
  }
  ui_.desktop_.SetTimerHandler(nullptr);
  ui_.windows_.SetViewHandler(nullptr);
  ui_.KeepLogs(client_, false);  // what is kept reaches the disk, and the client's consoles let go of it
}

bool QtSession::Start(Client& client, const std::string& commandLine) {
  QtFrontEnd& ui = ui_;
  MainWindow& main = ui.main_;
  const QObject* context = &context_;
  ui.desktop_.SetTimerHandler([&client] { client.status.OnTimer(); });
  ui.windows_.SetViewHandler([this, &ui, &client, &main, context](ConsoleWindow& view) {
    view.SetColourCodes(main.ColourCodes());
    QObject::connect(
        &view, &ConsoleWindow::lineEntered, context,
        [&client](Console* window, const std::string& line) { client.consoles.SendLine(*window, line); });
    QObject::connect(&view, &ConsoleWindow::closing, context,
                     [&client](Console* window) { client.consoles.CloseWindow(*window); });
    QObject::connect(&view, &ConsoleWindow::notLatin1, context,
                     [&client] { client.status.ShowStatus(kNotLatin1Note, 5000, 1); });
    QObject::connect(&view, &ConsoleWindow::reconnectRequested, context,
                     [&client](const Endpoint& where) { client.connections.Reconnect(where); });
    ConnectPlayersPanel(view, main, ui.servers_, client, ui.settings_, *context);
    if (notifications_) notifications_->AddWatchItem(view);
  });
  QObject::connect(&main, &MainWindow::playersShownChanged, context, [&main](bool on) {
    for (QMdiSubWindow* w : main.MdiArea()->subWindowList())
      if (auto* console = qobject_cast<ConsoleWindow*>(w)) console->SetPlayersShown(on);
  });

  // The frame hears of the debug log and of its own closing before InitClient runs.
  client.debug.SetListener([&main] { main.DebugLogGrew(); });
  QObject::connect(&main, &MainWindow::debugLinesWanted, context,
                   [&main, &client] { main.AppendDebugLines(client.debug); });
  QObject::connect(&main, &MainWindow::closing, context, [&client] { client.debug.SetListener(nullptr); });
  if (!client.InitClient(commandLine)) return false;
  notifications_ = std::make_unique<Notifications>(main, client);
  // Only a client that started has sockets to shut down.
  QObject::connect(&main, &MainWindow::closing, context, [&client] { client.ShutdownClient(); });
  main.ShowDebugPane(client.debug, client.debug.DebugMode() == 1);
  QObject::connect(&main, &MainWindow::hintShown, context,
                   [&client](const std::string& hint) { client.status.ShowAppHint(hint); });
  QObject::connect(&main, &MainWindow::firstShown, context,
                   [&client] { client.selection.UpdateSelection(); });
  QObject::connect(&main, &MainWindow::connectRequested, context,
                   [&ui, &client](const std::string& address, int port, int count) {
                     ui.ConnectTo(client, Endpoint{address, port, count});
                   });
  // The commands on the selection leave alone a server that a removal has only just selected.
  client.selection.SetDoubleClickInterval(QApplication::doubleClickInterval());
  QObject::connect(&main, &MainWindow::openWindowRequested, context, [&client] {
    if (!MayAct(client.selection, client.status)) return;
    const SelectedServer s = client.selection.Selected();
    client.selection.OpenServerWindow(s.ovIndex, s.serverId, Opener::User);
  });
  QObject::connect(&main, &MainWindow::disconnectRequested, context, [&client] {
    if (MayAct(client.selection, client.status))
      client.connections.Disconnect(client.selection.Selected().ovIndex, 1);
  });
  // An OV server that names itself has taken the client in: it joins the recent servers.
  // So has the login it asked for, which the keyring may now keep.
  client.registry.SetIntroducedHandler([this, &ui, &client](int slot) {
    ui.Remember(client.tables.OVServers[slot].Where);
    if (logins_) logins_->LoginAccepted(client.tables.OVServers[slot].Where.Text());
  });
  QObject::connect(&main, &MainWindow::killRequested, context, [&client] {
    client.desktop.MessageBox("not yet implemented - use QUIT in server consoles");
    client.selection.UpdateSelection();
  });
  QObject::connect(&main, &MainWindow::cleanupRequested, context,
                   [&client] { client.selection.CleanupDeadWindows(); });

  ConnectLoginDialog(ui.loginDialog_, client.prompts, context_);
  keyring_ = std::make_unique<KeyringStore>();
  logins_ = std::make_unique<SavedLogins>(*keyring_, ui.loginDialog_, client.status);
  logins_->Load(ui.settings_.SavedLogins());
  logins_->SetKeptHandler([&ui](const SavedLogins::Kept& kept) { ui.settings_.SetSavedLogins(kept); });
  ConnectSavedLogins(ui.loginDialog_, *logins_, context_);
  ConnectServersWindow(ui.servers_, client.selection, client.status, context_);
  main.AddConsoleWindow(&ui.servers_);  // a child of the frame, visible at once
  ConnectColourCodes(main, ui.servers_);

  StartServerDialog& start = ui.startDialog_;
  QObject::connect(&start, &StartServerDialog::hostsRequested, context, [&start, &client] {
    const std::vector<std::string> hosts = client.start.RefillHosts();
    const bool any = client.selection.Kind() != SelectionKind::None;
    start.SetHosts(hosts, client.start.PreselectedLine(any ? client.selection.Selected().ovIndex : 0));
  });
  QObject::connect(&start, &StartServerDialog::typesRequested, context,
                   [&start, &client](int hostLine) { start.SetTypes(client.start.TypesForHost(hostLine)); });
  QObject::connect(&start, &StartServerDialog::goRequested, context,
                   [&start, &client](int hostLine, int typeLine, const std::string& typeText,
                                     const std::string& title, const std::string& commandLine) {
                     start.done(client.start.Go(hostLine, typeLine, typeText, title, commandLine));
                   });
  QObject::connect(&start, &StartServerDialog::notLatin1, context,
                   [&client] { client.status.ShowStatus(kNotLatin1Note, 5000, 1); });
  main.SetWindows(&ui.connectDialog_, &ui.servers_, &ui.startDialog_);

  ui.KeepLogs(client, main.KeepLogs());
  QObject::connect(&main, &MainWindow::keepLogsChanged, context,
                   [&ui, &client](bool on) { ui.KeepLogs(client, on); });
  QObject::connect(&main, &MainWindow::openLogFolderRequested, context,
                   [&ui, &client] { ui.OpenLogFolder(client); });
  // What is kept reaches the disk before the program ends.
  QObject::connect(&main, &MainWindow::closing, context, [&ui, &client] { ui.KeepLogs(client, false); });

  // Server > Send to Servers lists the Quake servers, those of the selected OV server ticked.
  SendToServersDialog& send = ui.sendDialog_;
  QObject::connect(&main, &MainWindow::sendToServersRequested, context, [&send, &client] {
    const bool selected = client.selection.Kind() != SelectionKind::None;
    send.ShowSendDialog(client.sendTo.Targets(selected ? client.selection.Selected().ovIndex : -1));
  });
  QObject::connect(&send, &SendToServersDialog::sendRequested, context,
                   [&client](const std::vector<SendTarget>& targets, const std::string& line) {
                     client.sendTo.Send(targets, line);
                   });
  QObject::connect(&send, &SendToServersDialog::notLatin1, context,
                   [&client] { client.status.ShowStatus(kNotLatin1Note, 5000, 1); });
  return true;
}

void QtFrontEnd::KeepLogs(Client& client, bool on) {
  if (on == (keptLogs_ != nullptr)) return;
  client.consoles.SetLogKeeper(nullptr);
  keptLogs_.reset();
  if (!on) return;
  keptLogs_ = std::make_unique<KeptLogs>(
      FromQt(LogRoot()), [&client](const std::string& note) { client.status.ShowStatus(note, 10000, 1); });
  client.consoles.SetLogKeeper(&keptLogs_->Keeper());
}

void QtFrontEnd::OpenLogFolder(Client& client) {
  const QString root = LogRoot();
  if (!QDir().mkpath(root)) {
    client.status.ShowStatus("Open Log Folder: cannot create " + FromQt(root), 5000, 1);
  } else if (!QDesktopServices::openUrl(QUrl::fromLocalFile(root))) {
    client.status.ShowStatus("Open Log Folder: no program opens " + FromQt(root), 5000, 1);
  }
}

}  // namespace ov
