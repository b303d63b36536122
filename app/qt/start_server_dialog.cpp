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

  // Created in tab order: cbHosts, cbType, mCmd, bGo, bCancel, eTitle.
  cbHosts = new QComboBox(this);
  cbHosts->setObjectName("cbHosts");
  cbHosts->setEditable(false);
  cbType = new QComboBox(this);
  cbType->setObjectName("cbType");
  cbType->setEditable(false);
  mCmd = new QPlainTextEdit(this);
  mCmd->setObjectName("mCmd");
  mCmd->setTabChangesFocus(true);  // Enter makes a new line; Tab leaves the box
  bGo = new QPushButton("Start", this);
  bGo->setObjectName("bGo");
  bGo->setGeometry(320, 8, 105, 25);
  bCancel = new QPushButton("Cancel", this);
  bCancel->setObjectName("bCancel");
  bCancel->setGeometry(320, 38, 105, 25);
  eTitle = new QLineEdit(this);
  eTitle->setObjectName("eTitle");
  // Neither button is the default: Enter in the command line must make a new line, never start.
  for (QPushButton* b : {bGo, bCancel}) {
    b->setAutoDefault(false);
    b->setDefault(false);
  }

  lHost = MakeLabel(this, "lHost", "Host:", cbHosts, QRect(8, 11, 90, 16));
  lType = MakeLabel(this, "lType", "Server Type:", cbType, QRect(8, 41, 90, 16));
  lCmd = MakeLabel(this, "lCmd", "Command Line:", mCmd, QRect(8, 70, 90, 16));
  lTitle = MakeLabel(this, "lTitle", "Window Title", eTitle, QRect(8, 155, 90, 16));
  // The fields start right of the widest label, whatever the font.
  int labelWidth = 0;
  for (QLabel* l : {lHost, lType, lCmd, lTitle}) labelWidth = std::max(labelWidth, l->sizeHint().width());
  for (QLabel* l : {lHost, lType, lCmd, lTitle}) l->resize(labelWidth, l->height());
  const int left = 8 + labelWidth + 8;
  cbHosts->setGeometry(left, 8, 312 - left, 22);
  cbType->setGeometry(left, 38, 312 - left, 22);
  mCmd->setGeometry(left, 68, 425 - left, 76);
  eTitle->setGeometry(left, 154, 425 - left, 22);

  setTabOrder(cbHosts, cbType);
  setTabOrder(cbType, mCmd);
  setTabOrder(mCmd, bGo);
  setTabOrder(bGo, bCancel);
  setTabOrder(bCancel, eTitle);

  connect(cbHosts, &QComboBox::currentIndexChanged, this, [this] {
    if (!refilling_) cbHostsChange();
  });
  // Picking the host that is already chosen reads its types again: a 31 may have changed them.
  connect(cbHosts, &QComboBox::activated, this, [this](int line) {
    if (!refilling_ && line == cbHosts->currentIndex()) cbHostsChange();
  });
  connect(bGo, &QPushButton::clicked, this, &StartServerDialog::bGoClick);
  connect(bCancel, &QPushButton::clicked, this, &StartServerDialog::bCancelClick);
}

int StartServerDialog::ShowStartDialog() {
  refilling_ = true;
  cbHosts->clear();
  emit hostsRequested();
  cbHosts->setCurrentIndex(-1);
  refilling_ = false;
  cbHosts->setFocus();
  return exec();
}

void StartServerDialog::SetHosts(const std::vector<std::string>& names) {
  for (const std::string& name : names) cbHosts->addItem(ToQt(name));
}

void StartServerDialog::cbHostsChange() {
  cbType->clear();
  emit typesRequested(cbHosts->currentIndex());
}

void StartServerDialog::SetTypes(const std::vector<std::string>& types) {
  cbType->clear();
  for (const std::string& type : types) cbType->addItem(ToQt(type));
  if (cbType->count() > 0) cbType->setCurrentIndex(0);
}

void StartServerDialog::bGoClick() {
  // The box keeps its lines with LF; the command line goes out with CR LF between them.
  QString command = mCmd->toPlainText();
  for (QWidget* field : {static_cast<QWidget*>(mCmd), static_cast<QWidget*>(eTitle)}) {
    const QString text = field == mCmd ? command : eTitle->text();
    if (!IsLatin1(text)) {
      // Refused, not sent with "?": the dialog stays open with the text as typed.
      emit notLatin1();
      field->setFocus();
      return;
    }
  }
  command.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
  emit goRequested(cbHosts->currentIndex(), cbType->currentIndex(), FromQt(cbType->currentText()),
                   FromQt(eTitle->text()), FromQt(command));
}

void StartServerDialog::bCancelClick() { done(-1); }

void StartServerDialog::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    bCancelClick();  // Escape acts through bCancel
    return;
  }
  QDialog::keyPressEvent(event);
}

void StartServerDialog::closeEvent(QCloseEvent* event) {
  if (isVisible()) done(2);  // the close box
  event->accept();
}

}  // namespace ov
