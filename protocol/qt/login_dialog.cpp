#include "protocol/qt/login_dialog.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>
#include <algorithm>

#include "core/qt/latin1_text.h"
#include "core/qt/window_title.h"

namespace ov {

namespace {

constexpr int kDesignWidth = 231;
constexpr int kMaxWidth = 800;
// A caption an OV server chose: longer ones are cut, with a mark, so the title bar shows it all.
constexpr qsizetype kMaxCaption = 80;

// What the accessibility bridge learns of a PasswordField. While the field hides its characters it
// offers no text interface: the bridge then neither answers for its text nor passes on its text-change
// events, which carry the characters themselves. Shown characters (a login name) are readable as usual.
class PasswordFieldAccessible : public QAccessibleWidget, public QAccessibleTextInterface {
 public:
  explicit PasswordFieldAccessible(QLineEdit* field) : QAccessibleWidget(field, QAccessible::EditableText) {}

  void* interface_cast(QAccessible::InterfaceType type) override {
    if (type == QAccessible::TextInterface)
      return Masked() ? nullptr : static_cast<QAccessibleTextInterface*>(this);
    return QAccessibleWidget::interface_cast(type);
  }
  QString text(QAccessible::Text t) const override {
    if (t == QAccessible::Value) return Masked() ? QString() : Field()->text();
    return QAccessibleWidget::text(t);
  }
  QAccessible::State state() const override {
    QAccessible::State s = QAccessibleWidget::state();
    s.editable = true;
    s.passwordEdit = Masked();
    return s;
  }

  // The text interface, offered only while the characters show.
  void selection(int, int* start, int* end) const override {
    *start = Field()->selectionStart();
    *end = *start + static_cast<int>(Field()->selectedText().size());
  }
  int selectionCount() const override { return Field()->hasSelectedText() ? 1 : 0; }
  void addSelection(int start, int end) override { Field()->setSelection(start, end - start); }
  void removeSelection(int) override { Field()->deselect(); }
  void setSelection(int, int start, int end) override { Field()->setSelection(start, end - start); }
  int cursorPosition() const override { return Field()->cursorPosition(); }
  void setCursorPosition(int position) override { Field()->setCursorPosition(position); }
  QString text(int start, int end) const override {
    return Masked() ? QString() : Field()->text().mid(start, end - start);
  }
  int characterCount() const override { return static_cast<int>(Field()->text().size()); }
  QRect characterRect(int) const override { return QRect(); }
  int offsetAtPoint(const QPoint&) const override { return -1; }
  void scrollToSubstring(int, int) override {}
  QString attributes(int offset, int* start, int* end) const override {
    *start = *end = offset;
    return QString();
  }

 private:
  QLineEdit* Field() const { return static_cast<QLineEdit*>(widget()); }
  bool Masked() const { return Field()->echoMode() != QLineEdit::Normal; }
};

QAccessibleInterface* PasswordFieldFactory(const QString& className, QObject* object) {
  if (className == QLatin1String("ov::PasswordField") && object != nullptr && object->isWidgetType())
    return new PasswordFieldAccessible(static_cast<QLineEdit*>(object));
  return nullptr;
}

// The title as the window shows it: control characters as blanks, cut to a length a title bar shows.
QString ShownCaption(const std::string& caption) {
  QString title = ToQt(caption.substr(0, kMaxCaption + 1));
  for (QChar& c : title)
    if (c.unicode() < 0x20 || c.unicode() == 0x7F) c = u' ';
  if (title.size() > kMaxCaption) title = title.left(kMaxCaption - 1) + QChar(0x2026);
  return title;
}

}  // namespace

LoginDialog::LoginDialog(QWidget* parent) : QDialog(parent) {
  static const bool factoryInstalled = (QAccessible::installFactory(PasswordFieldFactory), true);
  (void)factoryInstalled;
  setObjectName("PWDlg");
  setWindowTitle("Login");
  // A fixed frame with only a close box: nothing to maximise or minimise.
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                 Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
  setModal(false);
  QFont designFont = font();
  designFont.setPixelSize(11);
  setFont(designFont);
  // Hidden characters show as "*", whatever the style's own password character is.
  setStyleSheet("QLineEdit { lineedit-password-character: 42; }");

  // Created in tab order: field1_, field2_, okButton_, cancelButton_.
  field1_ = new PasswordField(this);
  field1_->setObjectName("edPW1");
  field2_ = new PasswordField(this);
  field2_->setObjectName("edPW2");
  field2_->setEchoMode(QLineEdit::Password);

  okButton_ = new QPushButton("OK", this);
  okButton_->setObjectName("OKBtn");
  okButton_->setDefault(true);
  okButton_->setAccessibleName("OK");
  okButton_->setMinimumSize(69, 21);

  cancelButton_ = new QPushButton("Cancel", this);
  cancelButton_->setObjectName("CancelBtn");
  cancelButton_->setAccessibleName("Cancel");
  cancelButton_->setMinimumSize(67, 21);

  label1_ = new QLabel("Login:", this);
  label1_->setObjectName("lPW1");
  label1_->setBuddy(field1_);

  label2_ = new QLabel("Password:", this);
  label2_->setObjectName("lPW2");
  QFont labelFont = designFont;
  labelFont.setPixelSize(12);
  label2_->setFont(labelFont);
  QPalette black = label2_->palette();
  black.setColor(QPalette::WindowText, Qt::black);
  label2_->setPalette(black);
  label2_->setBuddy(field2_);
  // A step with one field keeps the dialog's size, with a blank where the second one was.
  for (QWidget* w : {static_cast<QWidget*>(label2_), static_cast<QWidget*>(field2_)}) {
    QSizePolicy policy = w->sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    w->setSizePolicy(policy);
  }

  setTabOrder(field1_, field2_);
  setTabOrder(field2_, okButton_);
  setTabOrder(okButton_, cancelButton_);
  field1_->setAccessibleName(label1_->text());
  field2_->setAccessibleName(label2_->text());

  serverLabel_ = new QLabel(this);
  serverLabel_->setObjectName("lServer");
  serverLabel_->setTextFormat(Qt::PlainText);
  cbRemember_ = new QCheckBox("&Remember password", this);
  cbRemember_->setObjectName("cbRemember");
  cbRemember_->setVisible(false);
  bForget_ = new QPushButton("&Forget", this);
  bForget_->setObjectName("bForget");
  bForget_->setToolTip("Remove the password kept in the desktop's keyring for this OV server and login");
  bForget_->setAutoDefault(false);
  bForget_->setMinimumSize(67, 21);
  bForget_->setVisible(false);
  LayOut();
  SetWidth(kDesignWidth);
  connect(bForget_, &QPushButton::clicked, this, &LoginDialog::forgetRequested);
  connect(field1_, &QLineEdit::textChanged, this,
          [this](const QString& text) { emit loginEdited(FromQt(text)); });
  connect(okButton_, &QPushButton::clicked, this, &LoginDialog::Answer);
  connect(cancelButton_, &QPushButton::clicked, this, &LoginDialog::Cancel);
}

void LoginDialog::LayOut() {
  // The designed places at the default font, one control under another, the buttons at the right; below
  // them the line naming the server and, under a login step, the Remember row. A larger font makes it
  // all larger.
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(8, 8, 10, 0);
  column->setSpacing(0);
  column->addWidget(label1_);
  column->addSpacing(3);
  column->addWidget(field1_);
  column->addSpacing(8);
  column->addWidget(label2_);
  column->addWidget(field2_);
  column->addSpacing(11);
  auto* buttons = new QHBoxLayout;
  buttons->setSpacing(9);
  buttons->addStretch(1);
  buttons->addWidget(okButton_);
  buttons->addWidget(cancelButton_);
  column->addLayout(buttons);
  column->addSpacing(5);
  column->addWidget(serverLabel_);
  column->addSpacing(5);
  rememberRow_ = new QHBoxLayout;  // takes no room while hidden
  rememberRow_->setContentsMargins(0, 0, 0, 0);
  rememberRow_->addWidget(cbRemember_, 1);
  rememberRow_->addWidget(bForget_);
  column->addLayout(rememberRow_);
  column->setSizeConstraint(QLayout::SetFixedSize);
}

void LoginDialog::SetWidth(int width) {
  // The fields span the dialog: their width sets the dialog's.
  for (QLineEdit* field : {field1_, field2_}) field->setMinimumWidth(width - 18);
  layout()->activate();
}

void LoginDialog::ShowStep(const LoginStep& step) {
  shownServer_ = step.server;
  offersRemember_ = step.offersRemember;
  cbRemember_->setVisible(offersRemember_);
  bForget_->setVisible(offersRemember_);
  rememberRow_->setContentsMargins(0, 0, 0, offersRemember_ ? 5 : 0);
  cbRemember_->setChecked(false);
  cbRemember_->setEnabled(false);
  bForget_->setEnabled(false);
  const QString title = ShownCaption(step.caption);
  setWindowTitle(LiteralTitle(title));  // the OV server's caption
  serverLabel_->setText(step.server.empty() ? QString() : "OV server " + ToQt(step.server));
  // Wide enough for the title bar to show the whole caption beside its buttons.
  // Window managers draw titles bold, often a little larger than the application's font.
  QFont titleFont = QApplication::font();
  titleFont.setBold(true);
  const int titleWidth = QFontMetrics(titleFont).horizontalAdvance(title) * 6 / 5 + 150;
  label1_->setText(ToQt(step.label1));
  label2_->setText(ToQt(step.label2));
  SetWidth(std::clamp(titleWidth, kDesignWidth, kMaxWidth));
  field1_->setAccessibleName(label1_->text());
  field2_->setAccessibleName(label2_->text());
  field2_->setVisible(step.secondVisible);
  label2_->setVisible(step.secondVisible);
  field1_->clear();
  field2_->clear();
  field1_->setEchoMode(step.field1Masked ? QLineEdit::Password : QLineEdit::Normal);
  field2_->setEchoMode(step.field2Masked ? QLineEdit::Password : QLineEdit::Normal);
  // Where it was, unless a wider title would take it beyond the screen's edge.
  const QScreen* screen = QGuiApplication::primaryScreen();
  if (!isVisible() || (screen != nullptr && !screen->availableGeometry().contains(frameGeometry())))
    CentreOnScreen();
  show();
  raise();
  activateWindow();
  field1_->setFocus(Qt::OtherFocusReason);
  emit stepShown(step.server, step.offersRemember);
}

void LoginDialog::HideDialog() { hide(); }

void LoginDialog::SetRememberBox(bool enabled, bool checked, const std::string& tip) {
  cbRemember_->setEnabled(enabled);
  cbRemember_->setChecked(checked);
  cbRemember_->setToolTip(QString::fromStdString(tip));
}

void LoginDialog::SetForgetEnabled(bool enabled) { bForget_->setEnabled(enabled); }

void LoginDialog::FillFields(const std::string& login, const std::string& password) {
  if (!field1_->text().isEmpty() || !field2_->text().isEmpty()) return;  // the user is typing
  field1_->setText(ToQt(login));
  field2_->setText(ToQt(password));
}

std::string LoginDialog::Field1() const { return FromQt(field1_->text()); }
std::string LoginDialog::Field2() const { return FromQt(field2_->text()); }

void LoginDialog::Answer() {
  // A character the protocol cannot carry would go out as "?", and any other such character would then
  // match it: the answer waits until the field holds only what can be sent, as typed.
  for (QLineEdit* field : {field1_, field2_}) {
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
  if (offersRemember_) emit loginAnswered(shownServer_, Field1(), Field2(), cbRemember_->isChecked());
  emit answered();
}

void LoginDialog::Cancel() { emit cancelled(); }

void LoginDialog::reject() { Cancel(); }

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
