#pragma once
// The login dialog: one instance, non-modal, shown only by the account prompts.
#include <QDialog>
#include <QLineEdit>

#include "protocol/account_prompt.h"
#include "protocol/saved_logins.h"

class QCheckBox;
class QHBoxLayout;
class QLabel;
class QPushButton;

namespace ov {

// A field of the dialog. While it hides its characters, what assistive technology is told of it holds
// none of them: it has no text to read, and its changes are not announced character by character.
class PasswordField : public QLineEdit {
  Q_OBJECT

 public:
  explicit PasswordField(QWidget* parent) : QLineEdit(parent) {}
};

class LoginDialog : public QDialog, public LoginDialogView, public RememberView {
  Q_OBJECT

 public:
  explicit LoginDialog(QWidget* parent = nullptr);

  void ShowStep(const LoginStep& step) override;
  void HideDialog() override;
  std::string Field1() const override;
  std::string Field2() const override;
  // The Remember row, shown under a login step.
  void SetRememberBox(bool enabled, bool checked, const std::string& tip) override;
  void SetForgetEnabled(bool enabled) override;
  void FillFields(const std::string& login, const std::string& password) override;

 signals:
  // The user's answer to the step shown; the root hands each to the account prompts.
  void answered();   // OK
  void cancelled();  // Cancel or Escape
  void dismissed();  // the close box
  // For the passwords kept in the keyring: the step shown, the login name typed, Forget, and OK on a
  // login step (before answered).
  void stepShown(const std::string& server, bool offersRemember);
  void loginEdited(const std::string& login);
  void forgetRequested();
  void loginAnswered(const std::string& server, const std::string& login, const std::string& password,
                     bool remember);

 public slots:
  void reject() override;  // Escape: the Cancel button

 protected:
  void closeEvent(QCloseEvent* event) override;  // the close box

 private:
  QLabel* label1_;
  QLineEdit* field1_;
  QLabel* label2_;
  QLineEdit* field2_;
  QPushButton* okButton_;
  QPushButton* cancelButton_;
  QLabel* serverLabel_;  // the OV server that asks, which it cannot choose

  void Answer();
  void Cancel();
  void CentreOnScreen();
  void LayOut();
  void SetWidth(int width);  // the designed width, or wider for a long caption

  QHBoxLayout* rememberRow_;  // Remember password and Forget, under a login step
  QCheckBox* cbRemember_;
  QPushButton* bForget_;
  std::string shownServer_;
  bool offersRemember_ = false;
};

}  // namespace ov
