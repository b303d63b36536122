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

#include "registry/qt/servers_window.h"
#include "core/debug_log.h"
#include "app/qt/connect_dialog.h"
#include "consoles/qt/console_window.h"
#include "core/qt/latin1_text.h"
#include "app/qt/qt_platform.h"
#include "app/qt/settings.h"
#include "app/qt/start_server_dialog.h"
#include "wire/payload.h"

namespace ov {

namespace {
constexpr int kDebugRedrawMs = 50;
// The pane holds no more than the log it mirrors: its bytes, a line break after each line, the header.
constexpr int kDebugPaneChars = static_cast<int>(DebugLog::kMaxBytes + DebugLog::kMaxLines + 16);
}  // namespace

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent) {
  setObjectName("fMain");
  setWindowTitle("Orvane Client");

  // The menu MainMenu1.
  menuBar()->setObjectName("MainMenu1");
  mnuSys = menuBar()->addMenu("S&ystem");
  mnuSys->setObjectName("mnuSys");
  mnuSys->menuAction()->setObjectName("mnuSys");
  mnuSys->menuAction()->setStatusTip("Startup commands");
  mnuCon = AddItem(mnuSys, "mnuCon", "&Connect", "Connect to a OV server");
  mnuStart = AddItem(mnuSys, "mnuStart", "&Start", "Start a quake server");
  mnuSrvWin = AddItem(mnuSys, "mnuSrvWin", "Show S&ervers", QString());
  separator_ = mnuSys->addSeparator();
  separator_->setObjectName("N1");
  mnuExit = AddItem(mnuSys, "mnuExit", "E&xit OV client", "Quit Orvane Client");

  mnuSrv = menuBar()->addMenu("&Server");
  mnuSrv->setObjectName("mnuSrv");
  mnuSrv->menuAction()->setObjectName("mnuSrv");
  mnuSrv->menuAction()->setStatusTip("OV and Quake server related commands");
  mnuWnd = AddItem(mnuSrv, "mnuWnd", "&Open window", "Open the selected server's window");
  mnuDis = AddItem(mnuSrv, "mnuDis", "&Disconnect", "Disconnect from the selected OV server");
  mnuKill = AddItem(mnuSrv, "mnuKill", "Kill", "Kill the selected quake server");
  mnuEKill = AddItem(mnuSrv, "mnuEKill", "Evil Kill", QString());
  mnuKill->setVisible(false);
  mnuEKill->setVisible(false);
  mnuSrv->addSeparator();
  mnuReconnect = AddItem(mnuSrv, "mnuReconnect", "&Reconnect",
                         "Connect again to the active dead OV server window's server");
  mnuReconnect->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
  connect(mnuReconnect, &QAction::triggered, this, &MainWindow::mnuReconnectClick);
  connect(mnuSrv, &QMenu::aboutToShow, this, &MainWindow::UpdateReconnectItem);
  // Server > Send to Servers: one line to many Quake servers.
  QAction* sendToServers = AddItem(mnuSrv, "mnuSendToServers", "Send to Ser&vers\u2026",
                                   "Send one line to the Quake servers ticked in a list");
  connect(sendToServers, &QAction::triggered, this, &MainWindow::sendToServersRequested);

  AddViewMenu();
  mnuWindow = menuBar()->addMenu("&Window");
  mnuWindow->setObjectName("mnuWindow");
  mnuWindow->menuAction()->setObjectName("mnuWindow");
  mnuWindow->menuAction()->setStatusTip("Window related commands");
  WindowCascadeItem = AddItem(mnuWindow, "WindowCascadeItem", "&Cascade", "Arrange windows to overlap");
  WindowTileItem = AddItem(mnuWindow, "WindowTileItem", "&Tile", "Arrange windows without overlap");
  WindowArrangeItem = AddItem(mnuWindow, "WindowArrangeItem", "&Arrange Icons",
                              "Arrange window icons at bottom of main window");
  WindowMinimizeItem = AddItem(mnuWindow, "WindowMinimizeItem", "&Minimize All", "Minimize all windows");
  cleanupItem_ = AddItem(mnuWindow, "Cleanup1", "C&lean up", "Closes all dead windows");
  connect(mnuWindow, &QMenu::aboutToShow, this, &MainWindow::FillWindowMenu);

  mnuHelp = menuBar()->addMenu("&Help");
  mnuHelp->setObjectName("mnuHelp");
  mnuHelp->menuAction()->setObjectName("mnuHelp");
  mnuHelp->menuAction()->setStatusTip("Help topics");
  HelpAboutItem = AddItem(mnuHelp, "HelpAboutItem", "&About", QString());

  connect(mnuCon, &QAction::triggered, this, &MainWindow::mnuConClick);
  connect(mnuStart, &QAction::triggered, this, &MainWindow::mnuStartClick);
  connect(mnuSrvWin, &QAction::triggered, this, &MainWindow::mnuSrvWinClick);
  connect(mnuExit, &QAction::triggered, this, &MainWindow::mnuExitClick);
  connect(mnuWnd, &QAction::triggered, this, &MainWindow::mnuWndClick);
  connect(mnuDis, &QAction::triggered, this, &MainWindow::mnuDisClick);
  connect(mnuKill, &QAction::triggered, this, &MainWindow::mnuKillClick);
  connect(mnuEKill, &QAction::triggered, this, &MainWindow::mnuKillClick);
  connect(WindowCascadeItem, &QAction::triggered, this, &MainWindow::WindowCascadeItemClick);
  connect(WindowTileItem, &QAction::triggered, this, &MainWindow::WindowTileItemClick);
  connect(WindowArrangeItem, &QAction::triggered, this, &MainWindow::WindowArrangeItemClick);
  connect(WindowMinimizeItem, &QAction::triggered, this, &MainWindow::WindowMinimizeItemClick);
  connect(cleanupItem_, &QAction::triggered, this, &MainWindow::Cleanup1Click);
  connect(HelpAboutItem, &QAction::triggered, this, &MainWindow::HelpAboutItemClick);

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
  tbConnect = AddButton("tbConnect", "Connect");
  tbStart = AddButton("tbStart", "Start");
  tbSvrs = AddButton("tbSvrs", "Servers");
  row->addWidget(tbConnect);
  row->addWidget(tbStart);
  row->addWidget(tbSvrs);
  row->addSpacing(12);
  tbWnd = AddButton("tbWnd", "Window");
  tbDis = AddButton("tbDis", "Disconnect");
  tbKill = AddButton("tbKill", "Kill");
  row->addWidget(tbWnd);
  row->addWidget(tbDis);
  row->addWidget(tbKill);
  row->addStretch(1);
  tbKill->setVisible(false);
  tbKill->setEnabled(false);
  connect(tbConnect, &QPushButton::clicked, this, &MainWindow::mnuConClick);
  connect(tbStart, &QPushButton::clicked, this, &MainWindow::mnuStartClick);
  connect(tbSvrs, &QPushButton::clicked, this, &MainWindow::mnuSrvWinClick);
  connect(tbWnd, &QPushButton::clicked, this, &MainWindow::mnuWndClick);
  connect(tbDis, &QPushButton::clicked, this, &MainWindow::mnuDisClick);
  connect(tbKill, &QPushButton::clicked, this, &MainWindow::mnuKillClick);
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

  // The status bar: one text across the whole width, written only by the status line.
  statusBar()->setObjectName("StatusBar");
  // Whatever it is given, the bar stays one line as wide as the window: its text never sizes it.
  StatusText = new QLabel(statusBar());
  StatusText->setObjectName("StatusText");
  StatusText->setTextFormat(Qt::PlainText);
  StatusText->setWordWrap(false);
  StatusText->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
  StatusText->installEventFilter(this);
  statusBar()->addWidget(StatusText, 1);

  debugTimer_.setSingleShot(true);
  connect(&debugTimer_, &QTimer::timeout, this, &MainWindow::FlushDebugPane);
  connect(mdi_, &QMdiArea::subWindowActivated, this, &MainWindow::UpdateMenuItems);
  connect(mdi_, &QMdiArea::subWindowActivated, this, &MainWindow::UpdateReconnectItem);
  UpdateMenuItems();
  UpdateReconnectItem();
}

MainWindow::~MainWindow() {
  // The child windows are destroyed after this, by the QWidget base: what they signal then must not
  // reach the members of a window that is no longer a MainWindow.
  for (QMdiSubWindow* window : mdi_->subWindowList()) disconnect(window, nullptr, this, nullptr);
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
  colourCodesItem_->setChecked(ReadColourCodes());
  connect(colourCodesItem_, &QAction::toggled, this, [this](bool on) {
    WriteColourCodes(on);
    emit colourCodesChanged(on);
  });
}

bool MainWindow::ColourCodes() const { return colourCodesItem_->isChecked(); }

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

void MainWindow::SetWindows(ConnectDialog* connDlg, ServersWindow* servers, StartServerDialog* start) {
  connDlg_ = connDlg;
  servers_ = servers;
  start_ = start;
  UpdateMenuItems();
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
  StatusText->setAccessibleName(statusLine_);
  ElideStatusText();
  QAccessibleEvent changed(StatusText, QAccessible::NameChanged);
  QAccessible::updateAccessibility(&changed);
}

void MainWindow::ElideStatusText() {
  StatusText->setText(
      StatusText->fontMetrics().elidedText(statusLine_, Qt::ElideRight, std::max(0, StatusText->width())));
}

QAction* MainWindow::ActionFor(Command command) const {
  switch (command) {
    case Command::mnuDis:
      return mnuDis;
    case Command::mnuKill:
      return mnuKill;
    case Command::mnuWnd:
      return mnuWnd;
    case Command::mnuEKill:
      return mnuEKill;
    default:
      return nullptr;
  }
}

QPushButton* MainWindow::ButtonFor(Command command) const {
  switch (command) {
    case Command::tbWnd:
      return tbWnd;
    case Command::tbKill:
      return tbKill;
    case Command::tbDis:
      return tbDis;
    default:
      return nullptr;
  }
}

void MainWindow::AddConsoleWindow(QMdiSubWindow* window) {
  if (auto* console = qobject_cast<ConsoleWindow*>(window)) {
    console->ShowInFrame(*mdi_);
  } else {
    mdi_->addSubWindow(window);
    window->show();
  }
  connect(window, &QObject::destroyed, this,
          [this] { QTimer::singleShot(0, this, &MainWindow::UpdateMenuItems); });
  // A window that dies while active can be reconnected from then on: its caption tells.
  connect(window, &QWidget::windowTitleChanged, this, &MainWindow::UpdateReconnectItem);
  UpdateMenuItems();
}

// ---- Events

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == StatusText && event->type() == QEvent::Resize) ElideStatusText();
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
    for (QMdiSubWindow* w : mdi_->subWindowList()) {
      if (auto* console = qobject_cast<ConsoleWindow*>(w)) console->Detach();
    }
    emit closing();
  }
  event->accept();
}

// ---- Commands

void MainWindow::mnuConClick() {
  if (!connDlg_) return;
  if (!ConnDefaultsSet) {
    ConnDefaultsSet = true;
    connDlg_->edTimeOut->setText("10");
    connDlg_->edPort->setText("4044");
  }
  if (connDlg_->ShowModal() != ConnectDialog::OK) return;
  const int count = ParseInt(FromQt(connDlg_->edTimeOut->text()), 10);
  const int port = ParseInt(FromQt(connDlg_->edPort->text()), 0);
  emit connectRequested(FromQt(connDlg_->edIP->text()), port, count);
}

void MainWindow::mnuStartClick() {
  if (start_) start_->ShowStartDialog();
}

void MainWindow::mnuSrvWinClick() {
  if (servers_) servers_->ShowServers();
}

void MainWindow::mnuWndClick() { emit openWindowRequested(); }

void MainWindow::mnuDisClick() { emit disconnectRequested(); }

void MainWindow::mnuKillClick() { emit killRequested(); }

void MainWindow::WindowCascadeItemClick() { mdi_->cascadeSubWindows(); }

void MainWindow::WindowTileItemClick() {
  // Horizontal tiling: the windows that are not minimised stacked one above another, above the row of
  // minimised windows. Where they do not fit one above another at their minimum height, they make
  // columns side by side, as few as fit; a window of fixed size keeps it in its place. Only when even
  // that does not fit do windows lie beyond the frame's edge, reached by its scroll bars.
  QList<QMdiSubWindow*> tiled;
  int iconRow = 0;
  QSize least(1, 1);  // what every place must hold
  for (QMdiSubWindow* w : mdi_->subWindowList(QMdiArea::CreationOrder)) {
    if (!w->isVisible()) continue;
    if (w->isMinimized()) {
      iconRow = std::max(iconRow, w->height());
    } else {
      tiled.append(w);
      const bool fixed = w->minimumSize() == w->maximumSize();
      least = least.expandedTo(fixed ? w->size() : w->minimumSize());
    }
  }
  if (tiled.isEmpty()) return;
  // Tiles are laid from the frame's corner, in the whole of its area: the scroll bars go once all fits.
  mdi_->horizontalScrollBar()->setValue(0);
  mdi_->verticalScrollBar()->setValue(0);
  const QSize area = mdi_->contentsRect().size();
  const int height = std::max(1, area.height() - iconRow);
  const int count = static_cast<int>(tiled.size());
  int columns = 1;
  while (columns < count && height / ((count + columns - 1) / columns) < least.height()) ++columns;
  if (area.width() / columns < least.width()) columns = std::clamp(area.width() / least.width(), 1, columns);
  const int rows = (count + columns - 1) / columns;
  const int columnWidth = std::max(area.width() / columns, least.width());
  for (int c = 0; c < columns; ++c) {
    const int first = c * rows;
    const int inColumn = std::min(rows, count - first);
    if (inColumn <= 0) break;
    const int each = std::max(height / inColumn, least.height());
    for (int r = 0; r < inColumn; ++r) {
      QMdiSubWindow* w = tiled[first + r];
      if (w->isMaximized()) w->showNormal();
      const bool fixed = w->minimumSize() == w->maximumSize();
      const int h = r + 1 == inColumn ? std::max(each, height - r * each) : each;
      w->setGeometry(QRect(QPoint(c * columnWidth, r * each), fixed ? w->size() : QSize(columnWidth, h)));
    }
  }
}

void MainWindow::WindowArrangeItemClick() {
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

void MainWindow::WindowMinimizeItemClick() {
  const QList<QMdiSubWindow*> children = mdi_->subWindowList(QMdiArea::CreationOrder);
  for (qsizetype i = children.size() - 1; i >= 0; --i) children[i]->showMinimized();
}

void MainWindow::Cleanup1Click() { emit cleanupRequested(); }

void MainWindow::HelpAboutItemClick() {
  QMessageBox box(QMessageBox::Information, "Information",
                  "OV Client, v0.95 BETA\nRemote administration of Quake servers through OV servers.",
                  QMessageBox::Ok, this);
  box.exec();
}

void MainWindow::mnuExitClick() { close(); }

void MainWindow::UpdateMenuItems() {
  const bool any = !mdi_->subWindowList().isEmpty();
  for (QAction* a : {WindowCascadeItem, WindowTileItem, WindowArrangeItem, WindowMinimizeItem})
    a->setEnabled(any);
}

void MainWindow::UpdateReconnectItem() {
  auto* console = qobject_cast<ConsoleWindow*>(mdi_->activeSubWindow());
  mnuReconnect->setEnabled(console != nullptr && console->CanReconnect());
}

void MainWindow::mnuReconnectClick() {
  if (auto* console = qobject_cast<ConsoleWindow*>(mdi_->activeSubWindow())) console->RequestReconnect();
}

void MainWindow::FillWindowMenu() {
  UpdateMenuItems();
  for (QAction* a : windowListActions_) {
    mnuWindow->removeAction(a);
    a->deleteLater();
  }
  windowListActions_.clear();
  const QList<QMdiSubWindow*> children = mdi_->subWindowList(QMdiArea::CreationOrder);
  int number = 0;
  for (QMdiSubWindow* w : children) {
    if (!w->isVisible()) continue;
    if (number == 0) windowListActions_.append(mnuWindow->addSeparator());
    ++number;
    QString caption = ShownTitle(w->windowTitle());
    // A server's long title would make the menu as wide as the screen: the list shows its start.
    constexpr int kListedTitle = 64;
    if (caption.size() > kListedTitle) caption = caption.left(kListedTitle - 1) + QChar(0x2026);
    caption.replace(QLatin1Char('&'), QLatin1String("&&"));
    // Text arrived since the window was last active: marked in the list, never in its caption.
    if (const auto* console = qobject_cast<ConsoleWindow*>(w); console && console->HasUnseenText())
      caption.prepend(QChar(0x2022) + QLatin1Char(' '));
    QAction* item = mnuWindow->addAction(number < 10 ? QString("&%1 %2").arg(number).arg(caption)
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
