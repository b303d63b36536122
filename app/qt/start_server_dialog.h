#pragma once
// The start-server dialog: pick an OV server in use and one of its server types, enter a command
// line and an optional title, and send the start request.
#include <QDialog>
#include <string>
#include <vector>

class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace ov {

class StartServerDialog : public QDialog {
  Q_OBJECT

 public:
  explicit StartServerDialog(QWidget* parent = nullptr);

  // Refills the host list and shows the dialog modally: 1 when a request was sent, -1 after an error
  // or Cancel, 2 when closed with the close box.
  int ShowStartDialog();
  // The root's answers to the dialog's requests below.
  // preselected: the line the list opens on, -1 for none.
  void SetHosts(const std::vector<std::string>& names, int preselected = -1);
  void SetTypes(const std::vector<std::string>& types);

 signals:
  void hostsRequested();              // the host list is about to be shown: SetHosts
  void typesRequested(int hostLine);  // a host was picked: SetTypes with its types
  // Go with Latin-1 fields: the root sends the request and ends the dialog with its result.
  void goRequested(int hostLine, int typeLine, const std::string& typeText, const std::string& title,
                   const std::string& commandLine);
  void notLatin1();  // Go refused: a field holds a character beyond Latin-1

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  QLabel* hostLabel_;
  QLabel* typeLabel_;
  QLabel* commandLabel_;
  QLabel* titleLabel_;
  QComboBox* hosts_;
  QComboBox* types_;
  QPlainTextEdit* commandLine_;
  QLineEdit* title_;
  QPushButton* startButton_;
  QPushButton* cancelButton_;

  void HostChosen();
  void Go();
  void Cancel();

  bool refilling_ = false;
  int preselected_ = -1;
};

}  // namespace ov
