// The attachment jobs of "getmailattach": a download into a file the user
// chose (job type 6), a picture preview (type 7) and a slice of a text
// attachment (type 8), completed by the mail service through AttachHost.
//
// Files, for a target or attachment file P:
//   P.temp     the bytes received so far (download, picture)
//   P.version  key:value settings text: "version" (the gateway's version of
//              what P.temp or P holds) and "total" (its size: bytes, or
//              UTF-16 units of text)
// A download or picture is renamed from P.temp to P only once P.temp holds
// the whole total, so a file at P is always complete. A transport failure,
// an expired session or a cancel keeps P.temp and P.version, and the next
// attempt continues from the bytes held when the version still matches; a
// refusal or an answer that contradicts what is held removes them. A
// picture that already exists at P is answered from the file, and so is a
// text slice that P holds.
//
// A text attachment's P holds the converted text as UTF-16LE, unit n at
// byte 2n, always contiguous from unit 0: a slice that would leave a gap is
// not written.
//
// Threading: made and completed on the UI thread; Run on a worker, which
// touches only the job's own request and files.
#ifndef QUILL_COMMANDS_ATTACH_JOB_H_
#define QUILL_COMMANDS_ATTACH_JOB_H_

#include <cstdint>
#include <memory>
#include <string>

#include "commands/attach_message.h"
#include "engine/exchange.h"
#include "engine/net_job.h"
#include "platform/file_system.h"

namespace quill {
namespace commands {

// Failing steps of the attachment jobs (beside the exchange's step 4).
enum AttachStep : uint32_t {
  kStepPictureFile = 11,     // the temp file cannot be opened
  kStepPictureOpen = 12,     // opening the request failed
  kStepPictureRead = 14,
  kStepPictureDecode = 15,
  kStepPictureOffset = 16,   // a piece at another offset than the bytes held
  kStepPictureWrite = 17,
  kStepTextOpen = 21,
  kStepTextRead = 23,
  kStepTextDecode = 24,
  kStepDownloadFile = 31,
  kStepDownloadOpen = 32,
  kStepDownloadRead = 34,
  kStepDownloadDecode = 35,
  kStepDownloadOffset = 36,
  kStepDownloadWrite = 37,
};

// A picture whose version changes this many times in one attempt fails.
constexpr int kMaxPictureRestarts = 3;

// What an attachment job was asked for; kept by the job and handed back
// with every report.
struct AttachJobInfo {
  int job_type = engine::kJobAttachDownload;  // 6, 7 or 8
  uint32_t server_id = 0;
  std::u16string name;       // the attachment's name as the caller gave it
  uint32_t number = 0;       // the attachment's number, passed through
  std::string path;          // download: the target; else the attachment file P
  int32_t width = 0;         // picture: the display box
  int32_t height = 0;
  int32_t offset = 0;        // text: the slice asked, in UTF-16 units
  int32_t length = 0;
};

// One report of an attachment job (WM_CMD_DATA_COME or, for a download's
// progress, WM_CMD_DATA_PERCENT).
class AttachResult : public engine::JobResult {
 public:
  int32_t ResultCode() const override { return result; }

  int32_t result = 0;        // the response's result code; 0 for one answered from a file
  int32_t sub_result = 0;    // negative: the gateway's refusal of this attachment
  int32_t sync_needed = 0;   // non-zero: a sync with reason 4 follows a success
  bool progress = false;     // a download's progress report
  std::string path;          // the file written (download, picture)
  std::u16string text;       // text: the slice
  uint64_t total = 0;        // bytes, or text units
  uint64_t offset = 0;       // download: bytes held; text: where the slice starts
  uint64_t length = 0;       // text: units of the slice
};

// What the jobs need from the mail service; UI thread only. A result whose
// code is -3 (the session expired) arrives like any other.
class AttachHost {
 public:
  virtual ~AttachHost() = default;
  virtual void AttachArrived(uint32_t job_id, uint32_t user_data, const AttachJobInfo& info,
                             const AttachResult& result) = 0;
  virtual void AttachFailed(uint32_t job_id, uint32_t user_data, const AttachJobInfo& info,
                            uint32_t system_error, uint32_t step) = 0;
  virtual void AttachAbandoned(uint32_t job_id, uint32_t user_data, const AttachJobInfo& info) = 0;
};

class AttachJob : public engine::NetJob,
                  private engine::ChunkedDownloadCommand,
                  private engine::ExchangeCommand {
 public:
  // context, fs and host must outlive the job. request carries the head;
  // its ServerID, name, kind and parameters are set from info.
  AttachJob(const engine::ExchangeContext* context, FileSystem* fs, AttachHost* host,
            AttachJobInfo info, AttachRequest request);

  void Run(engine::WorkerLink& link) override { RunWith(&link); }
  engine::ExchangeOutcome RunWith(engine::JobReporter* reporter);
  int GetJobType() const override { return info_.job_type; }
  std::string GetRequestPath() const override { return kAttachPath; }
  bool CopyRequestTo(engine::NetJob* other) const override;
  void RenewSession(const std::string& session_key, uint32_t uin) override;
  void Abandon() override;
  void OnDataCome(uint32_t job_id, int type, engine::JobResult* result, uint32_t user_data) override;
  void OnPercent(uint32_t job_id, int type, engine::JobResult* result, uint32_t user_data) override;
  void OnError(uint32_t job_id, int type, uint32_t system_error, uint32_t step,
               uint32_t user_data) override;

  const AttachJobInfo& info() const { return info_; }

 private:
  engine::ExchangeOutcome RunDownload(engine::JobReporter* reporter);
  engine::ExchangeOutcome RunText(engine::JobReporter* reporter);
  // One text exchange for the slice at offset with the version held; the
  // decoded response in *result, else the exchange's report was sent.
  engine::ExchangeOutcome AskText(engine::JobReporter* reporter, int32_t offset, int32_t version,
                                  std::unique_ptr<engine::JobResult>* result);
  // The slice asked, from P when P holds it; false otherwise.
  bool TextFromFile(AttachResult* out);
  void StoreTextSlice(const AttachResponse& response, int32_t held_version);
  // Records the version and total of what P.temp (or P) holds.
  bool SaveVersion(int32_t version, uint64_t total);
  std::unique_ptr<AttachResult> Refusal(const AttachResponse& response) const;

  // ChunkedDownloadCommand (download, picture).
  std::string RequestPath() const override { return kAttachPath; }
  bool EncodeChunk(uint64_t offset, protocol::WireMessage* request) override;
  bool DecodeChunk(const protocol::WireMessage& response, engine::ChunkReply* reply) override;
  std::unique_ptr<engine::JobResult> Progress(uint64_t offset, uint64_t total) override;
  std::unique_ptr<engine::JobResult> Finished(uint64_t total) override;
  // ExchangeCommand (text).
  bool EncodeRequest(protocol::WireMessage* request) override;
  std::unique_ptr<engine::JobResult> DecodeResponse(const protocol::WireMessage& response) override;

  const engine::ExchangeContext* const context_;  // shared by all jobs
  FileSystem* const fs_;
  AttachHost* const host_;                        // the mail service
  AttachJobInfo info_;
  AttachRequest request_;     // head, ServerID, name, kind, box; offset and version per exchange
  // Worker state of one run.
  int32_t held_version_ = 0;  // version of the bytes held; 0 none
  int32_t sync_needed_ = 0;   // from the last answer
};

}  // namespace commands
}  // namespace quill

#endif  // QUILL_COMMANDS_ATTACH_JOB_H_
