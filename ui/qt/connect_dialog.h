#pragma once
// The connect dialog ConnDlg: address, port and time-out count of an OV server. It has no behaviour of
// its own: the Connect command fills its defaults, shows it and reads it.
#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

namespace ov {

// The form TConnDlg.
class ConnectDialog : public QDialog {
  Q_OBJECT

 public:
  enum Result { OK = 1, Cancel = 2 };

  explicit ConnectDialog(QWidget* parent = nullptr);
  int ShowModal();  // OK or Cancel

  QLineEdit* edIP;
  QLineEdit* edPort;
  QLineEdit* edTimeOut;
  QPushButton* OKBtn;
  QPushButton* CancelBtn;

 private:
  QLabel* addressLabel_;  // Label1
  QLabel* portLabel_;     // Label2
  QLabel* timeoutLabel_;  // Label3
};

}  // namespace ov
