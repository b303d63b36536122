#pragma once
// Server > Send to Servers: a line and the Quake servers to send it to, ticked in a list.
#include <QDialog>
#include <string>
#include <vector>

#include "app/send_to_servers.h"

class QLineEdit;
class QListWidget;
class QPushButton;

namespace ov {

class SendToServersDialog : public QDialog {
  Q_OBJECT

 public:
  explicit SendToServersDialog(QWidget* parent = nullptr);

  // Lists the targets, ticked as given, and shows the dialog modally: 1 when the line went out.
  int ShowSendDialog(const std::vector<SendTarget>& targets);
  // What each listed server costs, in the list's order, as it is heard while the dialog is up.
  void ShowFigures(const std::vector<std::string>& figures);
  const std::vector<SendTarget>& Targets() const { return targets_; }

 signals:
  // Send with a Latin-1 line: the root sends it to the ticked targets.
  void sendRequested(const std::vector<ov::SendTarget>& targets, const std::string& line);
  void notLatin1();  // Send refused: the line holds a character beyond Latin-1

 private:
  void SendClick();
  static QString ItemText(const SendTarget& target);

  QListWidget* list_;
  QLineEdit* line_;
  QPushButton* send_;
  std::vector<SendTarget> targets_;
};

}  // namespace ov
