#include "commands/transfer_files.h"

#include "engine/trace.h"
#include "store/config_file.h"

namespace quill {
namespace commands {
namespace {

constexpr char kVersionKey[] = "version";
constexpr char kTotalKey[] = "total";

}  // namespace

std::string TempPath(const std::string& path) { return path + ".temp"; }
std::string VersionPath(const std::string& path) { return path + ".version"; }

bool FileSize(FileSystem* fs, const std::string& path, uint64_t* size) {
  std::unique_ptr<File> file = fs->Open(path, FileSystem::OpenMode::kRead);
  return file != nullptr && file->Size(size);
}

TransferVersion ReadTransferVersion(FileSystem* fs, const std::string& version_path) {
  TransferVersion out;
  if (!fs->Exists(version_path)) return out;
  store::ConfigFile file(fs);
  file.SetPath(version_path);
  out.version = file.GetInt(kVersionKey, 0);
  constexpr uint64_t kAbsent = UINT64_MAX;
  const uint64_t total = file.GetUInt64(kTotalKey, kAbsent);
  out.has_total = total != kAbsent;
  out.total = out.has_total ? total : 0;
  return out;
}

bool WriteTransferVersion(FileSystem* fs, const std::string& version_path, int32_t version,
                          uint64_t total) {
  store::ConfigFile file(fs);
  file.SetPath(version_path);
  return file.SetInt(kVersionKey, version, false) && file.SetUInt64(kTotalKey, total, false) &&
         file.Save();
}

bool StepMapReporter::SendError(uint32_t system_error, uint32_t step) {
  switch (step) {
    case engine::kStepOpenRequest: step = open_; break;
    case engine::kStepReadBody: step = read_; break;
    case engine::kStepDecodeBody: step = decode_; break;
    default: break;
  }
  return inner_->SendError(system_error, step);
}

}  // namespace commands
}  // namespace quill
