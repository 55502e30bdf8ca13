#include "store/device_id.h"

#include "platform/codepage.h"
#include "platform/crypto.h"
#include "platform/hex.h"

namespace quill {
namespace store {
namespace {

// The application tag handed to the platform, a fixed 16-byte ASCII value.
constexpr char kAppTag[] = "QuillpostDevTag1";
static_assert(sizeof kAppTag == 17, "the tag is 16 bytes");

}  // namespace

const DeviceId::Value& DeviceId::Get() {
  if (computed_) return value_;
  Bytes platform_id;
  if (!source_->GetDeviceUniqueId(ByteView(reinterpret_cast<const uint8_t*>(kAppTag), 16),
                                  &platform_id)) {
    return value_;
  }
  if (platform_id.size() > 20) platform_id.resize(20);
  std::string dir = Utf16ToCp936(program_dir_);
  platform_id.insert(platform_id.end(), dir.begin(), dir.end());
  crypto::Md5(ByteView(platform_id), value_.data());
  computed_ = true;
  return value_;
}

std::string DeviceId::Hex() {
  const std::array<uint8_t, 16>& id = Get();
  return HexEncodeLower(ByteView(id.data(), id.size()));
}

}  // namespace store
}  // namespace quill
