#include "consoles/qt/log_tools.h"

#include <QAction>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QSaveFile>
#include <QScrollBar>
#include <QStyle>
#include <QToolButton>

#include "consoles/console_log.h"
#include "consoles/qt/console_window.h"
#include "consoles/qt/log_view.h"

namespace ov {

namespace {

QToolButton* AddButton(QWidget* bar, QHBoxLayout* row, const char* name, const QString& tip) {
  auto* button = new QToolButton(bar);
  button->setObjectName(name);
  button->setToolTip(tip);
  button->setAccessibleName(tip);
  button->setAutoRaise(true);
  row->addWidget(button);
  return button;
}

}  // namespace

LogTools::LogTools(ConsoleWindow& window, LogView& log, QLineEdit& input)
    : QObject(&window), window_(window), log_(log), input_(input) {
  find_ = new QAction("&Find…", &window);
  find_->setObjectName("logFind");
  find_->setShortcut(QKeySequence::Find);
  find_->setShortcutContext(Qt::WidgetWithChildrenShortcut);  // in this console window only
  window.addAction(find_);
  save_ = new QAction("&Save Log As…", &window);
  save_->setObjectName("logSave");
  clear_ = new QAction("C&lear Log", &window);
  clear_->setObjectName("logClear");
  copy_ = new QAction("&Copy", &window);
  copy_->setObjectName("logCopy");
  selectAll_ = new QAction("Select &All", &window);
  selectAll_->setObjectName("logSelectAll");
  connect(find_, &QAction::triggered, this, &LogTools::OpenFindBar);
  connect(save_, &QAction::triggered, this, &LogTools::SaveAs);
  connect(clear_, &QAction::triggered, this, &LogTools::ClearLog);
  connect(copy_, &QAction::triggered, this, [this] { log_.Copy(); });
  connect(selectAll_, &QAction::triggered, this, [this] { log_.SelectAll(); });

  // The find bar lies over the log's top rows, the newest text at the bottom staying in sight.
  bar_ = new QWidget(log.parentWidget());
  bar_->setObjectName("findBar");
  bar_->setAutoFillBackground(true);
  auto* row = new QHBoxLayout(bar_);
  row->setContentsMargins(2, 1, 2, 1);
  row->setSpacing(1);
  findText_ = new QLineEdit(bar_);
  findText_->setObjectName("findText");
  findText_->setAccessibleName("Find in log");
  findText_->setPlaceholderText("Find");
  findText_->installEventFilter(this);
  row->addWidget(findText_, 1);
  findStatus_ = new QLabel(bar_);
  findStatus_->setObjectName("findStatus");
  row->addWidget(findStatus_);
  previous_ = AddButton(bar_, row, "findPrevious", "Previous (Shift+Enter)");
  previous_->setArrowType(Qt::UpArrow);
  next_ = AddButton(bar_, row, "findNext", "Next (Enter)");
  next_->setArrowType(Qt::DownArrow);
  matchCase_ = AddButton(bar_, row, "findCase", "Match case");
  matchCase_->setText("Aa");
  matchCase_->setCheckable(true);
  closeBar_ = AddButton(bar_, row, "findClose", "Close (Escape)");
  closeBar_->setIcon(bar_->style()->standardIcon(QStyle::SP_TitleBarCloseButton));
  connect(previous_, &QToolButton::clicked, this, [this] { FindNext(true); });
  connect(next_, &QToolButton::clicked, this, [this] { FindNext(false); });
  connect(closeBar_, &QToolButton::clicked, this, &LogTools::CloseFindBar);
  connect(findText_, &QLineEdit::textEdited, findStatus_, &QLabel::clear);
  bar_->hide();
  log.installEventFilter(this);

  log.setContextMenuPolicy(Qt::CustomContextMenu);
  connect(&log, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
    QMenu* menu = BuildContextMenu(&log_);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(log_.mapToGlobal(at));
  });
}

QMenu* LogTools::BuildContextMenu(QWidget* parent) {
  auto* menu = new QMenu(parent);
  menu->setObjectName("logMenu");
  copy_->setEnabled(log_.SelectionBegin() != log_.SelectionEnd());
  menu->addAction(copy_);
  menu->addAction(selectAll_);
  menu->addSeparator();
  menu->addAction(find_);
  menu->addAction(save_);
  menu->addAction(clear_);
  return menu;
}

void LogTools::PlaceBar() {
  const QRect log = log_.geometry();
  const int height = bar_->sizeHint().height();
  bar_->setGeometry(log.x(), log.y(), log.width() - log_.verticalScrollBar()->width(), height);
}

void LogTools::OpenFindBar() {
  PlaceBar();
  bar_->show();
  bar_->raise();
  findText_->setFocus(Qt::ShortcutFocusReason);
  findText_->selectAll();
}

void LogTools::CloseFindBar() {
  bar_->hide();
  findStatus_->clear();
  input_.setFocus(Qt::OtherFocusReason);
}

bool LogTools::FindNext(bool backward) {
  const bool found = log_.Find(findText_->text(), backward,
                               matchCase_->isChecked() ? Qt::CaseSensitive : Qt::CaseInsensitive);
  findStatus_->setText(found || findText_->text().isEmpty() ? QString() : QStringLiteral("Not found"));
  return found;
}

bool LogTools::SaveTo(const QString& path, QString& error) const {
  const Console* console = window_.Window();
  const std::string text = console ? console->log.Text() : std::string();
  QSaveFile file(path);
  // Only the user reads a log, as with the logs kept on disk: 0600, whatever the file was before.
  // Unbuffered: a write the disk refuses fails here. Buffered, it would fail only in commit's flush,
  // which commit does not check, and a full disk would put an empty file in place of the old one.
  if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) ||
      !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner) ||
      file.write(text.data(), static_cast<qint64>(text.size())) != static_cast<qint64>(text.size()) ||
      !file.commit()) {
    error = file.errorString();
    return false;
  }
  return true;
}

void LogTools::SaveAs() {
  QString name = window_.windowTitle();
  name.replace(QLatin1Char('/'), QLatin1Char('_'));  // a caption is no path
  const QString path = QFileDialog::getSaveFileName(&window_, "Save Log As", name + ".log",
                                                    "Logs (*.log *.txt);;All files (*)");
  if (path.isEmpty()) return;
  QString error;
  if (!SaveTo(path, error))
    QMessageBox::warning(&window_, "Save Log As",
                         QString("The log could not be saved to %1: %2").arg(path, error));
}

void LogTools::ClearLog() {
  Console* console = window_.Window();
  if (!console) return;
  console->log.Clear();
  window_.LogChanged();
  window_.RedrawNow();
}

bool LogTools::eventFilter(QObject* watched, QEvent* event) {
  if (watched == &log_ && (event->type() == QEvent::Resize || event->type() == QEvent::Move) &&
      bar_->isVisible()) {
    PlaceBar();
  } else if (watched == findText_ && event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Escape) {
      CloseFindBar();
      return true;
    }
    if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
      FindNext(key->modifiers() & Qt::ShiftModifier);
      return true;
    }
  }
  return QObject::eventFilter(watched, event);
}

}  // namespace ov
