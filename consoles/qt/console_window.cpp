#include "consoles/qt/console_window.h"

#include <QAction>
#include <QApplication>
#include <QBoxLayout>
#include <QCloseEvent>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMdiArea>
#include <QMenu>
#include <QPointer>
#include <QTabWidget>
#include <algorithm>

#include "consoles/colour_codes.h"
#include "consoles/qt/log_tools.h"
#include "consoles/qt/log_view.h"
#include "consoles/qt/players_panel.h"
#include "consoles/qt/players_split.h"
#include "core/qt/latin1_text.h"
#include "core/qt/window_title.h"

namespace ov {

// ---- InputHistory

void InputHistory::Add(const QString& line) {
  if (!line.isEmpty() && (lines_.isEmpty() || lines_.back() != line)) {
    lines_.append(line);
    if (lines_.size() > kMaxLines) lines_.removeFirst();
  }
  pos_ = lines_.size();
  draft_.clear();
}

bool InputHistory::Up(const QString& current, QString& shown) {
  if (pos_ == 0) return false;
  if (pos_ == lines_.size()) draft_ = current;
  shown = lines_.at(--pos_);
  return true;
}

bool InputHistory::Down(QString& shown) {
  if (pos_ >= lines_.size()) return false;
  ++pos_;
  shown = pos_ == lines_.size() ? draft_ : lines_.at(pos_);
  return true;
}

// ---- RedrawPacer

RedrawPacer::RedrawPacer() {
  timer_.setSingleShot(true);
  connect(&timer_, &QTimer::timeout, this, &RedrawPacer::Turn);
  clock_.start();
}

void RedrawPacer::Request(ConsoleWindow& view) {
  waiting_.push_back(&view);
  Schedule();
}

void RedrawPacer::Forget(ConsoleWindow& view) {
  waiting_.erase(std::remove(waiting_.begin(), waiting_.end(), &view), waiting_.end());
  drawnAt_.erase(&view);
}

int RedrawPacer::IntervalMs() const {
  return std::max(kRedrawMs, static_cast<int>(drawnAt_.size()) * kBusyMsPerWindow);
}

qint64 RedrawPacer::DueAt(ConsoleWindow* view) const {
  const auto drawn = drawnAt_.find(view);
  return drawn == drawnAt_.end() ? 0 : drawn->second + IntervalMs();
}

void RedrawPacer::Schedule() {
  if (waiting_.empty()) return;
  qint64 due = DueAt(waiting_.front());
  for (ConsoleWindow* view : waiting_) due = std::min(due, DueAt(view));
  const qint64 wait = std::max<qint64>(0, due - clock_.elapsed());
  // A turn already set to come earlier takes this window too.
  if (timer_.isActive() && timer_.remainingTime() <= wait) return;
  timer_.start(static_cast<int>(wait));
}

void RedrawPacer::Turn() {
  const qint64 now = clock_.elapsed();
  for (auto it = drawnAt_.begin(); it != drawnAt_.end();)
    it = now - it->second > kBusySpanMs ? drawnAt_.erase(it) : std::next(it);
  // Windows due within a few milliseconds go in this turn with the others, so turns are few.
  const qint64 horizon = now + kBudgetMs;
  QElapsedTimer spent;
  spent.start();
  std::deque<ConsoleWindow*> later;
  while (!waiting_.empty()) {
    ConsoleWindow* view = waiting_.front();
    waiting_.pop_front();
    if (DueAt(view) > horizon) {
      later.push_back(view);
      continue;
    }
    // A covered window costs only the look at what of it can be seen: it does not count.
    if (view->RedrawIfSeen()) {
      drawnAt_[view] = now;
      if (spent.elapsed() >= kBudgetMs) break;
    }
  }
  // Those not yet due, then those the budget left, keep their order of asking; a window that asked
  // again during the turn is already at the back.
  waiting_.insert(waiting_.begin(), later.begin(), later.end());
  Schedule();
}

// ---- ConsoleWindow

namespace {
// Matched once, not for each window: servers that come and go open many windows.
QFont FixedFont() {
  static const QFont fixed = [] {
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    if (!QFontInfo(font).fixedPitch()) {
      // Some platforms name no fixed font of their own: ask for any monospaced one.
      font.setFamily("monospace");
      font.setStyleHint(QFont::TypeWriter);
      font.setFixedPitch(true);
    }
    return font;
  }();
  return fixed;
}
}  // namespace

ConsoleWindow::ConsoleWindow(RedrawPacer& pacer, Console& window, int designWidth, QWidget* parent)
    : QMdiSubWindow(parent), pacer_(pacer), window_(&window), designWidth_(designWidth) {
  setAttribute(Qt::WA_DeleteOnClose);
  // The page (in a Quake server's window, the page and its players panel) fills the window but for a
  // margin; on the page the log takes what the input line leaves. At the default font these are the
  // designed sizes; a larger font takes its room from the log.
  clientArea_ = new QWidget;
  auto* area = new QHBoxLayout(clientArea_);
  area->setContentsMargins(3, 1, 4, 3);
  pages_ = new QTabWidget;
  pages_->setObjectName("pView");
  area->addWidget(pages_);
  consolePage_ = new QWidget;
  consolePage_->setObjectName("tsCon");
  pages_->addTab(consolePage_, "Console");
  auto* column = new QVBoxLayout(consolePage_);
  column->setContentsMargins(0, 0, 4, 0);
  column->setSpacing(3);

  const QFont fixed = FixedFont();
  log_ = new LogView(consolePage_);
  log_->setObjectName("ConTxt");
  log_->setAccessibleName("Console");
  log_->setFont(fixed);
  log_->setMinimumSize(1, 1);  // the window's own minimum keeps a few lines of it
  column->addWidget(log_, 1);
  input_ = new QLineEdit(consolePage_);
  input_->setObjectName("ConCed");
  input_->setAccessibleName("Console input");
  input_->setFont(fixed);
  // The designed 21 pixels: the font's height in a frame of two pixels above and below.
  input_->setFixedHeight(std::max(21, input_->fontMetrics().height() + 4));
  column->addWidget(input_);
  input_->installEventFilter(this);
  setTabOrder(input_, log_);
  tools_ = new LogTools(*this, *log_, *input_);

  setWidget(clientArea_);
  setFocusProxy(input_);
  setWindowTitle(ShownCaption());

  log_->viewport()->installEventFilter(this);
  SetUpServerExtras();
}

void ConsoleWindow::SetUpServerExtras() {
  // Two servers of one name are told apart by where their connections go.
  if (!window_->where.address.empty()) setToolTip(ToQt(window_->where.Text()));
  reconnect_ = new QAction("&Reconnect", this);
  reconnect_->setObjectName("mnuReconnect");
  reconnect_->setStatusTip("Connect again to this OV server");
  reconnect_->setVisible(false);
  systemMenu()->addSeparator();
  systemMenu()->addAction(reconnect_);
  connect(reconnect_, &QAction::triggered, this, &ConsoleWindow::RequestReconnect);
  // What the log had taken when the window last became active or stopped being so: text beyond it,
  // while not active, has not been seen.
  connect(this, &QMdiSubWindow::windowStateChanged, this, [this](Qt::WindowStates old, Qt::WindowStates now) {
    if ((old ^ now) & Qt::WindowActive) seenUpTo_ = LogCount();
  });
}

uint64_t ConsoleWindow::LogCount() const {
  return window_ ? window_->log.Appended() + window_->log.Cuts() : 0;
}

bool ConsoleWindow::HasUnseenText() const {
  return !(windowState() & Qt::WindowActive) && LogCount() != seenUpTo_;
}

bool ConsoleWindow::CanReconnect() const {
  return window_ && window_->kind == ConsoleKind::OVServer && window_->IsDead() &&
         !window_->where.address.empty();
}

void ConsoleWindow::RequestReconnect() {
  if (!CanReconnect()) return;
  const Endpoint where = window_->where;  // the window may go while the connection is made
  emit reconnectRequested(where);
}

ConsoleWindow::~ConsoleWindow() {
  // The frame's own destructor still reports a change of state, when this window's members are gone.
  disconnect(this, &QMdiSubWindow::windowStateChanged, this, nullptr);
  pacer_.Forget(*this);
  if (window_) window_->view = nullptr;
}

QSize ConsoleWindow::DesignedSize() const {
  const QMargins m = contentsMargins();
  return QSize(
      designWidth_ - kFrameWidth + m.left() + m.right() + (players_ && !players_->isHidden() ? grownBy_ : 0),
      236 - kFrameHeight + m.top() + m.bottom());
}

void ConsoleWindow::ShowInFrame(QMdiArea& area, std::optional<QPoint> place) {
  QPointer<QMdiSubWindow> active = area.activeSubWindow();
  QPointer<QWidget> focus = QApplication::focusWidget();
  if (place) move(*place);  // before joining the frame, which then leaves it there
  area.addSubWindow(this);
  const QMargins m = contentsMargins();
  const QSize designed(designWidth_ - kFrameWidth + m.left() + m.right(),
                       236 - kFrameHeight + m.top() + m.bottom());
  // Smaller than designed, by hand or by the frame's arrangements, but never without its whole input
  // line and three lines of its log (the designed log is 153 pixels high).
  setMinimumSize(designed.width() * 2 / 3,
                 designed.height() - 153 + 3 * log_->fontMetrics().lineSpacing() + 8);
  resize(DesignedSize());
  // Where the frame placed it: it goes back inside the frame's area where it can.
  const QRect inside = area.viewport()->rect();
  move(std::clamp(place ? place->x() : x(), 0, std::max(0, inside.width() - width())),
       std::clamp(place ? place->y() : y(), 0, std::max(0, inside.height() - height())));
  // Shown disabled: the frame makes a window active as it shows it, and an enabled one would hand the
  // focus to its first control (the players list, say) before it could be given back.
  setEnabled(false);
  show();
  if (active && active != this) area.setActiveSubWindow(active);
  setEnabled(true);
  if (!active && area.activeSubWindow() == this) {
    // Nothing else in the frame was active: this one may be, with the focus in its input line.
    input_->setFocus();
    return;
  }
  if (focus) focus->setFocus();
}

void ConsoleWindow::CaptionChanged() {
  if (window_) setWindowTitle(ShownCaption());
  // A dead server's panel asks no more: a later server on that port is not this one.
  if (players_ && window_ && window_->IsDead()) players_->End();
  reconnect_->setVisible(CanReconnect());
}

QString ConsoleWindow::ShownCaption() const {
  return LiteralTitle(ToQt(colourCodes_ ? StripColourCodes(window_->caption) : window_->caption));
}

void ConsoleWindow::SetColourCodes(bool on) {
  colourCodes_ = on;
  log_->SetColours(on);
  if (players_) players_->SetColourCodes(on);
  CaptionChanged();
}

bool ConsoleWindow::CanDraw() const { return isVisible() && !isMinimized(); }

void ConsoleWindow::LogChanged() {
  dirty_ = true;
  // Heard at once, drawn or not: a screen reader reads a console the user is not looking at.
  if (window_) log_->Heard(window_->log);
  // A hidden or covered log catches up when it shows again.
  if (requested_ || waitingForSight_ || !CanDraw()) return;
  requested_ = true;
  pacer_.Request(*this);
}

bool ConsoleWindow::RedrawIfSeen() {
  requested_ = false;
  if (!dirty_ || !CanDraw()) return false;
  if (window()->isMinimized() || log_->viewport()->visibleRegion().isEmpty()) {
    waitingForSight_ = true;
    return false;
  }
  RedrawNow();
  return true;
}

void ConsoleWindow::RedrawNow() {
  if (requested_) {
    requested_ = false;
    pacer_.Forget(*this);
  }
  waitingForSight_ = false;
  if (!window_ || !dirty_) return;
  dirty_ = false;
  log_->CatchUp(window_->log);
}

void ConsoleWindow::BringToFront() {
  // Not yet in the frame: it comes in at the front, at its turn.
  if (!mdiArea()) return;
  if (isMinimized() || isMaximized()) showNormal();
  show();
  raise();
}

void ConsoleWindow::TakeFocus() {
  if (!mdiArea()) emit wanted();
  QMdiArea* area = mdiArea();
  if (!area) return;
  area->setActiveSubWindow(this);
  raise();
  input_->setFocus();
}

void ConsoleWindow::CloseLater() {
  QTimer::singleShot(0, this, [this] { close(); });
}

void ConsoleWindow::Close() { close(); }

void ConsoleWindow::Detach() {
  if (players_) players_->Detach();
  if (window_) window_->view = nullptr;
  window_ = nullptr;
}

void ConsoleWindow::closeEvent(QCloseEvent* event) {
  if (Console* window = window_) {
    Detach();
    emit closing(window);  // the model is gone after this
  }
  QMdiSubWindow::closeEvent(event);
  event->accept();  // a console window is destroyed when closed, never hidden
}

void ConsoleWindow::changeEvent(QEvent* event) {
  QMdiSubWindow::changeEvent(event);
  if (event->type() == QEvent::WindowStateChange && dirty_) {
    waitingForSight_ = false;
    LogChanged();
  }
}

void ConsoleWindow::showEvent(QShowEvent* event) {
  QMdiSubWindow::showEvent(event);
  if (dirty_) {
    waitingForSight_ = false;
    LogChanged();
  }
}

int ConsoleWindow::SplitWidth() const {
  const QMargins frame = contentsMargins();
  const QMargins inside = clientArea_->layout()->contentsMargins();
  return width() - frame.left() - frame.right() - inside.left() - inside.right();
}

bool ConsoleWindow::InputKey(int key) {
  QString shown;
  switch (key) {
    case Qt::Key_Return:
    case Qt::Key_Enter: {
      const QString line = input_->text();
      if (!IsSendable(line)) {
        emit notLatin1();  // the line stays for the user to change
        return true;
      }
      QPointer<ConsoleWindow> self(this);
      // Whatever the line holds, an empty line too; a dead window sends nothing.
      if (window_) emit lineEntered(window_, FromQt(line));
      if (!self) return true;
      history_.Add(line);
      input_->clear();
      return true;
    }
    case Qt::Key_Up:
      if (history_.Up(input_->text(), shown)) input_->setText(shown);
      return true;
    case Qt::Key_Down:
      if (history_.Down(shown)) input_->setText(shown);
      return true;
    default:
      return false;
  }
}

bool ConsoleWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == log_->viewport() && event->type() == QEvent::Paint && waitingForSight_) {
    // Uncovered: this paint shows the old text, the next turn the log as it is.
    waitingForSight_ = false;
    LogChanged();
  } else if (watched == input_ && event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    if (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier)) return false;
    return InputKey(key->key());
  }
  return QMdiSubWindow::eventFilter(watched, event);
}

// ---- OVConsoleWindow, QuakeConsoleWindow

OVConsoleWindow::OVConsoleWindow(RedrawPacer& pacer, Console& window, QWidget* parent)
    : ConsoleWindow(pacer, window, 328, parent) {
  setObjectName("TfOVServ");
}

QuakeConsoleWindow::QuakeConsoleWindow(RedrawPacer& pacer, Console& window, QWidget* parent)
    : ConsoleWindow(pacer, window, 324, parent) {
  setObjectName("TfQServ");
  AddPlayersPanel();
}

// ---- The players panel

void ConsoleWindow::AddPlayersPanel() {
  players_ = new PlayersPanel;
  split_ = new PlayersSplit(pages_, players_, clientArea_);
  clientArea_->layout()->addWidget(split_);  // where the page was
  playersItem_ = new QAction("&Players and Map", this);
  playersItem_->setObjectName("mnuWindowPlayers");
  playersItem_->setStatusTip("Show the map and the players of the game server beside its console");
  playersItem_->setCheckable(true);
  systemMenu()->addAction(playersItem_);
  connect(playersItem_, &QAction::triggered, this, &ConsoleWindow::playersToggled);
}

void ConsoleWindow::SetPlayersShown(bool shown) {
  if (!players_ || shown == !players_->isHidden()) return;
  playersItem_->setChecked(shown);
  // The window widens by the panel as far as the frame has room, so that its log keeps its width; what
  // is left of the panel's place is taken from the log, in a share the user can drag.
  if (!isMaximized() && !isMinimized()) {
    // Moved left where the frame has room there but not to the right.
    const int room = mdiArea() ? mdiArea()->viewport()->width() - width() : kPlayersWidth;
    const int grow = shown ? std::clamp(room, 0, kPlayersWidth) : -std::exchange(grownBy_, 0);
    if (shown) grownBy_ = grow;
    if (mdiArea()) move(std::clamp(x(), 0, std::max(0, room - grow)), y());
    resize(width() + grow, height());
  }
  split_->ShowPanel(shown, grownBy_, SplitWidth());
}

void ConsoleWindow::EnterLine(const QString& line) {
  const QString draft = input_->text();
  input_->setText(line);
  QPointer<ConsoleWindow> self(this);
  InputKey(Qt::Key_Return);
  if (self && input_->text().isEmpty()) input_->setText(draft);
}

}  // namespace ov
