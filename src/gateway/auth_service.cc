#include "gateway/auth_service.h"

#include <algorithm>

#include "protocol/codec_status.h"
#include "protocol/message_type.h"

namespace quill {
namespace gateway {
namespace {

using protocol::CodecOk;

constexpr int32_t kGranted = 0;
constexpr int32_t kBadParameter = -2;
constexpr int32_t kWrongPassword = -3;
constexpr int32_t kNoSuchAccount = -4;
constexpr int32_t kNoMailbox = -5;
constexpr int32_t kMustUpgrade = -8;

constexpr size_t kMaxAccountBytes = 128;
constexpr size_t kMaxPasswordBytes = 512;
constexpr size_t kMaxPlatformBytes = 128;
constexpr size_t kDeviceIdBytes = 16;

bool GetText(const protocol::TagCodec& body, uint32_t tag, size_t limit, std::string* out) {
  ByteView v;
  if (body.GetView(tag, &v) != CodecOk || v.size > limit) return false;
  *out = v.ToString();
  return true;
}

}  // namespace

AuthService::AuthService(const AccountBook* book, SessionTable* sessions, FileSystem* fs,
                         AuthPolicy policy)
    : book_(book), sessions_(sessions), fs_(fs), policy_(std::move(policy)) {}

AuthAnswer AuthService::Decide(const protocol::WireMessage& request,
                               std::optional<int32_t> forced_result) {
  AuthAnswer answer;
  const protocol::TagCodec& body = request.Body();
  answer.has_password = GetText(body, 2, kMaxPasswordBytes, &answer.password);
  if (!answer.has_password) return answer;

  std::string account_name, platform;
  uint32_t version = 0;
  ByteView device_id;
  const bool well_formed =
      request.GetType() == static_cast<uint16_t>(protocol::MessageType::Auth) &&
      GetText(body, 1, kMaxAccountBytes, &account_name) && body.GetUInt(3, &version) == CodecOk &&
      GetText(body, 4, kMaxPlatformBytes, &platform) &&
      body.GetView(5, &device_id) == CodecOk && device_id.size == kDeviceIdBytes;
  const GatewayAccount* account = well_formed ? book_->Find(account_name) : nullptr;

  if (!well_formed) {
    answer.result = kBadParameter;
  } else if (account == nullptr) {
    answer.result = kNoSuchAccount;
  } else if (!EqualsIgnoringAsciiCase(answer.password, account->password_digest)) {
    answer.result = kWrongPassword;
  } else if (!fs_->Exists(policy_.mailbox_root + "/" + account->name + "/Maildir/cur")) {
    answer.result = kNoMailbox;
  } else if (version < policy_.min_client_version) {
    answer.result = kMustUpgrade;
  } else {
    answer.result = kGranted;
  }
  if (forced_result.has_value() &&
      (account != nullptr || (*forced_result != kGranted && *forced_result != kMustUpgrade))) {
    answer.result = *forced_result;
  }
  if (answer.result == kGranted || answer.result == kMustUpgrade) {
    GatewaySession session;
    if (!sessions_->Grant(account->name, account->uin, &session)) {
      answer.result = -6;  // the service cannot grant a session now
      return answer;
    }
    answer.session = session;
  }
  return answer;
}

bool AuthService::Encode(const AuthAnswer& answer, protocol::WireMessage* response) const {
  response->SetType(protocol::MessageType::Auth);
  response->SetFlag(0);
  protocol::TagCodec& body = response->Body();
  if (body.PutInt(1, answer.result) != CodecOk) return false;
  if (!answer.session.has_value()) return true;
  const GatewaySession& s = *answer.session;
  response->SetUin(s.uin);
  if (body.PutUInt(6, s.uin) != CodecOk || body.PutBytes(2, ByteView(s.session_key)) != CodecOk) {
    return false;
  }
  UpdateRelease release;
  const bool published = policy_.updates != nullptr && policy_.updates->Current(&release);
  if (answer.result == kMustUpgrade) {
    return body.PutBytes(5, ByteView(published ? release.package : policy_.update_id)) == CodecOk;
  }
  const int32_t newest = published ? std::max(release.version, policy_.newest_client_version)
                                   : policy_.newest_client_version;
  const GatewayAccount* account = book_->Find(s.account);
  return account != nullptr && body.PutBytes(3, ByteView(account->nickname)) == CodecOk &&
         body.PutBytes(4, ByteView(account->address)) == CodecOk &&
         body.PutInt(7, newest) == CodecOk;
}

}  // namespace gateway
}  // namespace quill
