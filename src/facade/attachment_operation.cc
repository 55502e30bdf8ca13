#include "facade/attachment_operation.h"

#include <utility>
#include <vector>

#include "engine/trace.h"
#include "facade/facade_core.h"
#include "facade/sync_operation.h"
#include "protocol/message_heads.h"

namespace quill {
namespace facade {

AttachmentOperation::AttachmentOperation(FacadeCore* core, SyncOperation* sync)
    : Operation(core), sync_(sync) {}

AttachmentOperation::Request* AttachmentOperation::Find(uint32_t number) {
  auto it = requests_.find(number);
  return it == requests_.end() ? nullptr : it->second.get();
}

std::string AttachmentOperation::AttachmentFile(uint32_t server_id, const std::u16string& name) {
  store::AccountStore* store = core_->store();
  return store == nullptr ? std::string() : store->mails()->AttachmentPath(server_id, name);
}

bool AttachmentOperation::DoDownloadMailAttach(uint32_t server_id, std::u16string name,
                                               uint32_t number, std::string target_path) {
  if (download_ != 0 || core_->store() == nullptr || name.empty() || target_path.empty()) {
    return false;
  }
  commands::AttachJobInfo info;
  info.job_type = engine::kJobAttachDownload;
  info.server_id = server_id;
  info.name = std::move(name);
  info.number = number;
  info.path = std::move(target_path);
  download_ = Start(std::move(info));
  if (download_ == 0) return false;
  engine::WriteLog(engine::kNetworkLog, "DoDownloadMailAttach begin", server_id, number);
  return true;
}

bool AttachmentOperation::DoGetMailAttachPic(uint32_t server_id, std::u16string name,
                                             uint32_t number, int32_t width, int32_t height) {
  commands::AttachJobInfo info;
  info.job_type = engine::kJobAttachPicture;
  info.path = AttachmentFile(server_id, name);
  if (info.path.empty() || width < 0 || height < 0) return false;
  info.server_id = server_id;
  info.name = std::move(name);
  info.number = number;
  info.width = width;
  info.height = height;
  if (Start(std::move(info)) == 0) return false;
  engine::WriteLog(engine::kNetworkLog, "DoGetMailAttachPic begin", server_id, number);
  return true;
}

bool AttachmentOperation::DoGetMailAttachText(uint32_t server_id, std::u16string name,
                                              uint32_t number, int32_t offset, int32_t length) {
  commands::AttachJobInfo info;
  info.job_type = engine::kJobAttachText;
  info.path = AttachmentFile(server_id, name);
  if (info.path.empty() || offset < 0 || length < 0) return false;
  info.server_id = server_id;
  info.name = std::move(name);
  info.number = number;
  info.offset = offset;
  info.length = length;
  if (Start(std::move(info)) == 0) return false;
  engine::WriteLog(engine::kNetworkLog, "DoGetMailAttachText begin", server_id, number);
  return true;
}

uint32_t AttachmentOperation::Start(commands::AttachJobInfo info) {
  const uint32_t number = next_number_++;
  auto request = std::make_unique<Request>();
  request->info = info;
  JobSlot* slot = &request->slot;
  requests_[number] = std::move(request);
  commands::AttachRequest head;
  head.head = core_->SessionHead();
  auto job = std::make_unique<commands::AttachJob>(core_->exchange(), core_->options().fs,
                                                   static_cast<commands::AttachHost*>(this),
                                                   std::move(info), std::move(head));
  job->set_listener(this);
  job->set_user_data(number);
  if (!core_->runner().StartSessionJob(std::move(job), slot)) {
    requests_.erase(number);
    return 0;
  }
  return number;
}

bool AttachmentOperation::CancelDownload() {
  if (download_ == 0) return false;
  Abandon(download_);
  return true;
}

void AttachmentOperation::Abandon(uint32_t number) {
  Request* request = Find(number);
  if (request == nullptr) return;
  const uint32_t id = request->slot.job_id();
  if (id == 0) core_->runner().DropHeld(&request->slot);
  End(number, id, AttachOutcome());
  if (id != 0) core_->runner().Cancel(id);
}

void AttachmentOperation::EndSessionWork() {
  std::vector<uint32_t> numbers;
  for (const auto& entry : requests_) numbers.push_back(entry.first);
  for (uint32_t number : numbers) Abandon(number);
}

void AttachmentOperation::End(uint32_t number, uint32_t job_id, AttachOutcome outcome) {
  Request* request = Find(number);
  if (request == nullptr || !request->slot.Finish(job_id)) return;  // not the request's job
  const commands::AttachJobInfo info = request->info;
  requests_.erase(number);
  if (download_ == number) download_ = 0;
  outcome.server_id = info.server_id;
  outcome.name = info.name;
  outcome.number = info.number;
  if (outcome.path.empty()) outcome.path = info.path;
  switch (info.job_type) {
    case engine::kJobAttachDownload: download_done_.Fire(outcome); break;
    case engine::kJobAttachPicture: picture_done_.Fire(outcome); break;
    default: text_done_.Fire(outcome); break;
  }
}

void AttachmentOperation::AttachArrived(uint32_t job_id, uint32_t user_data,
                                        const commands::AttachJobInfo& info,
                                        const commands::AttachResult& result) {
  Request* request = Find(user_data);
  if (request == nullptr || !request->slot.Holds(job_id)) return;  // stale
  if (result.result == protocol::kSessionKeyError) return;  // renewed in SessionExpired
  AttachOutcome outcome;
  outcome.path = result.path;
  outcome.text = result.text;
  outcome.offset = result.offset;
  outcome.total = result.total;
  if (result.progress) {
    engine::WriteLog(engine::kNetworkLog, "DoGetMailAttach***  Pecent ok(SvrId)", info.server_id, 0);
    outcome.ok = true;
    outcome.progress = true;
    outcome.server_id = info.server_id;
    outcome.name = info.name;
    outcome.number = info.number;
    download_done_.Fire(outcome);
    return;
  }
  outcome.ok = result.result == 0 && result.sub_result >= 0;
  outcome.code = result.result != 0 ? result.result : (outcome.ok ? 0 : result.sub_result);
  if (outcome.ok) {
    engine::WriteLog(engine::kNetworkLog, "DoGetMailAttach***  end ok(SvrId)", info.server_id, 0);
    if (result.sync_needed != 0) sync_->DoSync(commands::kSyncAskedByService);
  } else {
    engine::WriteLog(engine::kNetworkLog, "DoGetMailAttach***  end err(errcode,SvrID)",
                     static_cast<uint32_t>(outcome.code), info.server_id);
  }
  End(user_data, job_id, std::move(outcome));
}

void AttachmentOperation::AttachFailed(uint32_t job_id, uint32_t user_data,
                                       const commands::AttachJobInfo&, uint32_t system_error,
                                       uint32_t step) {
  AttachOutcome outcome;
  outcome.code = static_cast<int32_t>(system_error);
  outcome.step = step;
  End(user_data, job_id, std::move(outcome));
}

void AttachmentOperation::AttachAbandoned(uint32_t job_id, uint32_t user_data,
                                          const commands::AttachJobInfo&) {
  End(user_data, job_id, AttachOutcome());
}

void AttachmentOperation::SessionExpired(engine::NetJob* job) {
  const uint32_t number = job->user_data();
  Request* request = Find(number);
  if (request == nullptr || !request->slot.Holds(job->job_id())) return;
  engine::WriteLog(engine::kNetworkLog, "MailAtt svr ret sessionkey err, auth and then will retry", 0, 0);
  auto fresh = std::make_unique<commands::AttachJob>(
      core_->exchange(), core_->options().fs, static_cast<commands::AttachHost*>(this),
      commands::AttachJobInfo(), commands::AttachRequest());
  fresh->set_user_data(number);
  if (!core_->runner().RetryAfterLogin(*job, std::move(fresh), &request->slot)) {
    AttachOutcome outcome;
    outcome.code = protocol::kSessionKeyError;
    End(number, job->job_id(), std::move(outcome));
  }
}

void AttachmentOperation::JobGone(uint32_t job_id, int) {
  // A request that ended without an answer (no connection, the pool going
  // away) still ends once.
  for (const auto& entry : requests_) {
    if (entry.second->slot.job_id() == job_id && job_id != 0) {
      End(entry.first, job_id, AttachOutcome());
      return;
    }
  }
}

}  // namespace facade
}  // namespace quill
