// The gateway's RSA key pair, kept in "server.key" of its state directory
// (mode 0600): lines "N:", "E:", "D:", "P:", "Q:" followed by the number in
// hexadecimal.
#ifndef QUILL_GATEWAY_KEY_STORE_H_
#define QUILL_GATEWAY_KEY_STORE_H_

#include <string>

#include "platform/crypto.h"
#include "platform/file_system.h"

namespace quill {
namespace gateway {

constexpr char kServerKeyFileName[] = "server.key";
constexpr unsigned kServerKeyBits = 1024;

// Loads `path`, or generates a key and writes it there when the file is
// absent. A file that exists but does not hold a valid key is an error,
// never replaced: clients configured with its public key would be locked out.
bool LoadOrCreateServerKey(FileSystem* fs, const std::string& path, crypto::RsaKeyPair* key,
                           std::string* error);

}  // namespace gateway
}  // namespace quill

#endif  // QUILL_GATEWAY_KEY_STORE_H_
