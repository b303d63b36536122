#include "protocol/qt/login_dialog.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>

#include "ui/qt/latin1_text.h"
#include "ui/qt/qt_platform.h"

namespace ov {

namespace {

// Labels size themselves to their text from their design position.
void PlaceLabel(QLabel* label, const QString& text, int left, int top) {
  label->setText(text);
  label->adjustSize();
  label->move(left, top);
}

}  // namespace

LoginDialog::LoginDialog(QWidget* parent) : QDialog(parent) {
  setObjectName("PWDlg");
  setWindowTitle("Login");
  setModal(false);
  QFont designFont = font();
  designFont.setPixelSize(11);
  setFont(designFont);
  // Hidden characters show as "*", whatever the style's own password character is.
  setStyleSheet("QLineEdit { lineedit-password-character: 42; }");

  // Created in tab order: edPW1, edPW2, OKBtn, CancelBtn.
  edPW1 = new QLineEdit(this);
  edPW1->setObjectName("edPW1");
  edPW1->setGeometry(8, 24, 213, 21);

  edPW2 = new QLineEdit(this);
  edPW2->setObjectName("edPW2");
  edPW2->setGeometry(8, 68, 213, 21);
  edPW2->setEchoMode(QLineEdit::Password);

  OKBtn = new QPushButton("OK", this);
  OKBtn->setObjectName("OKBtn");
  OKBtn->setGeometry(76, 100, 69, 21);
  OKBtn->setDefault(true);
  OKBtn->setAccessibleName("OK");

  CancelBtn = new QPushButton("Cancel", this);
  CancelBtn->setObjectName("CancelBtn");
  CancelBtn->setGeometry(154, 100, 67, 21);
  CancelBtn->setAccessibleName("Cancel");

  lPW1 = new QLabel(this);
  lPW1->setObjectName("lPW1");
  PlaceLabel(lPW1, "Login:", 8, 8);
  lPW1->setBuddy(edPW1);

  lPW2 = new QLabel(this);
  lPW2->setObjectName("lPW2");
  QFont labelFont = designFont;
  labelFont.setPixelSize(12);
  lPW2->setFont(labelFont);
  QPalette black = lPW2->palette();
  black.setColor(QPalette::WindowText, Qt::black);
  lPW2->setPalette(black);
  PlaceLabel(lPW2, "Password:", 8, 53);
  lPW2->setBuddy(edPW2);

  setTabOrder(edPW1, edPW2);
  setTabOrder(edPW2, OKBtn);
  setTabOrder(OKBtn, CancelBtn);
  edPW1->setAccessibleName(lPW1->text());
  edPW2->setAccessibleName(lPW2->text());

  setFixedSize(231, 127);
  connect(OKBtn, &QPushButton::clicked, this, &LoginDialog::OKBtnClick);
  connect(CancelBtn, &QPushButton::clicked, this, &LoginDialog::CancelBtnClick);
}

void LoginDialog::ShowStep(const LoginStep& step) {
  setWindowTitle(LiteralTitle(ToQt(step.caption)));  // the OV server's caption, as it sent it
  PlaceLabel(lPW1, ToQt(step.label1), 8, 8);
  PlaceLabel(lPW2, ToQt(step.label2), 8, 53);
  edPW1->setAccessibleName(lPW1->text());
  edPW2->setAccessibleName(lPW2->text());
  edPW2->setVisible(step.secondVisible);
  lPW2->setVisible(step.secondVisible);
  edPW1->clear();
  edPW2->clear();
  edPW1->setEchoMode(step.field1Masked ? QLineEdit::Password : QLineEdit::Normal);
  edPW2->setEchoMode(step.field2Masked ? QLineEdit::Password : QLineEdit::Normal);
  if (!isVisible()) CentreOnScreen();
  show();
  raise();
  activateWindow();
  edPW1->setFocus(Qt::OtherFocusReason);
}

void LoginDialog::HideDialog() { hide(); }

std::string LoginDialog::Field1() const { return FromQt(edPW1->text()); }
std::string LoginDialog::Field2() const { return FromQt(edPW2->text()); }

void LoginDialog::OKBtnClick() {
  // A character the protocol cannot carry would go out as "?", and any other such character would then
  // match it: the answer waits until the field holds only what can be sent, as typed.
  for (QLineEdit* field : {edPW1, edPW2}) {
    if (field->isVisible() && !IsLatin1(field->text())) {
      QMessageBox box(QMessageBox::Warning, windowTitle(),
                      "\"" + field->accessibleName() +
                          "\" holds characters that cannot be sent to the OV server.\n"
                          "Only Latin-1 characters can be sent: please change them.",
                      QMessageBox::Ok, this);
      box.setObjectName("NotLatin1Box");
      box.exec();
      field->setFocus(Qt::OtherFocusReason);
      return;
    }
  }
  emit answered();
}

void LoginDialog::CancelBtnClick() { emit cancelled(); }

void LoginDialog::reject() { CancelBtnClick(); }

void LoginDialog::closeEvent(QCloseEvent* event) {
  // Not QDialog's own handling, which would answer through reject(): the close box has its own handler.
  event->accept();
  emit dismissed();
}

void LoginDialog::CentreOnScreen() {
  QScreen* screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) return;
  QRect frame = frameGeometry();
  frame.moveCenter(screen->availableGeometry().center());
  move(frame.topLeft());
}

}  // namespace ov
