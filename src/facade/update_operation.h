// The update family: the update query (DoGetUpdateInfo), started by the
// user or after a login that reported a newer version, and the download of
// the offered package (DoGetUpdatePack), an exclusive operation whose new
// request replaces the running one. Neither waits for a session nor is
// repeated after a -3 answer: both need the session of a login.
//
// Nothing is executed: a package that passed its check is handed to the
// caller by its path in the last UpdatePackDone.
//
// Threading: UI thread only.
#ifndef QUILL_FACADE_UPDATE_OPERATION_H_
#define QUILL_FACADE_UPDATE_OPERATION_H_

#include <cstdint>
#include <map>
#include <mutex>
#include <string>

#include "commands/update_pack_job.h"
#include "commands/update_query_job.h"
#include "facade/event_list.h"
#include "facade/job_slot.h"
#include "facade/operation.h"

namespace quill {
namespace facade {

// How an update query ended. A query that failed in any way (network,
// refusal, bad answer) has ok false: it never reads as "nothing offered".
struct UpdateInfoOutcome {
  bool ok = false;              // the gateway answered 0
  int32_t code = 0;             // its result, or the platform error when step != 0
  uint32_t step = 0;            // failing step of the exchange; 0 otherwise
  int32_t reason = 0;           // commands::UpdateQueryReason
  int32_t update_value = 0;     // the package size offered; 0: nothing offered
  int32_t offered_version = 0;  // the version number offered (kept)
  std::string version_text;     // e.g. "1.0.49"
  std::string text;             // the offer text as it came
  commands::UpdateOffer offer;  // what it names; empty unless offered()
  // A newer client is offered, with a package that can be fetched.
  bool offered() const { return ok && update_value > 0 && !offer.package.empty(); }
};

// Progress and end of a package download. Every progress report has ok
// and not finished; the end comes once, finished, with ok when the package
// at `path` passed its check.
struct UpdatePackOutcome {
  bool ok = false;
  bool finished = false;
  // commands::kUpdatePackCheckFailed, the gateway's refusal, the platform
  // error when step != 0; 0 otherwise (also when cancelled or replaced).
  int32_t code = 0;
  uint32_t step = 0;     // failing step (commands::UpdatePackStep, 1, 2, 4, 101)
  std::string package;   // the package name (the new one after a replacement)
  std::string path;      // its file
  uint64_t held = 0;     // bytes held
  uint64_t total = 0;    // the package's size
};

class UpdateOperation : public Operation,
                        private commands::UpdateQueryHost,
                        private commands::UpdatePackHost {
 public:
  // core must outlive the unit.
  explicit UpdateOperation(FacadeCore* core) : Operation(core) {}

  // MailService::DoGetUpdateInfo / DoGetUpdatePack / CancelUpdatePack.
  bool DoGetUpdateInfo(int32_t reason);
  bool DoGetUpdatePack(const std::string& package, uint64_t expected_size, int32_t pass_through,
                       const std::string& dir);
  void CancelUpdatePack();
  bool pack_running() const { return slot_.busy(); }

  EventList<const UpdateInfoOutcome&>& info_done() { return info_done_; }
  EventList<const UpdatePackOutcome&>& pack_done() { return pack_done_; }

  void EndSessionWork() override;

 private:
  void JobGone(uint32_t job_id, int job_type) override;

  // UpdateQueryHost.
  void UpdateQueryAnswered(uint32_t job_id, int32_t reason,
                           const commands::UpdateQueryResponse& answer) override;
  void UpdateQueryFailed(uint32_t job_id, int32_t reason, uint32_t system_error,
                         uint32_t step) override;
  // UpdatePackHost.
  void UpdatePackProgress(uint32_t job_id, const commands::UpdatePackStatus& status) override;
  void UpdatePackEnded(uint32_t job_id, const commands::UpdatePackStatus& status) override;
  void UpdatePackFailed(uint32_t job_id, uint32_t system_error, uint32_t step) override;

  // Ends the query of job_id once with its event.
  void EndQuery(uint32_t job_id, UpdateInfoOutcome outcome);
  // Ends the download held by job_id (see JobSlot::Finish) with its event.
  void EndPack(uint32_t job_id, UpdatePackOutcome outcome);

  std::map<uint32_t, int32_t> queries_;  // running queries: job id -> reason
  JobSlot slot_{0};                      // the package download; never repeated
  std::string package_;                  // the running download's package
  std::mutex package_files_;             // held by a download job while it runs
  EventList<const UpdateInfoOutcome&> info_done_;
  EventList<const UpdatePackOutcome&> pack_done_;
};

}  // namespace facade
}  // namespace quill

#endif  // QUILL_FACADE_UPDATE_OPERATION_H_
