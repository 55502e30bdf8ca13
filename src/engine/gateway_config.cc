#include "engine/gateway_config.h"

#include <cstdlib>

#include "platform/utf.h"
#include "store/config_file.h"

namespace quill {
namespace engine {

namespace {

bool IsHexText(const std::string& s) {
  if (s.empty()) return false;
  for (char c : s) {
    const bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    if (!hex) return false;
  }
  return true;
}

// A decimal port in 1..65535, digits only.
bool ParsePort(const std::string& text, int* port) {
  if (text.empty() || text.size() > 5) return false;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  if (value < 1 || value > 65535) return false;
  *port = value;
  return true;
}

}  // namespace

GatewayConfigStatus LoadGatewayConfig(FileSystem* fs, const std::string& path,
                                      GatewayConfig* config) {
  Bytes bytes;
  if (!fs->ReadFile(path, &bytes)) return GatewayConfigStatus::kMissing;
  store::ConfigFile file(fs);
  file.SetPath(path);
  GatewayConfig read;
  read.host = Utf16ToUtf8(file.GetText("HOST", u""));
  if (read.host.empty()) return GatewayConfigStatus::kNoHost;
  const std::string port = Utf16ToUtf8(file.GetText("PORT", u"80"));
  if (!ParsePort(port, &read.port)) return GatewayConfigStatus::kBadPort;
  read.proxy = Utf16ToUtf8(file.GetText("PROXY", u""));
  read.modulus_hex = Utf16ToUtf8(file.GetText("MODULUS", u""));
  read.exponent_hex = Utf16ToUtf8(file.GetText("EXPONENT", u""));
  if (!IsHexText(read.modulus_hex) || !IsHexText(read.exponent_hex)) {
    return GatewayConfigStatus::kBadKey;
  }
  *config = std::move(read);
  return GatewayConfigStatus::kOk;
}

bool ApplyGatewayAddress(const std::string& address, GatewayConfig* config) {
  const size_t colon = address.rfind(':');
  std::string host = address.substr(0, colon);
  int port = config->port;
  if (colon != std::string::npos && !ParsePort(address.substr(colon + 1), &port)) return false;
  if (host.empty()) return false;
  config->host = std::move(host);
  config->port = port;
  return true;
}

const char* GatewayConfigStatusText(GatewayConfigStatus status) {
  switch (status) {
    case GatewayConfigStatus::kOk: return "ok";
    case GatewayConfigStatus::kMissing: return "gateway configuration missing or unreadable";
    case GatewayConfigStatus::kNoHost: return "gateway configuration has no HOST";
    case GatewayConfigStatus::kBadPort: return "gateway configuration has a bad PORT";
    case GatewayConfigStatus::kBadKey: return "gateway configuration has a bad MODULUS or EXPONENT";
  }
  return "unknown";
}

}  // namespace engine
}  // namespace quill
