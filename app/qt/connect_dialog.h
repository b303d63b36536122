#pragma once
// The connect dialog: address, port and time-out count of an OV server. It has no behaviour of
// its own: the Connect command fills its defaults, shows it and reads it.
#include <QDialog>
#include <vector>

#include "core/endpoint.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace ov {

class ConnectDialog : public QDialog {
  Q_OBJECT

 public:
  enum Result { OK = 1, Cancel = 2 };

  explicit ConnectDialog(QWidget* parent = nullptr);
  int ShowModal();  // OK or Cancel
  // The servers connected to last, newest first, offered in the address's list; the fields keep their text.
  void SetRecent(const std::vector<Endpoint>& entries);
  // The three fields as the user left them.
  struct Fields {
    QString address, port, count;
  };
  Fields Entered() const;
  void SetPortAndCount(const QString& port, const QString& count);

 private:
  QComboBox* addressList_;   // the address field with its list of recent servers
  QLineEdit* addressField_;  // addressList_'s editing line
  QLineEdit* portField_;
  QLineEdit* countField_;
  QPushButton* connectButton_;
  QPushButton* cancelButton_;

  void ChooseRecent(int index);  // fills the three fields from a recent server
  std::vector<Endpoint> recent_;
  QLabel* addressLabel_;
  QLabel* portLabel_;
  QLabel* timeoutLabel_;
};

}  // namespace ov
