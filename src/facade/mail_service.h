// The mail service facade: the one object the screens and the command-line
// client talk to. It owns the login state, starts the network jobs through
// the worker pool, keeps at most one job of each exclusive kind, and turns
// their results into events.
//
// Each family of operations lives in a unit of its own (login, sync, mail
// fetches, dial-up; see operation.h) over the shared FacadeCore; this class
// only wires them together and keeps the surface callers use. A new
// operation is one unit (with a JobSlot when it is exclusive) and its
// Do*/Subscribe* members here.
//
// Threading: every member is called on the UI thread (the loop's thread),
// and every event handler runs there. Handlers are invoked without any lock
// held and may subscribe, unsubscribe or start another operation.
#ifndef QUILL_FACADE_MAIL_SERVICE_H_
#define QUILL_FACADE_MAIL_SERVICE_H_

#include <cstdint>
#include <functional>
#include <string>

#include "commands/login_host.h"
#include "facade/attachment_operation.h"
#include "facade/connect_operation.h"
#include "facade/facade_core.h"
#include "facade/login_operation.h"
#include "facade/long_mail_operation.h"
#include "facade/mail_fetch_operation.h"
#include "facade/mail_image_operation.h"
#include "facade/stat_info_operation.h"
#include "facade/sync_operation.h"
#include "facade/update_operation.h"
#include "platform/message_loop.h"

namespace quill {
namespace facade {

class MailService {
 public:
  static constexpr uint32_t kMaxAutoLoginFailures = LoginOperation::kMaxAutoLoginFailures;

  using AuthDoneHandler = std::function<void(const commands::AuthOutcome&)>;
  using SyncDoneHandler = std::function<void(const SyncOutcome&)>;
  using FetchDoneHandler = std::function<void(const FetchOutcome&)>;
  using CountHandler = std::function<void(int count)>;
  using SignalHandler = std::function<void()>;
  using AttachDoneHandler = std::function<void(const AttachOutcome&)>;
  using MailImgDoneHandler = std::function<void(const MailImageOutcome&)>;

  // loop must outlive the service; the calling thread is its UI thread.
  MailService(MessageLoop* loop, MailServiceOptions options);
  ~MailService();
  MailService(const MailService&) = delete;
  MailService& operator=(const MailService&) = delete;

  // Starts a login. A user's login cancels a running one; an automatic
  // login joins a running one (true) and is refused (false) once automatic
  // logins are off: after a -8, or kMaxAutoLoginFailures failures in a row.
  // An empty account or password means the stored one. A started login
  // ends with exactly one AuthDone.
  bool DoAuth(int access_point, bool user_initiated, std::u16string account,
              std::u16string password, bool auto_login) {
    return login_.DoAuth(access_point, user_initiated, std::move(account), std::move(password),
                         auto_login);
  }

  // Starts a sync of the signed-in account (reason: commands::SyncReason);
  // false when none was started (no store, a login or another sync running,
  // no login possible). Without a session the sync waits for a silent
  // login. A started sync ends with exactly one SyncDone, after its last
  // page.
  bool DoSync(int32_t reason) { return sync_.DoSync(reason); }

  // Fetch the head and the beginning of a mail's body, or the rest of its
  // body from `offset` (UTF-16 units held) for the body version held. A new
  // request of a kind cancels the running one; without a session it waits
  // for a silent login. False when the mail is unknown or nothing was
  // started or queued; a started fetch ends with one BriefDone / BodyDone.
  bool DoGetMailBrief(uint32_t mail_id) { return fetch_.DoGetMailBrief(mail_id); }
  bool DoGetMailBody(uint32_t mail_id, int32_t offset, int32_t version) {
    return fetch_.DoGetMailBody(mail_id, offset, version);
  }

  // An attachment of a mail the service holds (see attachment_operation.h):
  // downloaded into target_path (.temp and .version beside it while it
  // runs; one download at a time, progress and end by AttachDownloadDone),
  // its picture preview scaled to width x height (AttachPicDone), or a slice
  // of its text in UTF-16 units (AttachTextDone). False when refused or
  // nothing was started or queued.
  bool DoDownloadMailAttach(uint32_t server_id, std::u16string name, uint32_t number,
                            std::string target_path) {
    return attach_.DoDownloadMailAttach(server_id, std::move(name), number, std::move(target_path));
  }
  bool CancelDownloadMailAttach() { return attach_.CancelDownload(); }
  bool DoGetMailAttachPic(uint32_t server_id, std::u16string name, uint32_t number, int32_t width,
                          int32_t height) {
    return attach_.DoGetMailAttachPic(server_id, std::move(name), number, width, height);
  }
  bool DoGetMailAttachText(uint32_t server_id, std::u16string name, uint32_t number,
                           int32_t offset, int32_t length) {
    return attach_.DoGetMailAttachText(server_id, std::move(name), number, offset, length);
  }
  // An image the body of mail_id refers to, cached in the mail's directory
  // (MailImgDone); one image job at a time, the others wait in order.
  bool DoMailGetImg(uint32_t mail_id, std::u16string url, uint32_t width, uint32_t height) {
    return image_.DoMailGetImg(mail_id, std::move(url), width, height);
  }

  // Delivers the local mail mail_id (saved first, with its per-mail files)
  // through the service; compose_mode is the compose screen's 1..3. False
  // when the mail is unknown, not local, already being delivered, or nothing
  // was started or queued; a started delivery reports LongMailProgress
  // before every request and ends with one LongMailDone. Delivered, the
  // mail becomes the service's mail in folder 3.
  bool DoDelvLongMail(uint32_t mail_id, int32_t compose_mode) {
    return long_mail_.DoDelvLongMail(mail_id, compose_mode);
  }

  // Brings up the connection of a destination on a worker; false when the
  // job could not be queued. A started dial ends with one ConnectDone.
  bool DoConnect(int destination) { return connect_.DoConnect(destination); }

  // Uploads the usage statistics held now (the service does so once per
  // run, after the first sync that succeeded). False when none was started:
  // no open account, an upload in flight, no login possible. A started
  // upload ends with one StatInfoDone.
  bool DoStatInfo() { return stats_.DoStatInfo(); }

  // Asks whether a newer client is offered (reason: commands::
  // UpdateQueryReason). Needs a session; false when none was started. A
  // started query ends with one UpdateInfoDone, which says whether it
  // failed.
  bool DoGetUpdateInfo(int32_t reason) { return update_.DoGetUpdateInfo(reason); }
  // Fetches the offered package into dir/<package>.cab, resuming what is
  // held when expected_size (the size offered) is known; replaces a running
  // download. False for a package name that is not 32 hexadecimal digits,
  // no dir, without a session, or when nothing was started. Every piece and the
  // end raise UpdatePackDone; the end's path is the checked package.
  bool DoGetUpdatePack(const std::string& package, uint64_t expected_size, int32_t pass_through,
                       const std::string& dir) {
    return update_.DoGetUpdatePack(package, expected_size, pass_through, dir);
  }
  // Ends the running download now (UpdatePackDone, not ok); the bytes held
  // stay for the next DoGetUpdatePack of the same package.
  void CancelUpdatePack() { update_.CancelUpdatePack(); }

  // Opens the store of the account saved by the last login, for work
  // without the service. False when there is none.
  bool OpenSavedAccount();

  // Events. The id is for Unsubscribe; ids are never reused.
  int SubscribeAuthDone(AuthDoneHandler h) { return login_.done().Subscribe(std::move(h)); }
  void UnsubscribeAuthDone(int id) { login_.done().Unsubscribe(id); }
  int SubscribeSyncDone(SyncDoneHandler h) { return sync_.done().Subscribe(std::move(h)); }
  void UnsubscribeSyncDone(int id) { sync_.done().Unsubscribe(id); }
  // Once per sync that added unread mails, with their number.
  int SubscribeNewMailArrived(CountHandler h) { return sync_.new_mail_arrived().Subscribe(std::move(h)); }
  void UnsubscribeNewMailArrived(int id) { sync_.new_mail_arrived().Unsubscribe(id); }
  // At the first unread mail a sync adds.
  int SubscribeNewMailFound(SignalHandler h) { return sync_.new_mail_found().Subscribe(std::move(h)); }
  void UnsubscribeNewMailFound(int id) { sync_.new_mail_found().Unsubscribe(id); }
  // Each further page a running sync asks for, with the pages received.
  int SubscribeSyncPage(CountHandler h) { return sync_.page_asked().Subscribe(std::move(h)); }
  void UnsubscribeSyncPage(int id) { sync_.page_asked().Unsubscribe(id); }
  int SubscribeBriefDone(FetchDoneHandler h) { return fetch_.brief_done().Subscribe(std::move(h)); }
  void UnsubscribeBriefDone(int id) { fetch_.brief_done().Unsubscribe(id); }
  int SubscribeBodyDone(FetchDoneHandler h) { return fetch_.body_done().Subscribe(std::move(h)); }
  void UnsubscribeBodyDone(int id) { fetch_.body_done().Unsubscribe(id); }
  int SubscribeAttachDownloadDone(AttachDoneHandler h) { return attach_.download_done().Subscribe(std::move(h)); }
  void UnsubscribeAttachDownloadDone(int id) { attach_.download_done().Unsubscribe(id); }
  int SubscribeAttachPicDone(AttachDoneHandler h) { return attach_.picture_done().Subscribe(std::move(h)); }
  void UnsubscribeAttachPicDone(int id) { attach_.picture_done().Unsubscribe(id); }
  int SubscribeAttachTextDone(AttachDoneHandler h) { return attach_.text_done().Subscribe(std::move(h)); }
  void UnsubscribeAttachTextDone(int id) { attach_.text_done().Unsubscribe(id); }
  int SubscribeMailImgDone(MailImgDoneHandler h) { return image_.done().Subscribe(std::move(h)); }
  void UnsubscribeMailImgDone(int id) { image_.done().Unsubscribe(id); }
  // The network type a DoConnect reached (kNetNone: none).
  int SubscribeConnectDone(std::function<void(engine::NetworkType)> h) {
    return connect_.done().Subscribe(std::move(h));
  }
  void UnsubscribeConnectDone(int id) { connect_.done().Unsubscribe(id); }
  int SubscribeLongMailProgress(std::function<void(const commands::LongMailProgress&)> h) {
    return long_mail_.progress().Subscribe(std::move(h));
  }
  void UnsubscribeLongMailProgress(int id) { long_mail_.progress().Unsubscribe(id); }
  // The outcome, and the MailID it was for.
  int SubscribeLongMailDone(std::function<void(const commands::LongMailOutcome&, uint32_t)> h) {
    return long_mail_.done().Subscribe(std::move(h));
  }
  void UnsubscribeLongMailDone(int id) { long_mail_.done().Unsubscribe(id); }
  int SubscribeStatInfoDone(std::function<void(const StatInfoOutcome&)> h) {
    return stats_.done().Subscribe(std::move(h));
  }
  void UnsubscribeStatInfoDone(int id) { stats_.done().Unsubscribe(id); }
  int SubscribeUpdateInfoDone(std::function<void(const UpdateInfoOutcome&)> h) {
    return update_.info_done().Subscribe(std::move(h));
  }
  void UnsubscribeUpdateInfoDone(int id) { update_.info_done().Unsubscribe(id); }
  int SubscribeUpdatePackDone(std::function<void(const UpdatePackOutcome&)> h) {
    return update_.pack_done().Subscribe(std::move(h));
  }
  void UnsubscribeUpdatePackDone(int id) { update_.pack_done().Unsubscribe(id); }
  // After every start of a job (and of each further page of a sync).
  int SubscribeJobStarted(SignalHandler h) { return core_.job_started().Subscribe(std::move(h)); }
  void UnsubscribeJobStarted(int id) { core_.job_started().Unsubscribe(id); }
  // Once at the end of every started job, whatever its outcome.
  int SubscribeJobEnded(SignalHandler h) { return core_.job_ended().Subscribe(std::move(h)); }
  void UnsubscribeJobEnded(int id) { core_.job_ended().Unsubscribe(id); }

  // Forgets the session: waiting jobs are abandoned, running ones
  // cancelled and their late results ignored (a running sync or fetch ends
  // at once as abandoned), and the account texts, session and number are
  // cleared.
  void ResetSession();

  // The account block's setters (also used by the login job).
  void SetLoginAccount(std::u16string account) { login_.SetLoginAccount(std::move(account)); }
  void SetLoginPassword(std::u16string password) { login_.SetLoginPassword(std::move(password)); }
  void SetSession(std::string session_key) { login_.SetSession(std::move(session_key)); }
  void SetLoginUin(uint32_t uin) { login_.SetLoginUin(uin); }

  // From the start of a login until its AuthDone.
  bool LoginRunning() const { return login_.running(); }
  // Any job queued, running or held for a login (a script's wait step
  // waits for none).
  bool JobsRunning() { return login_.running() || !core_.runner().idle(); }
  bool HasSession() const { return core_.HasSession(); }
  engine::AccountState& account() { return core_.account(); }
  store::GlobalSettings& settings() { return core_.settings(); }
  engine::ConnectionManager& connections() { return core_.connections(); }
  const engine::GatewayConfig& gateway() const { return core_.options().gateway; }
  // The account directory of the signed-in account ("" before a login).
  const std::string& account_dir() const { return core_.account_dir(); }
  // The open account's store; null before a login or OpenSavedAccount.
  store::AccountStore* store() { return core_.store(); }

 private:
  FacadeCore core_;             // first: the units use it until they die
  LoginOperation login_;
  SyncOperation sync_;
  MailFetchOperation fetch_;
  ConnectOperation connect_;
  AttachmentOperation attach_;
  MailImageOperation image_;
  LongMailOperation long_mail_;
  StatInfoOperation stats_;
  UpdateOperation update_;
};

}  // namespace facade
}  // namespace quill

#endif  // QUILL_FACADE_MAIL_SERVICE_H_
