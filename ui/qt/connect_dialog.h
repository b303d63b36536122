#pragma once
// The connect dialog ConnDlg: address, port and time-out count of an OV server. It has no behaviour of
// its own: the Connect command fills its defaults, shows it and reads it.
#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

namespace ov {

class TConnDlg : public QDialog {
  Q_OBJECT

 public:
  enum Result { OK = 1, Cancel = 2 };

  explicit TConnDlg(QWidget* parent = nullptr);
  int ShowModal();  // OK or Cancel

  QLabel* Label1;
  QLabel* Label2;
  QLabel* Label3;
  QLineEdit* edIP;
  QLineEdit* edPort;
  QLineEdit* edTimeOut;
  QPushButton* OKBtn;
  QPushButton* CancelBtn;
};

}  // namespace ov
