#include "app/qt/start_server_dialog.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextDocument>
#include <algorithm>

#include "app/qt/qt_platform.h"
#include "core/qt/named_combo_box.h"

namespace ov {

namespace {

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, QWidget* buddy) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(name);
  label->setBuddy(buddy);
  buddy->setAccessibleName(text);
  return label;
}

// The command line's box: four lines high at the dialog's font (76 pixels at the default one).
class CommandBox : public QPlainTextEdit {
 public:
  using QPlainTextEdit::QPlainTextEdit;
  QSize sizeHint() const override {
    const int lines = 4 * fontMetrics().lineSpacing() + 2 * frameWidth() +
                      2 * static_cast<int>(document()->documentMargin());
    return {QPlainTextEdit::sizeHint().width(), std::max(76, lines)};
  }
};

}  // namespace

StartServerDialog::StartServerDialog(QWidget* parent) : QDialog(parent) {
  setObjectName("fStart");
  setWindowTitle("Start Server");
  // A fixed frame with only a close box.
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                 Qt::WindowTitleHint | Qt::WindowCloseButtonHint);

  // Created in tab order: hosts_, types_, commandLine_, startButton_, cancelButton_, title_.
  hosts_ = new NamedComboBox(this);  // read by its label, "Host:", not by the host it shows
  hosts_->setObjectName("cbHosts");
  hosts_->setEditable(false);
  types_ = new NamedComboBox(this);
  types_->setObjectName("cbType");
  types_->setEditable(false);
  commandLine_ = new CommandBox(this);
  commandLine_->setObjectName("mCmd");
  commandLine_->setTabChangesFocus(true);  // Enter makes a new line; Tab leaves the box
  startButton_ = new QPushButton("Start", this);
  startButton_->setObjectName("bGo");
  cancelButton_ = new QPushButton("Cancel", this);
  cancelButton_->setObjectName("bCancel");
  title_ = new QLineEdit(this);
  title_->setObjectName("eTitle");
  // Neither button is the default: Enter in the command line must make a new line, never start.
  for (QPushButton* b : {startButton_, cancelButton_}) {
    b->setAutoDefault(false);
    b->setDefault(false);
    b->setMinimumSize(105, 25);
  }

  hostLabel_ = MakeLabel(this, "lHost", "Host:", hosts_);
  typeLabel_ = MakeLabel(this, "lType", "Server Type:", types_);
  commandLabel_ = MakeLabel(this, "lCmd", "Command Line:", commandLine_);
  titleLabel_ = MakeLabel(this, "lTitle", "Window Title", title_);

  // The designed places at the default font: the labels' column, the lists beside them with the buttons
  // at their right, the command line and the title across both. A larger font makes it all larger.
  auto* grid = new QGridLayout(this);
  grid->setContentsMargins(8, 8, 13, 17);
  grid->setHorizontalSpacing(8);
  grid->setVerticalSpacing(5);
  grid->addWidget(hostLabel_, 0, 0);
  grid->addWidget(hosts_, 0, 1);
  grid->addWidget(startButton_, 0, 2);
  grid->addWidget(typeLabel_, 1, 0);
  grid->addWidget(types_, 1, 1);
  grid->addWidget(cancelButton_, 1, 2);
  grid->addWidget(commandLabel_, 2, 0, Qt::AlignTop);
  grid->addWidget(commandLine_, 2, 1, 1, 2);
  grid->addWidget(titleLabel_, 3, 0);
  grid->addWidget(title_, 3, 1, 1, 2);
  // The lists take what the designed width of 438 leaves beside the labels and the buttons.
  int labelWidth = 0;
  for (QLabel* l : {hostLabel_, typeLabel_, commandLabel_, titleLabel_})
    labelWidth = std::max(labelWidth, l->sizeHint().width());
  for (QComboBox* list : {hosts_, types_}) list->setMinimumWidth(std::max(120, 296 - labelWidth));
  grid->setSizeConstraint(QLayout::SetFixedSize);

  setTabOrder(hosts_, types_);
  setTabOrder(types_, commandLine_);
  setTabOrder(commandLine_, startButton_);
  setTabOrder(startButton_, cancelButton_);
  setTabOrder(cancelButton_, title_);

  connect(hosts_, &QComboBox::currentIndexChanged, this, [this] {
    if (!refilling_) HostChosen();
  });
  // Picking the host that is already chosen reads its types again: a 31 may have changed them.
  connect(hosts_, &QComboBox::activated, this, [this](int line) {
    if (!refilling_ && line == hosts_->currentIndex()) HostChosen();
  });
  connect(startButton_, &QPushButton::clicked, this, &StartServerDialog::Go);
  connect(cancelButton_, &QPushButton::clicked, this, &StartServerDialog::Cancel);
}

int StartServerDialog::ShowStartDialog() {
  refilling_ = true;
  hosts_->clear();
  preselected_ = -1;
  emit hostsRequested();
  hosts_->setCurrentIndex(-1);
  refilling_ = false;
  // The host the user has in mind is chosen already, and its types listed.
  if (preselected_ >= 0 && preselected_ < hosts_->count()) hosts_->setCurrentIndex(preselected_);
  hosts_->setFocus();
  return exec();
}

void StartServerDialog::SetHosts(const std::vector<std::string>& names, int preselected) {
  for (const std::string& name : names) hosts_->addItem(ToQt(name));
  preselected_ = preselected;
}

void StartServerDialog::HostChosen() {
  types_->clear();
  emit typesRequested(hosts_->currentIndex());
}

void StartServerDialog::SetTypes(const std::vector<std::string>& types) {
  types_->clear();
  for (const std::string& type : types) types_->addItem(ToQt(type));
  if (types_->count() > 0) types_->setCurrentIndex(0);
}

void StartServerDialog::Go() {
  // The box keeps its lines with LF; the command line goes out with CR LF between them.
  QString command = commandLine_->toPlainText();
  for (QWidget* field : {static_cast<QWidget*>(commandLine_), static_cast<QWidget*>(title_)}) {
    const QString text = field == commandLine_ ? command : title_->text();
    if (!IsSendable(text)) {
      // Refused, not sent with "?": the dialog stays open with the text as typed.
      emit notLatin1();
      field->setFocus();
      return;
    }
  }
  command.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
  emit goRequested(hosts_->currentIndex(), types_->currentIndex(), FromQt(types_->currentText()),
                   FromQt(title_->text()), FromQt(command));
}

void StartServerDialog::Cancel() { done(-1); }

void StartServerDialog::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    Cancel();  // Escape acts through cancelButton_
    return;
  }
  QDialog::keyPressEvent(event);
}

void StartServerDialog::closeEvent(QCloseEvent* event) {
  if (isVisible()) done(2);  // the close box
  event->accept();
}

}  // namespace ov
