// The attachment family: a download into a file the user chose, a picture
// preview and a text slice of one attachment ("getmailattach").
//
// Each request is an operation with a JobSlot of its own and ends with
// exactly one event of its kind (AttachDownloadDone, AttachPicDone,
// AttachTextDone); a download also fires its event with `progress` set
// for every piece before its end. At most one download runs at a time; a
// second one is refused until it ended or CancelDownload. A cancelled
// download keeps its partial file, and the next download of the same
// target continues it.
//
// A request that finds no session waits for a silent login; one answered
// -3 is repeated after a silent login, at most kMaxSessionRetries times
// (the download too: it continues where it stopped). A success whose
// answer sets the sync-needed flag starts a sync.
//
// Threading: UI thread only.
#ifndef QUILL_FACADE_ATTACHMENT_OPERATION_H_
#define QUILL_FACADE_ATTACHMENT_OPERATION_H_

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "commands/attach_job.h"
#include "facade/event_list.h"
#include "facade/job_slot.h"
#include "facade/operation.h"

namespace quill {
namespace facade {

class SyncOperation;

// How an attachment request ended, or how far a download got.
struct AttachOutcome {
  bool ok = false;
  bool progress = false;     // a download's progress report: its end follows
  int32_t code = 0;          // the result, the negative sub-result, or the platform error
  uint32_t step = 0;         // the failing step of a network failure; 0 otherwise
  uint32_t server_id = 0;
  std::u16string name;       // the attachment
  uint32_t number = 0;       // the attachment number, passed through
  std::string path;          // download: the target; picture: the preview file
  std::u16string text;       // text: the slice
  uint64_t offset = 0;       // download: bytes held; text: where the slice starts
  uint64_t total = 0;        // bytes, or text units; 0 when unknown
};

class AttachmentOperation : public Operation, private commands::AttachHost {
 public:
  static constexpr int kMaxSessionRetries = 2;

  // core and sync must outlive the unit.
  AttachmentOperation(FacadeCore* core, SyncOperation* sync);

  // MailService::DoDownloadMailAttach and friends; false when refused (no
  // store, an unknown mail, a bad argument, a download running) or when
  // nothing could be started or queued.
  bool DoDownloadMailAttach(uint32_t server_id, std::u16string name, uint32_t number,
                            std::string target_path);
  bool DoGetMailAttachPic(uint32_t server_id, std::u16string name, uint32_t number,
                          int32_t width, int32_t height);
  bool DoGetMailAttachText(uint32_t server_id, std::u16string name, uint32_t number,
                           int32_t offset, int32_t length);
  // Stops the running download before its next piece; it ends at once with
  // ok false and code 0. False when none runs.
  bool CancelDownload();
  bool DownloadRunning() const { return download_ != 0; }

  EventList<const AttachOutcome&>& download_done() { return download_done_; }
  EventList<const AttachOutcome&>& picture_done() { return picture_done_; }
  EventList<const AttachOutcome&>& text_done() { return text_done_; }

  void EndSessionWork() override;

 private:
  struct Request {
    JobSlot slot{kMaxSessionRetries};
    commands::AttachJobInfo info;   // what was asked
  };

  void SessionExpired(engine::NetJob* job) override;
  void JobGone(uint32_t job_id, int job_type) override;

  // AttachHost.
  void AttachArrived(uint32_t job_id, uint32_t user_data, const commands::AttachJobInfo& info,
                     const commands::AttachResult& result) override;
  void AttachFailed(uint32_t job_id, uint32_t user_data, const commands::AttachJobInfo& info,
                    uint32_t system_error, uint32_t step) override;
  void AttachAbandoned(uint32_t job_id, uint32_t user_data,
                       const commands::AttachJobInfo& info) override;

  // The file a preview or text of the attachment is kept in; "" for a mail
  // the store does not hold.
  std::string AttachmentFile(uint32_t server_id, const std::u16string& name);
  // Makes the request's job and starts it; its number, or 0 when nothing
  // could be started.
  uint32_t Start(commands::AttachJobInfo info);
  // Ends request `number` held by job_id (JobSlot::Finish) with its one
  // event.
  void End(uint32_t number, uint32_t job_id, AttachOutcome outcome);
  // The request ends now as abandoned; its job is cancelled, or dropped
  // while it waits for a login.
  void Abandon(uint32_t number);
  Request* Find(uint32_t number);

  SyncOperation* const sync_;
  std::map<uint32_t, std::unique_ptr<Request>> requests_;  // by number (the jobs' user data)
  uint32_t next_number_ = 1;
  uint32_t download_ = 0;  // the running download's number; 0 none
  EventList<const AttachOutcome&> download_done_;
  EventList<const AttachOutcome&> picture_done_;
  EventList<const AttachOutcome&> text_done_;
};

}  // namespace facade
}  // namespace quill

#endif  // QUILL_FACADE_ATTACHMENT_OPERATION_H_
