// "client.cfg": what a client needs to reach this gateway, in the format of
// the client's "gateway.cfg" (UTF-16LE without byte-order mark, KEY:VALUE
// lines joined by CR LF): HOST, PORT, MODULUS, EXPONENT.
//
// The gateway writes it with its own small writer instead of the client's
// settings code, so a fault in one cannot hide in the other.
#ifndef QUILL_GATEWAY_CLIENT_CONFIG_H_
#define QUILL_GATEWAY_CLIENT_CONFIG_H_

#include <string>

#include "platform/bytes.h"
#include "platform/file_system.h"

namespace quill {
namespace gateway {

constexpr char kClientConfigFileName[] = "client.cfg";

struct ClientConfig {
  std::string host;          // address the gateway listens on
  int port = 0;              // its port
  std::string modulus_hex;   // its public key
  std::string exponent_hex;
};

// The file's bytes.
Bytes EncodeClientConfig(const ClientConfig& config);
// Writes the file atomically.
bool WriteClientConfig(FileSystem* fs, const std::string& path, const ClientConfig& config);

}  // namespace gateway
}  // namespace quill

#endif  // QUILL_GATEWAY_CLIENT_CONFIG_H_
