// The long-mail family: DoDelvLongMail delivers a local mail through the
// "sendlongmail" conversation (commands/long_mail_job.h), reports its
// progress and its end, and turns a delivered mail into a mail of the
// service (AccountStore::MarkDelivered).
//
// Deliveries are not exclusive: several mails may go at once, each with a
// JobSlot of its own (job_slot.h). The same mail is never delivered by two
// jobs at once: a second DoDelvLongMail of a mail being delivered is
// refused, since two deliveries without a key could both arrive. A delivery
// that finds no session waits for a silent login; one answered -3 is
// repeated by a copy of its job after a silent login (the copy resumes
// under the key the first was given), at most kMaxSessionRetries times.
//
// Threading: UI thread only.
#ifndef QUILL_FACADE_LONG_MAIL_OPERATION_H_
#define QUILL_FACADE_LONG_MAIL_OPERATION_H_

#include <cstdint>
#include <map>
#include <memory>

#include "commands/long_mail_job.h"
#include "facade/event_list.h"
#include "facade/job_slot.h"
#include "facade/operation.h"

namespace quill {
namespace facade {

class LongMailOperation : public Operation, private commands::LongMailHost {
 public:
  // Silent logins one delivery may cause by -3 answers.
  static constexpr int kMaxSessionRetries = 2;

  // core must outlive the unit.
  explicit LongMailOperation(FacadeCore* core);

  // MailService::DoDelvLongMail.
  bool DoDelvLongMail(uint32_t mail_id, int32_t compose_mode);
  // A delivery of the mail is running or waits for a login.
  bool Delivering(uint32_t mail_id) const { return deliveries_.count(mail_id) != 0; }

  EventList<const commands::LongMailProgress&>& progress() { return progress_; }
  // The outcome and the MailID it was for (the outcome's own mail_id is 0
  // on failure).
  EventList<const commands::LongMailOutcome&, uint32_t>& done() { return done_; }

  void EndSessionWork() override;

 private:
  struct Delivery {
    JobSlot slot{kMaxSessionRetries};
  };

  void SessionExpired(engine::NetJob* job) override;
  void JobGone(uint32_t job_id, int job_type) override;

  // LongMailHost.
  bool SaveLongMailKey(uint32_t mail_id, const std::string& key) override;
  void LongMailProgressed(uint32_t job_id, const commands::LongMailProgress& progress) override;
  void LongMailEnded(uint32_t job_id, uint32_t mail_id,
                     const commands::LongMailOutcome& outcome) override;
  void LongMailAbandoned(uint32_t job_id, uint32_t mail_id) override;

  // The draft of a local mail; false when it is unknown or not local.
  bool MakeDraft(uint32_t mail_id, int32_t compose_mode, commands::LongMailDraft* draft);
  // Ends the delivery of mail_id held by job_id with its one event.
  void End(uint32_t mail_id, uint32_t job_id, commands::LongMailOutcome outcome);
  // The mail whose delivery job_id runs; 0 when none.
  uint32_t MailOf(uint32_t job_id) const;

  std::map<uint32_t, std::unique_ptr<Delivery>> deliveries_;  // by MailID
  EventList<const commands::LongMailProgress&> progress_;
  EventList<const commands::LongMailOutcome&, uint32_t> done_;
};

}  // namespace facade
}  // namespace quill

#endif  // QUILL_FACADE_LONG_MAIL_OPERATION_H_
