// The platform's device identifier: a stable value per device and
// application tag, the counterpart of the system's unique-id call.
//
// The device part is /etc/machine-id; on a machine without one, a random
// 16-byte value is made once and kept in "device-id" in the configuration
// directory. The result is MD5(device part || application tag), 16 bytes,
// so two applications on one device get unrelated ids.
//
// Thread safety: one object per thread, or external locking.
#ifndef QUILL_PLATFORM_DEVICE_ID_SOURCE_H_
#define QUILL_PLATFORM_DEVICE_ID_SOURCE_H_

#include <string>

#include "platform/bytes.h"
#include "platform/file_system.h"

namespace quill {

class DeviceIdSource {
 public:
  virtual ~DeviceIdSource() = default;
  // Fills *out (at most 20 bytes) for this device and app_tag.
  virtual bool GetDeviceUniqueId(ByteView app_tag, Bytes* out) = 0;
};

class LinuxDeviceIdSource : public DeviceIdSource {
 public:
  // fs must outlive this object.
  LinuxDeviceIdSource(FileSystem* fs, std::string machine_id_path, std::string config_dir);
  bool GetDeviceUniqueId(ByteView app_tag, Bytes* out) override;

 private:
  bool DevicePart(Bytes* out);

  FileSystem* const fs_;
  const std::string machine_id_path_;  // usually "/etc/machine-id"
  const std::string fallback_path_;    // config_dir + "/device-id"
};

}  // namespace quill

#endif  // QUILL_PLATFORM_DEVICE_ID_SOURCE_H_
