// The login screen (dialog 201, "登录您的邮箱"): account, password, account
// type, network (the connection manager's destinations) and "自动登录". Its
// left soft key "取消" closes it unconfirmed; "登录" checks the fields,
// completes the account with the type's mail domain, turns the password
// into its digest (the saved digest when the field was not edited), and
// signs in through the facade. exec() returns Accepted once AuthDone
// reports success; every failure shows its text and returns to input.
//
// Threading: UI thread only; the service must outlive the dialog.
#ifndef QUILL_UI_LOGIN_DIALOG_H_
#define QUILL_UI_LOGIN_DIALOG_H_

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <functional>
#include <string>
#include <vector>

#include "commands/login_host.h"
#include "facade/mail_service.h"
#include "ui/screen.h"
#include "ui/soft_key_bar.h"

namespace quill {
namespace ui {

// The mail domains an account without one is completed with.
inline constexpr char kServiceMailDomain[] = "example.com";
inline constexpr char kPremiumMailDomain[] = "vip.example.com";

// A mail account: a local part of letters, digits and ".", "_", "-", "+"
// (not starting or ending with "."), optionally "@" and a domain of at
// least two dot-separated labels of letters, digits and "-"; at most 128
// bytes once completed.
bool IsValidAccount(const QString& account);
// The account with the type's domain appended when it has none.
QString CompleteAccount(const QString& account, bool premium);

class LoginDialog : public QDialog, public Screen {
 public:
  struct Fields {
    std::u16string account;          // pre-filled account text
    std::u16string password_digest;  // saved digest ("PWD"), may be empty
    int network = -1;                // destination index ("NET")
    bool auto_login = true;          // the check box
  };

  LoginDialog(facade::MailService* service, std::vector<std::u16string> destinations,
              const Fields& prefill, QWidget* parent);
  ~LoginDialog() override;

  // Shown for "是" after a network failure; unset: nothing happens.
  std::function<void(QWidget* parent)> open_network_check;

  // True from a started login until its AuthDone.
  bool waiting() const { return waiting_; }
  QLineEdit* account_field() { return account_; }
  QLineEdit* password_field() { return password_; }
  QComboBox* type_list() { return type_; }
  QComboBox* network_list() { return network_; }
  QCheckBox* auto_login_box() { return auto_login_; }
  // "登录": the checks, then the facade's login.
  void Submit();

  void DumpText(QStringList* lines) override;
  bool Busy() const override { return waiting_; }
  bool RunCommand(uint32_t command, QString* why) override;

 private:
  void OnAuthDone(const commands::AuthOutcome& outcome);
  void SetWaiting(bool waiting);
  void Warn(const QString& text, QLineEdit* field);

  facade::MailService* const service_;
  const std::u16string saved_digest_;
  QLineEdit* account_;
  QLineEdit* password_;
  QComboBox* type_;
  QComboBox* network_;
  QCheckBox* auto_login_;
  QLabel* status_;
  SoftKeyBar* keys_;
  bool password_edited_ = false;  // the field no longer holds the saved digest
  bool waiting_ = false;
  int auth_sub_ = 0;              // AuthDone subscription
};

}  // namespace ui
}  // namespace quill

#endif  // QUILL_UI_LOGIN_DIALOG_H_
