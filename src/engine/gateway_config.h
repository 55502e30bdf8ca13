// Where the gateway is and what the login request is sealed with: the
// data directory's "gateway.cfg", a settings file of the same KEY:VALUE
// format as "global.cfg", with the keys
//   HOST      host name or address (no default: a client needs one)
//   PORT      TCP port, 1..65535 (default 80)
//   PROXY     "host:port" of the operator's WAP proxy; empty keeps the
//             built-in one
//   MODULUS   the public key's modulus, hexadecimal
//   EXPONENT  the public key's exponent, hexadecimal
// The key is configuration only: no modulus is built into the program.
#ifndef QUILL_ENGINE_GATEWAY_CONFIG_H_
#define QUILL_ENGINE_GATEWAY_CONFIG_H_

#include <string>

#include "platform/file_system.h"
#include "protocol/cipher_layer.h"

namespace quill {
namespace engine {

inline constexpr char kGatewayConfigFile[] = "gateway.cfg";

struct GatewayConfig {
  std::string host;          // gateway host
  int port = 80;             // gateway TCP port
  std::string proxy;         // WAP proxy "host:port"; empty: the built-in one
  std::string modulus_hex;   // public key modulus
  std::string exponent_hex;  // public key exponent

  protocol::PublicKeyText public_key() const { return {modulus_hex, exponent_hex}; }
};

enum class GatewayConfigStatus {
  kOk,
  kMissing,     // the file does not exist or cannot be read
  kNoHost,      // HOST is empty
  kBadPort,     // PORT is not a number in 1..65535
  kBadKey,      // MODULUS or EXPONENT empty or not hexadecimal
};

// Reads path into *config. On failure *config is unchanged.
GatewayConfigStatus LoadGatewayConfig(FileSystem* fs, const std::string& path,
                                      GatewayConfig* config);

// "host:port" override of the command line ("HOST:PORT" or "HOST"): false
// when the port is not in 1..65535.
bool ApplyGatewayAddress(const std::string& address, GatewayConfig* config);

// The one-line English text of a status, for tools.
const char* GatewayConfigStatusText(GatewayConfigStatus status);

}  // namespace engine
}  // namespace quill

#endif  // QUILL_ENGINE_GATEWAY_CONFIG_H_
