#include "gateway/client_config.h"

#include "platform/utf.h"

namespace quill {
namespace gateway {

Bytes EncodeClientConfig(const ClientConfig& config) {
  const std::string text = "HOST:" + config.host + "\r\nPORT:" + std::to_string(config.port) +
                           "\r\nMODULUS:" + config.modulus_hex +
                           "\r\nEXPONENT:" + config.exponent_hex;
  Bytes out;
  for (char16_t u : Utf8ToUtf16(text)) {
    out.push_back(static_cast<uint8_t>(u & 0xFF));
    out.push_back(static_cast<uint8_t>(u >> 8));
  }
  return out;
}

bool WriteClientConfig(FileSystem* fs, const std::string& path, const ClientConfig& config) {
  return fs->ReplaceAtomically(path, EncodeClientConfig(config));
}

}  // namespace gateway
}  // namespace quill
