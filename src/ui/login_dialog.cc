#include "ui/login_dialog.h"

#include <QFormLayout>
#include <QMessageBox>
#include <QRegularExpression>
#include <QVBoxLayout>

#include "commands/auth_job.h"
#include "commands/auth_message.h"
#include "ui/handheld_screen.h"
#include "ui/texts.h"

namespace quill {
namespace ui {
namespace {

// Dialog results as the handheld's dialogs number them; scripts use them
// as the screen's two commands.
constexpr uint32_t kIdOk = 1;
constexpr uint32_t kIdCancel = 2;

QString Qs(const std::u16string& s) {
  return QString::fromUtf16(s.data(), static_cast<qsizetype>(s.size()));
}
std::u16string Us(const QString& s) {
  return std::u16string(reinterpret_cast<const char16_t*>(s.utf16()),
                        static_cast<size_t>(s.size()));
}

}  // namespace

bool IsValidAccount(const QString& account) {
  static const QRegularExpression shape(QStringLiteral(
      "^[A-Za-z0-9_+\\-]+(\\.[A-Za-z0-9_+\\-]+)*"
      "(@[A-Za-z0-9\\-]+(\\.[A-Za-z0-9\\-]+)+)?$"));
  return !account.isEmpty() && shape.match(account).hasMatch() &&
         CompleteAccount(account, true).toUtf8().size() <=
             static_cast<qsizetype>(commands::kMaxAuthAccountBytes);
}

QString CompleteAccount(const QString& account, bool premium) {
  if (account.contains(QLatin1Char('@'))) return account;
  return account + "@" + (premium ? kPremiumMailDomain : kServiceMailDomain);
}

LoginDialog::LoginDialog(facade::MailService* service, std::vector<std::u16string> destinations,
                         const Fields& prefill, QWidget* parent)
    : QDialog(parent), service_(service), saved_digest_(prefill.password_digest) {
  setWindowTitle(T(text::kLoginTitle));
  resize(parent != nullptr && parent->isVisible() ? parent->size() : HandheldSize());
  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(4, 4, 4, 0);
  auto* title = new QLabel(T(text::kLoginTitle), this);
  QFont bold = title->font();
  bold.setBold(true);
  title->setFont(bold);
  outer->addWidget(title);
  auto* form = new QFormLayout;
  account_ = new QLineEdit(Qs(prefill.account), this);
  account_->setObjectName("account");  // control 1011
  password_ = new QLineEdit(Qs(prefill.password_digest), this);
  password_->setObjectName("password");  // control 1001
  password_->setEchoMode(QLineEdit::Password);
  type_ = new QComboBox(this);
  type_->addItems({T(text::kOrdinaryAccount), T(text::kPremiumAccount)});
  network_ = new QComboBox(this);
  for (const std::u16string& d : destinations) network_->addItem(Qs(d));
  if (prefill.network >= 0 && prefill.network < network_->count()) {
    network_->setCurrentIndex(prefill.network);
  }
  auto_login_ = new QCheckBox(T(text::kAutoLogin), this);
  auto_login_->setObjectName("auto_login");  // control 1050
  auto_login_->setChecked(prefill.auto_login);
  form->addRow(T(text::kAccountLabel), account_);
  form->addRow(T(text::kPasswordLabel), password_);
  form->addRow(T(text::kTypeLabel), type_);
  form->addRow(T(text::kNetworkLabel), network_);
  outer->addLayout(form);
  outer->addWidget(auto_login_);
  status_ = new QLabel(this);
  outer->addWidget(status_);
  outer->addStretch(1);
  keys_ = new SoftKeyBar(this);
  keys_->left()->setText(T(text::kCancel));
  keys_->right()->setText(T(text::kLogin));
  outer->addWidget(keys_);
  QObject::connect(keys_->left(), &QPushButton::clicked, this, [this] { reject(); });
  QObject::connect(keys_->right(), &QPushButton::clicked, this, [this] { Submit(); });
  QObject::connect(password_, &QLineEdit::textEdited, this, [this] { password_edited_ = true; });
  QObject::connect(account_, &QLineEdit::returnPressed, this, [this] { password_->setFocus(); });
  QObject::connect(password_, &QLineEdit::returnPressed, this, [this] { Submit(); });
  auth_sub_ = service_->SubscribeAuthDone(
      [this](const commands::AuthOutcome& outcome) { OnAuthDone(outcome); });
  account_->setFocus();
}

LoginDialog::~LoginDialog() { service_->UnsubscribeAuthDone(auth_sub_); }

void LoginDialog::Warn(const QString& message, QLineEdit* field) {
  QMessageBox box(QMessageBox::NoIcon, QString(), message, QMessageBox::Ok, this);
  box.exec();
  if (field != nullptr) {
    field->setFocus();
    field->selectAll();
  }
}

void LoginDialog::Submit() {
  if (waiting_) return;
  const QString account = account_->text().trimmed();
  if (!IsValidAccount(account)) {
    Warn(T(text::kBadAccount), account_);
    return;
  }
  if (password_->text().isEmpty()) {
    Warn(T(text::kEmptyPassword), password_);
    return;
  }
  const QString full = CompleteAccount(account, type_->currentIndex() == 1);
  const std::u16string digest = !password_edited_ && !saved_digest_.empty()
                                    ? saved_digest_
                                    : commands::PasswordDigest(password_->text().toStdString());
  if (!service_->DoAuth(network_->currentIndex(), /*user_initiated=*/true, Us(full), digest,
                        auto_login_->isChecked())) {
    return;
  }
  account_->setText(full);
  SetWaiting(true);
}

void LoginDialog::SetWaiting(bool waiting) {
  waiting_ = waiting;
  for (QWidget* w : std::initializer_list<QWidget*>{account_, password_, type_, network_,
                                                    auto_login_, keys_->right()}) {
    w->setEnabled(!waiting);
  }
  status_->setText(waiting ? T(text::kLoggingIn) : QString());
}

void LoginDialog::OnAuthDone(const commands::AuthOutcome& outcome) {
  if (!waiting_) return;  // not this screen's login
  SetWaiting(false);
  if (outcome.ok) {
    accept();
    return;
  }
  const QString message = Qs(commands::AuthFailureText(outcome.code));
  if (outcome.code == commands::kAuthMustUpgrade) {
    // The update download belongs to the update screen; without one the
    // question can only be declined.
    QMessageBox box(QMessageBox::Question, T(text::kUpgradeCaption), message,
                    QMessageBox::Yes | QMessageBox::No, this);
    box.exec();
  } else if (commands::IsNetworkFailure(outcome.code)) {
    QMessageBox box(QMessageBox::Question, T(text::kProduct), message,
                    QMessageBox::Yes | QMessageBox::No, this);
    if (box.exec() == QMessageBox::Yes && open_network_check) open_network_check(this);
  } else {
    if (outcome.code == -3) password_->clear();
    QMessageBox box(QMessageBox::NoIcon, QString(), message, QMessageBox::Ok, this);
    box.exec();
  }
  password_->setFocus();
}

void LoginDialog::DumpText(QStringList* lines) {
  lines->append("title: " + windowTitle());
  lines->append("keys: " + keys_->Text());
  lines->append(T(text::kAccountLabel) + account_->text());
  lines->append(T(text::kPasswordLabel) + QString(password_->text().size(), QChar(u'*')));
  lines->append(T(text::kTypeLabel) + type_->currentText());
  lines->append(T(text::kNetworkLabel) + network_->currentText());
  lines->append((auto_login_->isChecked() ? "[x] " : "[ ] ") + auto_login_->text());
  if (!status_->text().isEmpty()) lines->append("status: " + status_->text());
}

bool LoginDialog::RunCommand(uint32_t command, QString* why) {
  if (command == kIdOk) {
    if (waiting_) {
      *why = QStringLiteral("a login is running");
      return false;
    }
    Submit();
    return true;
  }
  if (command == kIdCancel) {
    reject();
    return true;
  }
  *why = QStringLiteral("the login screen has commands 1 (登录) and 2 (取消) only");
  return false;
}

}  // namespace ui
}  // namespace quill
