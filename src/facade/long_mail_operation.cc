#include "facade/long_mail_operation.h"

#include <utility>

#include "engine/trace.h"
#include "facade/facade_core.h"
#include "platform/utf.h"
#include "store/address_book.h"

namespace quill {
namespace facade {
namespace {

// Names and addresses of the recipient lists are at most 128 bytes.
constexpr size_t kMaxAddressBytes = 128;

commands::LongMailAddress Split(const std::u16string& display) {
  std::u16string name, address;
  store::AddressBook::SplitDisplayAddress(display, &name, &address);
  return {std::string(CutUtf8(Utf16ToUtf8(name), kMaxAddressBytes)),
          std::string(CutUtf8(Utf16ToUtf8(address), kMaxAddressBytes))};
}

std::vector<commands::LongMailAddress> SplitAll(const std::vector<std::u16string>& list) {
  std::vector<commands::LongMailAddress> out;
  for (const std::u16string& display : list) {
    if (!display.empty()) out.push_back(Split(display));
  }
  return out;
}

}  // namespace

LongMailOperation::LongMailOperation(FacadeCore* core) : Operation(core) {}

bool LongMailOperation::MakeDraft(uint32_t mail_id, int32_t compose_mode,
                                  commands::LongMailDraft* draft) {
  store::AccountStore* store = core_->store();
  store::MailRecord record;
  store::MailFiles files;
  if (store == nullptr || !store->mails()->ReadMail(mail_id, &record) ||
      record.server_id() != store::kLocalServerId ||
      !store->mails()->files()->LoadMailFiles(mail_id, &files)) {
    return false;
  }
  draft->head = core_->SessionHead();
  draft->mail_id = mail_id;
  draft->compose_mode = compose_mode >= 1 && compose_mode <= 3 ? compose_mode : 0;
  draft->source_server_id = record.reply_to();
  const commands::LongMailAddress sender = Split(files.sender);
  draft->sender_name = sender.name;
  draft->sender_address = sender.address;
  draft->subject = Utf16ToUtf8(files.subject);
  draft->body = Utf16ToUtf8(files.body);
  draft->body_chars = files.body.size();
  draft->to = SplitAll(files.to);
  draft->cc = SplitAll(files.cc);
  draft->bcc = SplitAll(files.bcc);
  // The record's list is emptied when its texts overflow; "attachs.txt"
  // keeps the whole list, so a long one is never sent without its files.
  const std::vector<store::AttachmentEntry>& list =
      files.attachments.empty() ? record.attachments : files.attachments;
  for (const store::AttachmentEntry& a : list) {
    draft->attachments.push_back({Utf16ToUtf8(a.name), a.size, a.kind});
  }
  draft->key = Utf16ToUtf8(files.send_key);
  return true;
}

bool LongMailOperation::DoDelvLongMail(uint32_t mail_id, int32_t compose_mode) {
  if (Delivering(mail_id)) return false;
  commands::LongMailDraft draft;
  if (!MakeDraft(mail_id, compose_mode, &draft)) return false;
  engine::WriteLog(engine::kNetworkLog, "DoDelvLongMail begin", mail_id, 0);
  auto delivery = std::make_unique<Delivery>();
  JobSlot* slot = &delivery->slot;
  deliveries_[mail_id] = std::move(delivery);
  auto job = std::make_unique<commands::LongMailJob>(
      core_->exchange(), core_->options().fs, static_cast<commands::LongMailHost*>(this),
      std::move(draft));
  job->set_listener(this);
  if (!core_->runner().StartSessionJob(std::move(job), slot)) {
    deliveries_.erase(mail_id);
    return false;
  }
  return true;
}

uint32_t LongMailOperation::MailOf(uint32_t job_id) const {
  for (const auto& [mail_id, delivery] : deliveries_) {
    if (job_id != 0 && delivery->slot.job_id() == job_id) return mail_id;
  }
  return 0;
}

void LongMailOperation::End(uint32_t mail_id, uint32_t job_id, commands::LongMailOutcome outcome) {
  auto it = deliveries_.find(mail_id);
  if (it == deliveries_.end() || !it->second->slot.Finish(job_id)) return;  // stale
  deliveries_.erase(it);
  store::AccountStore* store = core_->store();
  if (outcome.ok && (store == nullptr || !store->MarkDelivered(mail_id, outcome.server_id))) {
    engine::WriteLog(engine::kNetworkLog, "DelvLongMail store err (MailID,ServerID)", mail_id,
                     outcome.server_id);
  }
  if (!outcome.ok) {
    outcome.mail_id = 0;
    outcome.server_id = 0xFFFFFFFF;
  }
  done_.Fire(outcome, mail_id);
}

bool LongMailOperation::SaveLongMailKey(uint32_t mail_id, const std::string& key) {
  store::AccountStore* store = core_->store();
  return store != nullptr && Delivering(mail_id) &&
         store->mails()->files()->SaveSendKey(mail_id, Utf8ToUtf16(key));
}

void LongMailOperation::LongMailProgressed(uint32_t job_id,
                                           const commands::LongMailProgress& progress) {
  if (MailOf(job_id) != progress.mail_id) return;  // stale
  progress_.Fire(progress);
}

void LongMailOperation::LongMailEnded(uint32_t job_id, uint32_t mail_id,
                                      const commands::LongMailOutcome& outcome) {
  // A -3 answer is renewed in SessionExpired, which the same report reaches.
  if (!outcome.ok && outcome.step == commands::kLongStepResult &&
      outcome.code == protocol::kSessionKeyError) {
    return;
  }
  End(mail_id, job_id, outcome);
}

void LongMailOperation::LongMailAbandoned(uint32_t job_id, uint32_t mail_id) {
  End(mail_id, job_id, commands::LongMailOutcome());
}

void LongMailOperation::SessionExpired(engine::NetJob* job) {
  const uint32_t mail_id = MailOf(job->job_id());
  if (mail_id == 0) return;
  engine::WriteLog(engine::kNetworkLog, "Delv Long Mail svr ret sessionkey err, auth and then will retry",
                   0, 0);
  auto fresh = std::make_unique<commands::LongMailJob>(
      core_->exchange(), core_->options().fs, static_cast<commands::LongMailHost*>(this),
      commands::LongMailDraft());
  if (!core_->runner().RetryAfterLogin(*job, std::move(fresh), &deliveries_[mail_id]->slot)) {
    commands::LongMailOutcome o;
    o.step = commands::kLongStepResult;
    o.code = protocol::kSessionKeyError;
    o.text = commands::LongMailErrorText(o.code);
    End(mail_id, job->job_id(), o);
  }
}

void LongMailOperation::JobGone(uint32_t job_id, int) {
  // A delivery that ended without a report (the pool went away) still ends once.
  const uint32_t mail_id = MailOf(job_id);
  if (mail_id != 0) End(mail_id, job_id, commands::LongMailOutcome());
}

void LongMailOperation::EndSessionWork() {
  std::map<uint32_t, std::unique_ptr<Delivery>> ended;
  ended.swap(deliveries_);
  for (auto& [mail_id, delivery] : ended) {
    const uint32_t id = delivery->slot.job_id();
    if (id != 0) {
      core_->runner().Cancel(id);
    } else {
      core_->runner().DropHeld(&delivery->slot);
    }
    done_.Fire(commands::LongMailOutcome(), mail_id);
  }
}

}  // namespace facade
}  // namespace quill
