// What the attachment and image jobs share: the names and the version file
// beside a file in transfer, and reporters that adapt an exchange's
// reports to a job.
//
// Threading: worker side; each job touches only its own files.
#ifndef QUILL_COMMANDS_TRANSFER_FILES_H_
#define QUILL_COMMANDS_TRANSFER_FILES_H_

#include <cstdint>
#include <memory>
#include <string>

#include "engine/job_result.h"
#include "engine/net_job.h"
#include "platform/file_system.h"

namespace quill {
namespace commands {

// "P.temp": the bytes of P received so far.
std::string TempPath(const std::string& path);
// "P.version": the version of what P.temp (or P) holds.
std::string VersionPath(const std::string& path);

// The size of an existing file; false when it cannot be opened.
bool FileSize(FileSystem* fs, const std::string& path, uint64_t* size);

// A version file: key:value settings text (UTF-16LE) with "version" and
// "total".
struct TransferVersion {
  int32_t version = 0;     // 0: none (no file, or no usable key)
  bool has_total = false;
  uint64_t total = 0;
};
TransferVersion ReadTransferVersion(FileSystem* fs, const std::string& version_path);
// Replaces the file atomically; false when it could not be written.
bool WriteTransferVersion(FileSystem* fs, const std::string& version_path, int32_t version,
                          uint64_t total);

// Hands reports on to another reporter, with the exchange's steps 3 (open
// request), 5 (read) and 6 (decode) renamed to the job's own.
class StepMapReporter : public engine::JobReporter {
 public:
  StepMapReporter(engine::JobReporter* inner, uint32_t open_step, uint32_t read_step,
                  uint32_t decode_step)
      : inner_(inner), open_(open_step), read_(read_step), decode_(decode_step) {}
  bool ShouldContinue() const override { return inner_->ShouldContinue(); }
  bool SendError(uint32_t system_error, uint32_t step) override;
  bool SendData(std::unique_ptr<engine::JobResult> response, uintptr_t wparam = 0) override {
    return inner_->SendData(std::move(response), wparam);
  }
  bool SendPercent(std::unique_ptr<engine::JobResult> progress) override {
    return inner_->SendPercent(std::move(progress));
  }

 private:
  engine::JobReporter* const inner_;
  const uint32_t open_, read_, decode_;
};

// Keeps the data report of one exchange for the job to look at; errors and
// progress go on at once.
class CapturingReporter : public engine::JobReporter {
 public:
  explicit CapturingReporter(engine::JobReporter* inner) : inner_(inner) {}
  bool ShouldContinue() const override { return inner_->ShouldContinue(); }
  bool SendError(uint32_t system_error, uint32_t step) override {
    return inner_->SendError(system_error, step);
  }
  bool SendData(std::unique_ptr<engine::JobResult> response, uintptr_t) override {
    taken_ = std::move(response);
    return true;
  }
  bool SendPercent(std::unique_ptr<engine::JobResult> progress) override {
    return inner_->SendPercent(std::move(progress));
  }
  std::unique_ptr<engine::JobResult> Take() { return std::move(taken_); }

 private:
  engine::JobReporter* const inner_;
  std::unique_ptr<engine::JobResult> taken_;  // the data report, until taken
};

}  // namespace commands
}  // namespace quill

#endif  // QUILL_COMMANDS_TRANSFER_FILES_H_
