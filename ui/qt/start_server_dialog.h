#pragma once
// The start-server dialog fStart: pick an OV server in use and one of its server types, enter a command
// line and an optional title, and send the start request.
#include <QDialog>

class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace ov {

class Client;

class TfStart : public QDialog {
  Q_OBJECT

 public:
  explicit TfStart(QWidget* parent = nullptr);
  void Attach(Client& client) { client_ = &client; }

  // Refills the host list and shows the dialog modally: 1 when a request was sent, -1 after an error
  // or Cancel, 2 when closed with the close box.
  int ShowStartDialog();

  QLabel* lHost;
  QLabel* lType;
  QLabel* lCmd;
  QLabel* lTitle;
  QComboBox* cbHosts;
  QComboBox* cbType;
  QPlainTextEdit* mCmd;
  QLineEdit* eTitle;
  QPushButton* bGo;
  QPushButton* bCancel;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void cbHostsChange();
  void bGoClick();
  void bCancelClick();

  Client* client_ = nullptr;
  bool refilling_ = false;
};

}  // namespace ov
