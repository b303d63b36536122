#include "app/qt/main_window.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QSplitter>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QVBoxLayout>
#include <algorithm>
#include <optional>

#include "app/qt/connect_dialog.h"
#include "app/qt/qt_platform.h"
#include "app/qt/settings.h"
#include "app/qt/start_server_dialog.h"
#include "app/window_arrangement.h"
#include "consoles/qt/console_window.h"
#include "core/debug_log.h"
#include "core/qt/latin1_text.h"
#include "registry/qt/servers_window.h"
#include "wire/payload.h"

namespace ov {

namespace {
constexpr int kDebugRedrawMs = 50;
// The pane holds no more than the log it mirrors: its bytes, a line break after each line, the header.
constexpr int kDebugPaneChars = static_cast<int>(DebugLog::kMaxBytes + DebugLog::kMaxLines + 16);

// A tool-bar button stands for its command's action: a click triggers it, and it is enabled and shown
// with it.
void FollowAction(QPushButton* button, QAction* action) {
  auto follow = [button, action] {
    button->setEnabled(action->isEnabled());
    button->setVisible(action->isVisible());
  };
  follow();
  QObject::connect(action, &QAction::changed, button, follow);
  QObject::connect(button, &QPushButton::clicked, action, &QAction::trigger);
}
}  // namespace

MainWindow::MainWindow(Settings& settings, QWidget* parent) : QMainWindow(parent), settings_(settings) {
  setObjectName("fMain");
  setWindowTitle("Orvane Client");

  // The menu MainMenu1.
  menuBar()->setObjectName("MainMenu1");
  systemMenu_ = menuBar()->addMenu("S&ystem");
  systemMenu_->setObjectName("mnuSys");
  systemMenu_->menuAction()->setObjectName("mnuSys");
  systemMenu_->menuAction()->setStatusTip("Startup commands");
  connectItem_ = AddItem(systemMenu_, "mnuCon", "&Connect", "Connect to a OV server");
  startItem_ = AddItem(systemMenu_, "mnuStart", "&Start", "Start a quake server");
  showServersItem_ = AddItem(systemMenu_, "mnuSrvWin", "Show S&ervers", QString());
  separator_ = systemMenu_->addSeparator();
  separator_->setObjectName("N1");
  exitItem_ = AddItem(systemMenu_, "mnuExit", "E&xit OV client", "Quit Orvane Client");

  AddServerMenu();
  AddViewMenu();
  AddPlayersItem();
  windowMenu_ = menuBar()->addMenu("&Window");
  windowMenu_->setObjectName("mnuWindow");
  windowMenu_->menuAction()->setObjectName("mnuWindow");
  windowMenu_->menuAction()->setStatusTip("Window related commands");
  cascadeItem_ = AddItem(windowMenu_, "WindowCascadeItem", "&Cascade", "Arrange windows to overlap");
  tileItem_ = AddItem(windowMenu_, "WindowTileItem", "&Tile", "Arrange windows without overlap");
  arrangeItem_ = AddItem(windowMenu_, "WindowArrangeItem", "&Arrange Icons",
                         "Arrange window icons at bottom of main window");
  minimizeItem_ = AddItem(windowMenu_, "WindowMinimizeItem", "&Minimize All", "Minimize all windows");
  cleanupItem_ = AddItem(windowMenu_, "Cleanup1", "C&lean up", "Closes all dead windows");
  connect(windowMenu_, &QMenu::aboutToShow, this, &MainWindow::FillWindowMenu);

  helpMenu_ = menuBar()->addMenu("&Help");
  helpMenu_->setObjectName("mnuHelp");
  helpMenu_->menuAction()->setObjectName("mnuHelp");
  helpMenu_->menuAction()->setStatusTip("Help topics");
  aboutItem_ = AddItem(helpMenu_, "HelpAboutItem", "&About", QString());

  connect(connectItem_, &QAction::triggered, this, &MainWindow::Connect);
  connect(startItem_, &QAction::triggered, this, &MainWindow::StartServer);
  connect(showServersItem_, &QAction::triggered, this, &MainWindow::ShowServers);
  connect(exitItem_, &QAction::triggered, this, &MainWindow::Exit);
  connect(openWindowItem_, &QAction::triggered, this, &MainWindow::OpenWindow);
  connect(disconnectItem_, &QAction::triggered, this, &MainWindow::Disconnect);
  connect(killItem_, &QAction::triggered, this, &MainWindow::Kill);
  connect(evilKillItem_, &QAction::triggered, this, &MainWindow::Kill);
  connect(cascadeItem_, &QAction::triggered, this, &MainWindow::Cascade);
  connect(tileItem_, &QAction::triggered, this, &MainWindow::Tile);
  connect(arrangeItem_, &QAction::triggered, this, &MainWindow::ArrangeIcons);
  connect(minimizeItem_, &QAction::triggered, this, &MainWindow::MinimizeAll);
  connect(cleanupItem_, &QAction::triggered, this, &MainWindow::CleanUp);
  connect(aboutItem_, &QAction::triggered, this, &MainWindow::ShowAbout);

  AddCentralArea();

  // The status bar: one text across the whole width, written only by the status line.
  statusBar()->setObjectName("StatusBar");
  // Whatever it is given, the bar stays one line as wide as the window: its text never sizes it.
  statusText_ = new QLabel(statusBar());
  statusText_->setObjectName("StatusText");
  statusText_->setTextFormat(Qt::PlainText);
  statusText_->setWordWrap(false);
  statusText_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
  statusText_->installEventFilter(this);
  statusBar()->addWidget(statusText_, 1);

  debugTimer_.setSingleShot(true);
  connect(&debugTimer_, &QTimer::timeout, this, &MainWindow::FlushDebugPane);
  connect(mdi_, &QMdiArea::subWindowActivated, this, &MainWindow::EnableArrangeItems);
  connect(mdi_, &QMdiArea::subWindowActivated, this, &MainWindow::EnableReconnect);
  EnableArrangeItems();
  EnableReconnect();
}

void MainWindow::AddServerMenu() {
  serverMenu_ = menuBar()->addMenu("&Server");
  serverMenu_->setObjectName("mnuSrv");
  serverMenu_->menuAction()->setObjectName("mnuSrv");
  serverMenu_->menuAction()->setStatusTip("OV and Quake server related commands");
  openWindowItem_ = AddItem(serverMenu_, "mnuWnd", "&Open window", "Open the selected server's window");
  disconnectItem_ = AddItem(serverMenu_, "mnuDis", "&Disconnect", "Disconnect from the selected OV server");
  killItem_ = AddItem(serverMenu_, "mnuKill", "Kill", "Kill the selected quake server");
  evilKillItem_ = AddItem(serverMenu_, "mnuEKill", "Evil Kill", QString());
  killItem_->setVisible(false);
  killItem_->setEnabled(false);
  evilKillItem_->setVisible(false);
  serverMenu_->addSeparator();
  reconnectItem_ = AddItem(serverMenu_, "mnuReconnect", "&Reconnect",
                           "Connect again to the active dead OV server window's server");
  reconnectItem_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
  connect(reconnectItem_, &QAction::triggered, this, &MainWindow::Reconnect);
  connect(serverMenu_, &QMenu::aboutToShow, this, &MainWindow::EnableReconnect);
  // Server > Send to Servers: one line to many Quake servers.
  QAction* sendToServers = AddItem(serverMenu_, "mnuSendToServers", "Send to Ser&vers\u2026",
                                   "Send one line to the Quake servers ticked in a list");
  connect(sendToServers, &QAction::triggered, this, &MainWindow::sendToServersRequested);
}

void MainWindow::AddCentralArea() {
  // The central area: the tool bar toolBar_ over the frame's client area and the debug pane.
  auto* central = new QWidget(this);
  auto* column = new QVBoxLayout(central);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);
  toolBar_ = new QWidget(central);
  toolBar_->setObjectName("SpeedPanel");
  toolBar_->setFixedHeight(29);
  toolBar_->setAccessibleName("Tool bar");
  QFont small = toolBar_->font();
  small.setPixelSize(11);  // the captions fit the designed 69-pixel buttons
  toolBar_->setFont(small);
  auto* row = new QHBoxLayout(toolBar_);
  row->setContentsMargins(4, 4, 4, 4);
  row->setSpacing(0);
  connectButton_ = AddButton("tbConnect", "Connect");
  startButton_ = AddButton("tbStart", "Start");
  serversButton_ = AddButton("tbSvrs", "Servers");
  row->addWidget(connectButton_);
  row->addWidget(startButton_);
  row->addWidget(serversButton_);
  row->addSpacing(12);
  windowButton_ = AddButton("tbWnd", "Window");
  disconnectButton_ = AddButton("tbDis", "Disconnect");
  killButton_ = AddButton("tbKill", "Kill");
  row->addWidget(windowButton_);
  row->addWidget(disconnectButton_);
  row->addWidget(killButton_);
  row->addStretch(1);
  // A connection attempt disables Connect in the menu only: from the tool bar a second attempt can start
  // while the first one waits (for its login dialog, say).
  connect(connectButton_, &QPushButton::clicked, this, &MainWindow::Connect);
  FollowAction(startButton_, startItem_);
  FollowAction(serversButton_, showServersItem_);
  FollowAction(windowButton_, openWindowItem_);
  FollowAction(disconnectButton_, disconnectItem_);
  FollowAction(killButton_, killItem_);
  commands_ = {connectItem_, openWindowItem_, disconnectItem_, killItem_,
               evilKillItem_};  // in the order of Command
  column->addWidget(toolBar_);

  auto* split = new QSplitter(Qt::Vertical, central);
  mdi_ = new QMdiArea(split);
  mdi_->setObjectName("MDIClient");
  mdi_->setBackground(palette().brush(QPalette::Dark));
  mdi_->setActivationOrder(QMdiArea::CreationOrder);
  // A window that does not fit beside the others (after Tile, or in a small frame) can still be reached.
  mdi_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  mdi_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  debugPane_ = new QPlainTextEdit(split);
  debugPane_->setObjectName("Memo1");
  debugPane_->setAccessibleName("Debug");
  debugPane_->setReadOnly(true);
  debugPane_->setUndoRedoEnabled(false);
  debugPane_->setPlainText("[Debug]");
  debugPane_->setMaximumBlockCount(static_cast<int>(DebugLog::kMaxLines) + 1);
  debugPane_->resize(473, 113);
  debugPane_->setVisible(false);
  split->addWidget(mdi_);
  split->addWidget(debugPane_);
  split->setStretchFactor(0, 1);
  split->setStretchFactor(1, 0);
  split->setSizes({400, 113});
  column->addWidget(split, 1);
  setCentralWidget(central);
}

MainWindow::~MainWindow() {
  // The child windows are destroyed after this, by the QWidget base: what they signal then must not
  // reach the members of a window that is no longer a MainWindow.
  for (QMdiSubWindow* window : mdi_->subWindowList()) disconnect(window, nullptr, this, nullptr);
  for (ConsoleWindow* window : showPacer_.Waiting()) disconnect(window, nullptr, this, nullptr);
  disconnect(mdi_, nullptr, this, nullptr);
}

QAction* MainWindow::AddItem(QMenu* menu, const char* name, const QString& caption, const QString& hint) {
  QAction* action = menu->addAction(caption);
  action->setObjectName(name);
  action->setStatusTip(hint);
  return action;
}

void MainWindow::AddViewMenu() {
  QMenu* view = menuBar()->addMenu("&View");
  view->setObjectName("mnuView");
  view->menuAction()->setObjectName("mnuView");
  view->menuAction()->setStatusTip("How the logs are shown");
  colourCodesItem_ =
      AddItem(view, "mnuColourCodes", "&Colour Codes",
              "Show the colour codes ^0 to ^7 as colours in the logs, and hide them in titles");
  colourCodesItem_->setCheckable(true);
  colourCodesItem_->setChecked(settings_.ColourCodes());
  connect(colourCodesItem_, &QAction::toggled, this, [this](bool on) {
    settings_.SetColourCodes(on);
    emit colourCodesChanged(on);
  });
  AddLogItems(view);
}

void MainWindow::AddLogItems(QMenu* view) {
  view->addSeparator();
  keepLogsItem_ = AddItem(view, "mnuKeepLogs", "&Keep Logs",
                          "Also append every console's text to a file per server and day");
  keepLogsItem_->setCheckable(true);
  keepLogsItem_->setChecked(settings_.KeepLogs());
  connect(keepLogsItem_, &QAction::toggled, this, [this](bool on) {
    settings_.SetKeepLogs(on);
    emit keepLogsChanged(on);
  });
  QAction* openLogFolder =
      AddItem(view, "mnuOpenLogFolder", "Open &Log Folder", "Open the folder the kept logs are written to");
  connect(openLogFolder, &QAction::triggered, this, &MainWindow::openLogFolderRequested);
}

void MainWindow::AddPlayersItem() {
  QMenu* view = menuBar()->findChild<QMenu*>("mnuView");
  playersItem_ = AddItem(view, "mnuPlayers", "&Players and Map",
                         "Show the map and the players beside each game server's console");
  playersItem_->setCheckable(true);
  playersItem_->setChecked(settings_.PlayersPanel());
  connect(playersItem_, &QAction::toggled, this, [this](bool on) {
    settings_.SetPlayersPanel(on);
    emit playersShownChanged(on);
  });
}

bool MainWindow::ColourCodes() const { return colourCodesItem_->isChecked(); }

bool MainWindow::PlayersShown() const { return playersItem_->isChecked(); }

void MainWindow::SetPlayersShown(bool shown) { playersItem_->setChecked(shown); }

bool MainWindow::KeepLogs() const { return keepLogsItem_->isChecked(); }

QPushButton* MainWindow::AddButton(const char* name, const QString& caption) {
  auto* button = new QPushButton(caption, toolBar_);
  button->setObjectName(name);
  button->setFixedSize(69, 21);
  button->setAutoDefault(false);
  button->setFocusPolicy(Qt::NoFocus);  // a click on it leaves the typing where it was, as a tool bar does
  return button;
}

void MainWindow::ShowDebugPane(const DebugLog& log, bool shown) {
  if (shown) {
    debugPane_->setPlainText("[Debug]");
    debugShown_ = log.TotalAppended();
    DebugLogGrew();
    debugPane_->setVisible(true);
  } else {
    debugPane_->setVisible(false);
  }
}

void MainWindow::SetWindows(ConnectDialog* connectDialog, ServersWindow* servers, StartServerDialog* start) {
  connectDialog_ = connectDialog;
  servers_ = servers;
  start_ = start;
  EnableArrangeItems();
}

QString StatusBarLine(std::string_view text) {
  // Beyond what any screen can show, a long text is not even looked at: its cost stays bounded.
  const bool cut = text.size() > kMaxStatusChars;
  QString line = ToQt(text.substr(0, kMaxStatusChars));
  for (QChar& c : line) {
    // Line breaks, tabs and the other control characters would break the one line or show as boxes.
    if (c.unicode() < 0x20 || (c.unicode() >= 0x7F && c.unicode() < 0xA0)) c = QLatin1Char(' ');
  }
  if (cut) line += QChar(0x2026);
  return line;
}

void MainWindow::SetStatusText(std::string_view text) {
  statusLine_ = StatusBarLine(text);
  // Assistive technology reads the whole line, not the part that fits, and hears of each change.
  statusText_->setAccessibleName(statusLine_);
  ElideStatusText();
  QAccessibleEvent changed(statusText_, QAccessible::NameChanged);
  QAccessible::updateAccessibility(&changed);
}

void MainWindow::ElideStatusText() {
  statusText_->setText(
      statusText_->fontMetrics().elidedText(statusLine_, Qt::ElideRight, std::max(0, statusText_->width())));
}

void MainWindow::SetCommandEnabled(Command command, bool enabled) {
  commands_.at(static_cast<size_t>(command))->setEnabled(enabled);
}

void MainWindow::AddConsoleWindow(QMdiSubWindow* window) {
  if (auto* console = qobject_cast<ConsoleWindow*>(window)) {
    showPacer_.Add(*console);
  } else {
    mdi_->addSubWindow(window);
    window->show();
  }
  connect(window, &QObject::destroyed, this,
          [this] { QTimer::singleShot(0, this, &MainWindow::EnableArrangeItems); });
  // A window that dies while active can be reconnected from then on: its caption tells.
  connect(window, &QWidget::windowTitleChanged, this, &MainWindow::EnableReconnect);
  EnableArrangeItems();
}

void MainWindow::Open(ConsoleWindow* console) {
  // Each new window a step down and right of the last one opened, as desktops place them; the first at
  // the frame's own choice.
  std::optional<QPoint> place;
  if (lastOpened_) {
    const QRect last = lastOpened_->geometry();
    const QSize size = console->DesignedSize();
    const QSize area = mdi_->viewport()->size();
    const Box next =
        NextWindowPlace({area.width(), area.height()}, WindowStep(),
                        {last.x(), last.y(), last.width(), last.height()}, {size.width(), size.height()});
    place = QPoint(next.x, next.y);
  }
  console->ShowInFrame(*mdi_, place);
  lastOpened_ = console;
  EnableArrangeItems();
}

std::vector<ConsoleWindow*> MainWindow::ConsoleWindows() const {
  std::vector<ConsoleWindow*> all = showPacer_.Waiting();
  for (QMdiSubWindow* w : mdi_->subWindowList())
    if (auto* console = qobject_cast<ConsoleWindow*>(w)) all.push_back(console);
  return all;
}

// ---- Events

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == statusText_ && event->type() == QEvent::Resize) ElideStatusText();
  return QMainWindow::eventFilter(watched, event);
}

bool MainWindow::event(QEvent* event) {
  if (event->type() == QEvent::StatusTip) {
    // Hints reach the bar only through the status line, which knows what to return to.
    if (!shuttingDown_) emit hintShown(FromQt(static_cast<QStatusTipEvent*>(event)->tip()));
    return true;
  }
  return QMainWindow::event(event);
}

void MainWindow::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (!shown_) {
    shown_ = true;
    emit firstShown();  // nothing is selected yet: the server commands start disabled
  }
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (!shuttingDown_) {
    shuttingDown_ = true;
    // Console windows go with the frame without their close handling: no close notice is sent.
    for (ConsoleWindow* console : ConsoleWindows()) console->Detach();
    emit closing();
  }
  event->accept();
}

// ---- Commands

void MainWindow::Connect() {
  if (!connectDialog_) return;
  if (!connectDefaultsSet_) {
    connectDefaultsSet_ = true;
    connectDialog_->SetPortAndCount("4044", "10");
  }
  if (connectDialog_->ShowModal() != ConnectDialog::OK) return;
  const ConnectDialog::Fields entered = connectDialog_->Entered();
  const int count = ParseInt(FromQt(entered.count), 10);
  const int port = ParseInt(FromQt(entered.port), 0);
  emit connectRequested(FromQt(entered.address), port, count);
}

void MainWindow::StartServer() {
  if (start_) start_->ShowStartDialog();
}

void MainWindow::ShowServers() {
  if (servers_) servers_->ShowServers();
}

void MainWindow::OpenWindow() { emit openWindowRequested(); }

void MainWindow::Disconnect() { emit disconnectRequested(); }

void MainWindow::Kill() { emit killRequested(); }

void MainWindow::Cascade() { Arrange(true); }

void MainWindow::Tile() { Arrange(false); }

int MainWindow::WindowStep() const {
  // A window's caption bar and the frame above it: the next window's caption shows just below.
  const QList<QMdiSubWindow*> children = mdi_->subWindowList();
  const int top = children.isEmpty() ? 0 : children.front()->contentsMargins().top();
  return top > 0 ? top : 24;
}

void MainWindow::Arrange(bool cascade) {
  // The windows that are not minimised, above the row of minimised ones; a window of fixed size keeps it.
  // Only when they do not fit even so do windows lie beyond the frame's edge, reached by its scroll bars.
  QList<QMdiSubWindow*> arranged;
  std::vector<ArrangedWindow> windows;
  int iconRow = 0;
  for (QMdiSubWindow* w : mdi_->subWindowList(QMdiArea::CreationOrder)) {
    if (!w->isVisible()) continue;
    if (w->isMinimized()) {
      iconRow = std::max(iconRow, w->height());
      continue;
    }
    if (w->isMaximized()) w->showNormal();
    const auto* console = qobject_cast<ConsoleWindow*>(w);
    const QSize designed = console ? console->DesignedSize() : w->size();
    arranged.append(w);
    windows.push_back({{w->width(), w->height()},
                       {designed.width(), designed.height()},
                       {w->minimumWidth(), w->minimumHeight()},
                       w->minimumSize() == w->maximumSize()});
  }
  if (arranged.isEmpty()) return;
  // Laid from the frame's corner, in the whole of its area: the scroll bars go once all fits.
  mdi_->horizontalScrollBar()->setValue(0);
  mdi_->verticalScrollBar()->setValue(0);
  const QSize size = mdi_->contentsRect().size();
  const Extent area{size.width(), std::max(1, size.height() - iconRow)};
  const std::vector<Box> boxes =
      cascade ? CascadeWindows(area, WindowStep(), windows) : TileWindows(area, windows);
  QMdiSubWindow* active = mdi_->activeSubWindow();
  for (qsizetype i = 0; i < arranged.size(); ++i) {
    const Box& b = boxes[static_cast<size_t>(i)];
    arranged[i]->setGeometry(b.x, b.y, b.width, b.height);
    if (cascade) arranged[i]->raise();  // each caption shows above the one before
  }
  if (active && cascade) active->raise();
}

void MainWindow::ArrangeIcons() {
  // The minimised windows lined up along the bottom, left to right, rows going upwards.
  const QRect area = mdi_->viewport()->rect();
  int x = 0;
  int y = area.height();
  int rowHeight = 0;
  for (QMdiSubWindow* w : mdi_->subWindowList(QMdiArea::CreationOrder)) {
    if (!w->isVisible() || !w->isMinimized()) continue;
    const QSize size = w->size();
    if (x > 0 && x + size.width() > area.width()) {
      x = 0;
      y -= rowHeight;
      rowHeight = 0;
    }
    rowHeight = std::max(rowHeight, size.height());
    w->move(x, y - size.height());
    x += size.width();
  }
}

void MainWindow::MinimizeAll() {
  const QList<QMdiSubWindow*> children = mdi_->subWindowList(QMdiArea::CreationOrder);
  for (qsizetype i = children.size() - 1; i >= 0; --i) children[i]->showMinimized();
}

void MainWindow::CleanUp() { emit cleanupRequested(); }

void MainWindow::ShowAbout() {
  QMessageBox box(QMessageBox::Information, "Information",
                  "OV Client, v0.95 BETA\nRemote administration of Quake servers through OV servers.",
                  QMessageBox::Ok, this);
  box.exec();
}

void MainWindow::Exit() { close(); }

void MainWindow::EnableArrangeItems() {
  const bool any = !mdi_->subWindowList().isEmpty();
  for (QAction* a : {cascadeItem_, tileItem_, arrangeItem_, minimizeItem_}) a->setEnabled(any);
}

void MainWindow::EnableReconnect() {
  auto* console = qobject_cast<ConsoleWindow*>(mdi_->activeSubWindow());
  reconnectItem_->setEnabled(console != nullptr && console->CanReconnect());
}

void MainWindow::Reconnect() {
  if (auto* console = qobject_cast<ConsoleWindow*>(mdi_->activeSubWindow())) console->RequestReconnect();
}

void MainWindow::FillWindowMenu() {
  EnableArrangeItems();
  for (QAction* a : windowListActions_) {
    windowMenu_->removeAction(a);
    a->deleteLater();
  }
  windowListActions_.clear();
  const QList<QMdiSubWindow*> children = mdi_->subWindowList(QMdiArea::CreationOrder);
  int number = 0;
  for (QMdiSubWindow* w : children) {
    if (!w->isVisible()) continue;
    if (number == 0) windowListActions_.append(windowMenu_->addSeparator());
    ++number;
    QString caption = ShownTitle(w->windowTitle());
    // A server's long title would make the menu as wide as the screen: the list shows its start.
    constexpr int kListedTitle = 64;
    if (caption.size() > kListedTitle) caption = caption.left(kListedTitle - 1) + QChar(0x2026);
    caption.replace(QLatin1Char('&'), QLatin1String("&&"));
    // Text arrived since the window was last active: marked in the list, never in its caption.
    if (const auto* console = qobject_cast<ConsoleWindow*>(w); console && console->HasUnseenText())
      caption.prepend(QChar(0x2022) + QLatin1Char(' '));
    QAction* item = windowMenu_->addAction(number < 10 ? QString("&%1 %2").arg(number).arg(caption)
                                                       : QString("%1 %2").arg(number).arg(caption));
    item->setCheckable(true);
    item->setChecked(w == mdi_->activeSubWindow());
    QPointer<QMdiSubWindow> target(w);
    connect(item, &QAction::triggered, this, [this, target] {
      if (!target) return;
      if (target->isMinimized()) target->showNormal();
      mdi_->setActiveSubWindow(target);
    });
    windowListActions_.append(item);
  }
}

// ---- The debug pane

void MainWindow::DebugLogGrew() {
  // Lines are kept by the log whether or not the pane shows; the pane catches up at most every
  // kDebugRedrawMs, and only while it can be seen.
  if (debugPane_->isVisible() && !debugTimer_.isActive()) debugTimer_.start(kDebugRedrawMs);
}

void MainWindow::FlushDebugPane() {
  debugTimer_.stop();
  emit debugLinesWanted();
}

void MainWindow::AppendDebugLines(const DebugLog& log) {
  const uint64_t fresh = log.TotalAppended() - debugShown_;
  if (fresh == 0) return;
  const auto& lines = log.Lines();
  QScrollBar* bar = debugPane_->verticalScrollBar();
  const bool atEnd = bar->value() >= bar->maximum();
  QString text;
  size_t first = 0;
  if (fresh > lines.size()) {
    // More arrived than the log keeps: the pane starts over with what it holds.
    debugPane_->setPlainText("[Debug]");
  } else {
    first = lines.size() - static_cast<size_t>(fresh);
  }
  for (size_t i = first; i < lines.size(); ++i) {
    if (i > first) text += QLatin1Char('\n');
    text += ToQt(lines[i]);
  }
  debugPane_->appendPlainText(text);
  // Lines of kilobytes each would keep tens of megabytes within the block count: the oldest go.
  QTextDocument* document = debugPane_->document();
  const int excess = document->characterCount() - kDebugPaneChars;
  if (excess > 0) {
    QTextBlock keep = document->begin();
    for (int cut = 0; cut < excess && keep != document->lastBlock(); keep = keep.next()) cut += keep.length();
    QTextCursor cursor(document);
    cursor.setPosition(keep.position(), QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
  }
  debugShown_ = log.TotalAppended();
  if (atEnd) bar->setValue(bar->maximum());
}

}  // namespace ov
