#pragma once
// The login dialog (PWDlg): one instance, non-modal, shown only by the account prompts.
#include <QDialog>

#include "protocol/account_prompt.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace ov {

class Client;

class TPWDlg : public QDialog, public LoginDialogView {
  Q_OBJECT

 public:
  explicit TPWDlg(QWidget* parent = nullptr);

  // The dialog exists before the client it serves; from here on its answers reach client.prompts.
  void Attach(Client& client);

  void ShowStep(const LoginStep& step) override;
  void HideDialog() override;
  std::string Field1() const override;
  std::string Field2() const override;

  QLabel* lPW1;
  QLineEdit* edPW1;
  QLabel* lPW2;
  QLineEdit* edPW2;
  QPushButton* OKBtn;
  QPushButton* CancelBtn;

 public slots:
  void reject() override;  // Escape: the Cancel button

 protected:
  void closeEvent(QCloseEvent* event) override;  // the close box: FormClose

 private:
  void OKBtnClick();
  void CancelBtnClick();
  void CentreOnScreen();

  Client* client_ = nullptr;
};

}  // namespace ov
