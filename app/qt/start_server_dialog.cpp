#include "app/qt/start_server_dialog.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <algorithm>

#include "app/qt/qt_platform.h"

namespace ov {

namespace {

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, QWidget* buddy, QRect where) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(name);
  label->setGeometry(where);
  label->setBuddy(buddy);
  buddy->setAccessibleName(text);
  return label;
}

}  // namespace

StartServerDialog::StartServerDialog(QWidget* parent) : QDialog(parent) {
  setObjectName("fStart");
  setWindowTitle("Start Server");
  // A fixed frame with only a close box.
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                 Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
  setFixedSize(438, 188);

  // Created in tab order: hosts_, types_, commandLine_, startButton_, cancelButton_, title_.
  hosts_ = new QComboBox(this);
  hosts_->setObjectName("cbHosts");
  hosts_->setEditable(false);
  types_ = new QComboBox(this);
  types_->setObjectName("cbType");
  types_->setEditable(false);
  commandLine_ = new QPlainTextEdit(this);
  commandLine_->setObjectName("mCmd");
  commandLine_->setTabChangesFocus(true);  // Enter makes a new line; Tab leaves the box
  startButton_ = new QPushButton("Start", this);
  startButton_->setObjectName("bGo");
  startButton_->setGeometry(320, 8, 105, 25);
  cancelButton_ = new QPushButton("Cancel", this);
  cancelButton_->setObjectName("bCancel");
  cancelButton_->setGeometry(320, 38, 105, 25);
  title_ = new QLineEdit(this);
  title_->setObjectName("eTitle");
  // Neither button is the default: Enter in the command line must make a new line, never start.
  for (QPushButton* b : {startButton_, cancelButton_}) {
    b->setAutoDefault(false);
    b->setDefault(false);
  }

  hostLabel_ = MakeLabel(this, "lHost", "Host:", hosts_, QRect(8, 11, 90, 16));
  typeLabel_ = MakeLabel(this, "lType", "Server Type:", types_, QRect(8, 41, 90, 16));
  commandLabel_ = MakeLabel(this, "lCmd", "Command Line:", commandLine_, QRect(8, 70, 90, 16));
  titleLabel_ = MakeLabel(this, "lTitle", "Window Title", title_, QRect(8, 155, 90, 16));
  // The fields start right of the widest label, whatever the font.
  int labelWidth = 0;
  for (QLabel* l : {hostLabel_, typeLabel_, commandLabel_, titleLabel_})
    labelWidth = std::max(labelWidth, l->sizeHint().width());
  for (QLabel* l : {hostLabel_, typeLabel_, commandLabel_, titleLabel_}) l->resize(labelWidth, l->height());
  const int left = 8 + labelWidth + 8;
  hosts_->setGeometry(left, 8, 312 - left, 22);
  types_->setGeometry(left, 38, 312 - left, 22);
  commandLine_->setGeometry(left, 68, 425 - left, 76);
  title_->setGeometry(left, 154, 425 - left, 22);

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
  emit hostsRequested();
  hosts_->setCurrentIndex(-1);
  refilling_ = false;
  hosts_->setFocus();
  return exec();
}

void StartServerDialog::SetHosts(const std::vector<std::string>& names) {
  for (const std::string& name : names) hosts_->addItem(ToQt(name));
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
