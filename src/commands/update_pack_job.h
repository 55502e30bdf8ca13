// The update package job (job type 9, "getupdatepack"): fetches the
// package a queryupdate offered into "<dir>/<package name>.cab", piece by
// piece over the chunked download of engine/exchange.h, and hands the file
// on only once it passed its check: its size is the total of the last
// answer and its MD5 digest is the one its name states.
//
// Before any request: an expected size of 0 trusts nothing held (the file
// is deleted); a shorter file is resumed; a file of exactly the expected
// size that passes the check is reported ready without a request; anything
// else starts over. A -7 answer (the package was replaced) deletes the file
// and starts over under the new name. A name that is not 32 hexadecimal
// digits never becomes a file name: the download fails.
//
// The bytes held are kept for the next try when the job is cancelled, the
// transfer fails or the session expired; a refusal, an answer or piece that
// contradicts them, a failed write and a failed check delete them.
//
// Reports: WM_CMD_DATA_PERCENT after every piece and WM_CMD_DATA_COME at
// the end, both UpdatePackStatus; WM_CMD_ERR with the steps below.
//
// Threading: made and completed on the UI thread; Run on a worker. The
// package files are touched only under the files' lock, so a cancelled job
// still writing its last piece never meets the one that replaced it.
#ifndef QUILL_COMMANDS_UPDATE_PACK_JOB_H_
#define QUILL_COMMANDS_UPDATE_PACK_JOB_H_

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "commands/update_message.h"
#include "engine/exchange.h"
#include "engine/net_job.h"
#include "platform/file_system.h"

namespace quill {
namespace commands {

inline constexpr char kUpdatePackPath[] = "/cgi-bin/rb-bin/getupdatepack";

// Failing steps of the package download, beside the exchange's 1, 2 and 4.
enum UpdatePackStep : uint32_t {
  kPackStepFile = 31,         // the package file cannot be opened or created (5 tries)
  kPackStepOpenRequest = 32,  // opening the HTTP request failed
  kPackStepRead = 34,         // reading the response failed
  kPackStepDecode = 35,       // the answer, a piece or a package name is not valid
  kPackStepWrite = 37,        // writing the file failed
};

// UpdatePackStatus::code of a package that failed its check (deleted).
constexpr int32_t kUpdatePackCheckFailed = 1;
// Replacements (-7) one job follows before it gives up.
constexpr int kMaxPackReplacements = 3;
// Tries to open the package file, and the wait between two.
constexpr int kPackFileTries = 5;
constexpr uint32_t kPackFileRetryMs = 4000;

// Progress and end of a package download.
class UpdatePackStatus : public engine::JobResult {
 public:
  int32_t ResultCode() const override { return code; }
  // 0: progress, or a package that passed its check; kUpdatePackCheckFailed;
  // else the gateway's refusal.
  int32_t code = 0;
  std::string package;  // the package name (the new one after a -7)
  std::string path;     // its file
  uint64_t held = 0;    // bytes held
  uint64_t total = 0;   // the package's size
};

// What the package job needs from the mail service; UI thread only.
class UpdatePackHost {
 public:
  virtual ~UpdatePackHost() = default;
  virtual void UpdatePackProgress(uint32_t job_id, const UpdatePackStatus& status) = 0;
  // The end: status.code 0 when the package at status.path is ready.
  virtual void UpdatePackEnded(uint32_t job_id, const UpdatePackStatus& status) = 0;
  virtual void UpdatePackFailed(uint32_t job_id, uint32_t system_error, uint32_t step) = 0;
};

// Where the package goes.
struct UpdatePackFiles {
  FileSystem* fs = nullptr;       // required
  std::string dir;                // the package file's directory
  uint64_t expected_size = 0;     // the size offered; 0: start from nothing
  std::mutex* lock = nullptr;     // required: held while Run touches the files
};

// "<dir>/<package>.cab".
std::string UpdatePackagePath(const std::string& dir, const std::string& package);

// True when the file at path holds `size` bytes whose MD5 digest is the
// one `package` names (read 16384 bytes at a time).
bool CheckUpdatePackage(FileSystem* fs, const std::string& path, const std::string& package,
                        uint64_t size);

class UpdatePackJob : public engine::NetJob, private engine::ChunkedDownloadCommand {
 public:
  // context and host must outlive the job.
  UpdatePackJob(const engine::ExchangeContext* context, UpdatePackHost* host,
                UpdatePackRequest request, UpdatePackFiles files)
      : context_(context), host_(host), request_(std::move(request)), files_(std::move(files)) {}

  void Run(engine::WorkerLink& link) override { RunWith(&link); }
  // The download without a worker pool (tools and tests).
  void RunWith(engine::JobReporter* reporter);
  int GetJobType() const override { return engine::kJobUpdatePack; }
  std::string GetRequestPath() const override { return kUpdatePackPath; }
  void OnDataCome(uint32_t job_id, int type, engine::JobResult* response,
                  uint32_t user_data) override;
  void OnPercent(uint32_t job_id, int type, engine::JobResult* progress,
                 uint32_t user_data) override;
  void OnError(uint32_t job_id, int, uint32_t system_error, uint32_t step, uint32_t) override {
    host_->UpdatePackFailed(job_id, system_error, step);
  }

 private:
  enum class Prepared { kFetch, kReported, kStopped };

  // ChunkedDownloadCommand.
  std::string RequestPath() const override { return kUpdatePackPath; }
  bool EncodeChunk(uint64_t offset, protocol::WireMessage* request) override;
  bool DecodeChunk(const protocol::WireMessage& response, engine::ChunkReply* reply) override;
  std::unique_ptr<engine::JobResult> Progress(uint64_t offset, uint64_t total) override;
  // Checks the completed file; one that fails is deleted.
  std::unique_ptr<engine::JobResult> Finished(uint64_t total) override;

  // Steps 1 to 3 for package_ and expected: *start is where the download
  // begins. kReported: the end was reported (ready, or a file failure).
  Prepared Prepare(engine::JobReporter* link, uint64_t expected, uint64_t* start);
  std::unique_ptr<File> OpenWithTries(engine::JobReporter* link);
  std::unique_ptr<UpdatePackStatus> Status(int32_t code, uint64_t held, uint64_t total) const;

  const engine::ExchangeContext* const context_;  // shared by all jobs
  UpdatePackHost* const host_;                    // the mail service
  const UpdatePackRequest request_;               // as asked for
  const UpdatePackFiles files_;
  // Worker only, while Run runs.
  std::string package_;  // the package being fetched
  std::string path_;     // its file
};

}  // namespace commands
}  // namespace quill

#endif  // QUILL_COMMANDS_UPDATE_PACK_JOB_H_
