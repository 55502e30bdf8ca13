#include "facade/mail_service.h"

#include <utility>

namespace quill {
namespace facade {

MailService::MailService(MessageLoop* loop, MailServiceOptions options)
    : core_(loop, std::move(options)),
      login_(&core_),
      sync_(&core_, &login_),
      fetch_(&core_, &sync_),
      connect_(&core_),
      attach_(&core_, &sync_),
      image_(&core_),
      long_mail_(&core_),
      stats_(&core_),
      update_(&core_) {
  sync_.set_first_success([this] { stats_.DoStatInfo(); });
  login_.set_update_query([this](int32_t reason) { update_.DoGetUpdateInfo(reason); });
}

MailService::~MailService() {
  // The jobs' last ends arrive here, while every unit still lives.
  core_.pool().Teardown();
}

bool MailService::OpenSavedAccount() {
  const uint64_t uin = core_.settings().Get(store::global_keys::kUinNum);
  if (uin == 0 || uin > UINT32_MAX) return false;
  core_.OpenAccount(static_cast<uint32_t>(uin));
  return core_.store() != nullptr && core_.store()->opened();
}

void MailService::ResetSession() {
  core_.EndSessionWork();
  login_.Cancel();
  core_.runner().CancelAll();
  engine::AccountState& account = core_.account();
  account.SetLoginAccount(std::u16string());
  account.SetLoginPassword(std::u16string());
  account.ClearSession();
  account.SetUin(0);
}

}  // namespace facade
}  // namespace quill
