// The DeviceId: 16 bytes, computed once per run from the platform's device
// identifier and the program's own directory (in code page 936), so two
// installations on one device differ. It goes into the login request.
//
// Thread safety: none; UI thread only.
#ifndef QUILL_STORE_DEVICE_ID_H_
#define QUILL_STORE_DEVICE_ID_H_

#include <array>
#include <cstdint>
#include <string>

#include "platform/device_id_source.h"

namespace quill {
namespace store {

class DeviceId {
 public:
  using Value = std::array<uint8_t, 16>;

  // source must outlive this object.
  DeviceId(DeviceIdSource* source, std::u16string program_dir)
      : source_(source), program_dir_(std::move(program_dir)) {}

  // MD5(platform id || program directory in code page 936), computed on the
  // first call that finds the platform id. All zero while none is available.
  const Value& Get();
  // The 32 lowercase hexadecimal digits of Get().
  std::string Hex();

 private:
  DeviceIdSource* const source_;
  const std::u16string program_dir_;  // with its trailing separator
  Value value_{};                     // all zero until computed
  bool computed_ = false;
};

}  // namespace store
}  // namespace quill

#endif  // QUILL_STORE_DEVICE_ID_H_
