#include "platform/device_id_source.h"

#include "platform/crypto.h"

namespace quill {
namespace {

// The first line without surrounding white space; empty when there is none.
Bytes Trimmed(const Bytes& raw) {
  size_t begin = 0, end = raw.size();
  for (size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '\n') {
      end = i;
      break;
    }
  }
  while (begin < end && (raw[begin] == ' ' || raw[begin] == '\t' || raw[begin] == '\r')) ++begin;
  while (end > begin && (raw[end - 1] == ' ' || raw[end - 1] == '\t' || raw[end - 1] == '\r')) --end;
  return Bytes(raw.begin() + begin, raw.begin() + end);
}

}  // namespace

LinuxDeviceIdSource::LinuxDeviceIdSource(FileSystem* fs, std::string machine_id_path,
                                         std::string config_dir)
    : fs_(fs),
      machine_id_path_(std::move(machine_id_path)),
      fallback_path_(std::move(config_dir) + "/device-id") {}

bool LinuxDeviceIdSource::DevicePart(Bytes* out) {
  Bytes raw;
  if (fs_->ReadFile(machine_id_path_, &raw)) {
    *out = Trimmed(raw);
    if (!out->empty()) return true;
  }
  if (fs_->ReadFile(fallback_path_, &raw) && raw.size() == 16) {
    *out = raw;
    return true;
  }
  Bytes fresh(16);
  if (!crypto::RandomBytes(fresh.data(), fresh.size())) return false;
  if (!fs_->ReplaceAtomically(fallback_path_, ByteView(fresh), 0600)) return false;
  *out = fresh;
  return true;
}

bool LinuxDeviceIdSource::GetDeviceUniqueId(ByteView app_tag, Bytes* out) {
  Bytes material;
  if (!DevicePart(&material)) return false;
  material.insert(material.end(), app_tag.begin(), app_tag.end());
  out->assign(16, 0);
  crypto::Md5(ByteView(material), out->data());
  return true;
}

}  // namespace quill
