#include "app/qt/connect_dialog.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <algorithm>

#include "core/qt/latin1_text.h"

namespace ov {

namespace {

QLineEdit* MakeField(QWidget* parent, const char* name, QLabel* label, int top) {
  auto* field = new QLineEdit(parent);
  field->setObjectName(name);
  field->setGeometry(100, top, 169, 21);
  field->setAccessibleName(label->text());
  label->setBuddy(field);
  return field;
}

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, int top) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(name);
  label->setGeometry(16, top + 3, 80, 16);
  return label;
}

}  // namespace

ConnectDialog::ConnectDialog(QWidget* parent) : QDialog(parent) {
  setObjectName("ConnDlg");
  setWindowTitle("Connect to OV Server");
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
  setFixedSize(285, 146);

  // Created in tab order, so the Connect button holds the focus when the dialog opens.
  OKBtn = new QPushButton("Connect", this);
  OKBtn->setObjectName("OKBtn");
  OKBtn->setGeometry(111, 110, 75, 25);
  OKBtn->setDefault(true);
  CancelBtn = new QPushButton("Cancel", this);
  CancelBtn->setObjectName("CancelBtn");
  CancelBtn->setGeometry(195, 110, 75, 25);
  CancelBtn->setAutoDefault(false);

  addressLabel_ = MakeLabel(this, "Label1", "IP Address", 12);
  portLabel_ = MakeLabel(this, "Label2", "Port:", 44);
  timeoutLabel_ = MakeLabel(this, "Label3", "Timeout", 76);
  edIP = MakeField(this, "edIP", addressLabel_, 12);
  // The address field drops down the recent servers. Only a choice from the list fills the fields:
  // typing is never completed or added to it, so what is typed is what connects.
  cbRecent = new QComboBox(this);
  cbRecent->setObjectName("cbRecent");
  cbRecent->setGeometry(edIP->geometry());
  cbRecent->setEditable(true);
  cbRecent->setLineEdit(edIP);
  cbRecent->setCompleter(nullptr);
  cbRecent->setInsertPolicy(QComboBox::NoInsert);
  cbRecent->setAccessibleName(addressLabel_->text());
  addressLabel_->setBuddy(cbRecent);
  edPort = MakeField(this, "edPort", portLabel_, 44);
  edTimeOut = MakeField(this, "edTimeOut", timeoutLabel_, 76);

  setTabOrder(OKBtn, CancelBtn);
  setTabOrder(CancelBtn, cbRecent);
  setTabOrder(cbRecent, edPort);
  setTabOrder(edPort, edTimeOut);

  connect(OKBtn, &QPushButton::clicked, this, [this] { done(OK); });
  connect(CancelBtn, &QPushButton::clicked, this, [this] { done(Cancel); });
  connect(cbRecent, &QComboBox::activated, this, &ConnectDialog::ChooseRecent);
}

void ConnectDialog::SetRecent(const std::vector<Endpoint>& entries) {
  recent_ = entries;
  const QString typed = edIP->text();
  cbRecent->clear();
  int widest = 0;
  for (const Endpoint& e : entries) {
    const QString item = QString("%1, time-out %2").arg(ToQt(e.Text())).arg(e.count);
    cbRecent->addItem(item);
    widest = std::max(widest, cbRecent->view()->fontMetrics().horizontalAdvance(item));
  }
  // The list may be wider than the field: its entries show whole.
  cbRecent->view()->setMinimumWidth(widest + 2 * cbRecent->view()->frameWidth() + 24);
  cbRecent->setCurrentIndex(-1);
  edIP->setText(typed);
}

void ConnectDialog::ChooseRecent(int index) {
  if (index < 0 || index >= static_cast<int>(recent_.size())) return;
  const Endpoint& e = recent_[static_cast<size_t>(index)];
  edIP->setText(ToQt(e.address));
  edPort->setText(QString::number(e.port));
  edTimeOut->setText(QString::number(e.count));
}

ConnectDialog::Fields ConnectDialog::Entered() const {
  return {edIP->text(), edPort->text(), edTimeOut->text()};
}

void ConnectDialog::SetPortAndCount(const QString& port, const QString& count) {
  edPort->setText(port);
  edTimeOut->setText(count);
}

int ConnectDialog::ShowModal() {
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    QRect frame = frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    move(frame.topLeft());
  }
  OKBtn->setFocus();
  // Escape and the close box reject the dialog: both are Cancel.
  return exec() == OK ? OK : Cancel;
}

}  // namespace ov
