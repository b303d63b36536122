#include "app/qt/send_to_servers_dialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "core/qt/latin1_text.h"

namespace ov {

namespace {
// A title is shown on one line: control characters as blanks.
QString Shown(const std::string& text) {
  QString shown = ToQt(text);
  for (QChar& c : shown)
    if (c.unicode() < 0x20 || c.unicode() == 0x7F) c = u' ';
  return shown;
}
}  // namespace

SendToServersDialog::SendToServersDialog(QWidget* parent) : QDialog(parent) {
  setObjectName("SendDlg");
  setWindowTitle("Send to Servers");
  auto* column = new QVBoxLayout(this);
  auto* listLabel = new QLabel("&Servers:", this);
  list_ = new QListWidget(this);
  list_->setObjectName("lbServers");
  listLabel->setBuddy(list_);
  auto* lineLabel = new QLabel("&Line:", this);
  line_ = new QLineEdit(this);
  line_->setObjectName("eLine");
  lineLabel->setBuddy(line_);
  auto* buttons = new QDialogButtonBox(this);
  send_ = buttons->addButton("Send", QDialogButtonBox::AcceptRole);
  send_->setObjectName("bSend");
  send_->setDefault(true);
  buttons->addButton(QDialogButtonBox::Cancel)->setObjectName("bCancel");
  column->addWidget(listLabel);
  column->addWidget(list_, 1);
  column->addWidget(lineLabel);
  column->addWidget(line_);
  column->addWidget(buttons);
  resize(500, 300);  // a title, its OV server and what it costs fit on one line
  connect(buttons, &QDialogButtonBox::accepted, this, &SendToServersDialog::SendClick);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

int SendToServersDialog::ShowSendDialog(const std::vector<SendTarget>& targets) {
  targets_ = targets;
  list_->clear();
  for (const SendTarget& target : targets_) {
    auto* item = new QListWidgetItem(ItemText(target), list_);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    item->setCheckState(target.ticked ? Qt::Checked : Qt::Unchecked);
  }
  line_->setFocus();
  return exec();
}

QString SendToServersDialog::ItemText(const SendTarget& target) {
  const QString text = Shown(target.title) + " (" + Shown(target.ovServer) + ")";
  return target.figures.empty() ? text : text + "  " + Shown(target.figures);
}

void SendToServersDialog::ShowFigures(const std::vector<std::string>& figures) {
  for (size_t row = 0; row < figures.size() && row < targets_.size(); ++row) {
    targets_[row].figures = figures[row];
    if (QListWidgetItem* item = list_->item(int(row))) item->setText(ItemText(targets_[row]));
  }
}

void SendToServersDialog::SendClick() {
  // As in a console's input line: a character the protocol cannot carry is never sent as "?".
  if (!IsSendable(line_->text())) {
    emit notLatin1();
    return;
  }
  for (int row = 0; row < list_->count(); ++row)
    targets_[static_cast<size_t>(row)].ticked = list_->item(row)->checkState() == Qt::Checked;
  emit sendRequested(targets_, FromQt(line_->text()));
  line_->clear();
  accept();
}

}  // namespace ov
