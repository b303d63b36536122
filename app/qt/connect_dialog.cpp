#include "app/qt/connect_dialog.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <algorithm>

#include "core/qt/latin1_text.h"
#include "core/qt/named_combo_box.h"

namespace ov {

namespace {

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(name);
  return label;
}

QLineEdit* MakeField(QWidget* parent, const char* name, QLabel* label) {
  auto* field = new QLineEdit(parent);
  field->setObjectName(name);
  field->setMinimumWidth(169);
  field->setAccessibleName(label->text());
  label->setBuddy(field);
  return field;
}

}  // namespace

ConnectDialog::ConnectDialog(QWidget* parent) : QDialog(parent) {
  setObjectName("ConnDlg");
  setWindowTitle("Connect to OV Server");
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);

  // Created in tab order, so the Connect button holds the focus when the dialog opens.
  connectButton_ = new QPushButton("Connect", this);
  connectButton_->setObjectName("OKBtn");
  connectButton_->setDefault(true);
  cancelButton_ = new QPushButton("Cancel", this);
  cancelButton_->setObjectName("CancelBtn");
  cancelButton_->setAutoDefault(false);
  for (QPushButton* b : {connectButton_, cancelButton_}) b->setMinimumSize(75, 25);

  addressLabel_ = MakeLabel(this, "Label1", "IP Address");
  portLabel_ = MakeLabel(this, "Label2", "Port:");
  timeoutLabel_ = MakeLabel(this, "Label3", "Timeout");
  addressField_ = MakeField(this, "edIP", addressLabel_);
  // The address field drops down the recent servers. Only a choice from the list fills the fields:
  // typing is never completed or added to it, so what is typed is what connects.
  addressList_ = new NamedComboBox(this);
  addressList_->setObjectName("cbRecent");
  addressList_->setMinimumWidth(169);
  addressList_->setEditable(true);
  addressList_->setLineEdit(addressField_);
  addressList_->setCompleter(nullptr);
  addressList_->setInsertPolicy(QComboBox::NoInsert);
  addressList_->setAccessibleName(addressLabel_->text());
  addressLabel_->setBuddy(addressList_);
  portField_ = MakeField(this, "edPort", portLabel_);
  countField_ = MakeField(this, "edTimeOut", timeoutLabel_);

  // The designed places at the default font: labels from the left margin, fields 32 pixels apart, the
  // buttons at the bottom right. A larger font makes it all larger.
  auto* grid = new QGridLayout(this);
  grid->setContentsMargins(16, 12, 15, 11);
  grid->setHorizontalSpacing(4);
  grid->setVerticalSpacing(11);
  grid->setColumnMinimumWidth(0, 80);
  const std::pair<QLabel*, QWidget*> rows[] = {
      {addressLabel_, addressList_}, {portLabel_, portField_}, {timeoutLabel_, countField_}};
  for (int row = 0; row < 3; ++row) {
    grid->addWidget(rows[row].first, row, 0);
    grid->addWidget(rows[row].second, row, 1);
  }
  auto* buttons = new QHBoxLayout;
  buttons->setSpacing(9);
  buttons->addStretch(1);
  buttons->addWidget(connectButton_);
  buttons->addWidget(cancelButton_);
  grid->addLayout(buttons, 3, 0, 1, 2);
  grid->setSizeConstraint(QLayout::SetFixedSize);

  setTabOrder(connectButton_, cancelButton_);
  setTabOrder(cancelButton_, addressList_);
  setTabOrder(addressList_, portField_);
  setTabOrder(portField_, countField_);

  connect(connectButton_, &QPushButton::clicked, this, [this] { done(OK); });
  connect(cancelButton_, &QPushButton::clicked, this, [this] { done(Cancel); });
  connect(addressList_, &QComboBox::activated, this, &ConnectDialog::ChooseRecent);
}

void ConnectDialog::SetRecent(const std::vector<Endpoint>& entries) {
  recent_ = entries;
  const QString typed = addressField_->text();
  addressList_->clear();
  int widest = 0;
  for (const Endpoint& e : entries) {
    const QString item = QString("%1, time-out %2").arg(ToQt(e.Text())).arg(e.count);
    addressList_->addItem(item);
    widest = std::max(widest, addressList_->view()->fontMetrics().horizontalAdvance(item));
  }
  // The list may be wider than the field: its entries show whole.
  addressList_->view()->setMinimumWidth(widest + 2 * addressList_->view()->frameWidth() + 24);
  addressList_->setCurrentIndex(-1);
  addressField_->setText(typed);
}

void ConnectDialog::ChooseRecent(int index) {
  if (index < 0 || index >= static_cast<int>(recent_.size())) return;
  const Endpoint& e = recent_[static_cast<size_t>(index)];
  addressField_->setText(ToQt(e.address));
  portField_->setText(QString::number(e.port));
  countField_->setText(QString::number(e.count));
}

ConnectDialog::Fields ConnectDialog::Entered() const {
  return {addressField_->text(), portField_->text(), countField_->text()};
}

void ConnectDialog::SetPortAndCount(const QString& port, const QString& count) {
  portField_->setText(port);
  countField_->setText(count);
}

int ConnectDialog::ShowModal() {
  adjustSize();  // the layout's size, before it is centred
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    QRect frame = frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    move(frame.topLeft());
  }
  connectButton_->setFocus();
  // Escape and the close box reject the dialog: both are Cancel.
  return exec() == OK ? OK : Cancel;
}

}  // namespace ov
