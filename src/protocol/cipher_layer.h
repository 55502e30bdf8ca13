// CipherLayer: the middle envelope layer, a CompactMode codec with
//   301 version, always 1001
//   302 ciphertext: RSA blocks (login request) or EnvelopeCipher text
//   303 optional ServerTicket
//
// Every operation builds its result aside, so `out` may alias the input.
// Keys and tickets are secrets: nothing here logs them.
#ifndef QUILL_PROTOCOL_CIPHER_LAYER_H_
#define QUILL_PROTOCOL_CIPHER_LAYER_H_

#include <string_view>

#include "platform/bytes.h"
#include "platform/crypto.h"
#include "protocol/envelope_status.h"

namespace quill {
namespace protocol {

constexpr int kCipherVersion = 1001;

// The public key the login request is sealed with, as hexadecimal texts.
struct PublicKeyText {
  std::string_view modulus_hex;   // 256 digits for the 1024-bit key
  std::string_view exponent_hex;  // "010001"
};

// Seals `data` with the public key: chunks of k - 12 bytes (k = modulus
// bytes), each one RSAES-PKCS1-v1_5 block of k bytes; at least one block.
// A modulus of 12 bytes or less cannot hold a chunk and fails (8).
int SealPublic(const PublicKeyText& key, ByteView data, Bytes* out,
               const ByteView* ticket = nullptr, int version = kCipherVersion);

// Pads `data` (p = 8 - length % 8 bytes of value p) and enciphers it with the
// EnvelopeCipher keyed by the first 8 bytes of `key` (at least 1 byte).
// A non-empty ticket goes into tag 303.
int SealSession(ByteView data, ByteView key, Bytes* out, ByteView ticket,
                int version = kCipherVersion);

// As SealSession, but tag 303 is written whenever `ticket` is not null, even
// empty: the service side sends an empty tag to clear the client's ticket.
int SealSessionWithTicket(ByteView data, ByteView key, Bytes* out, const ByteView* ticket,
                          int version = kCipherVersion);

// Deciphers a session-sealed layer and strips its padding.
int OpenSession(ByteView image, ByteView key, Bytes* out, int* version);

// The layer's ticket: kEnvOk, kEnvNoTicket when tag 303 is absent, or
// kEnvMalformed.
int ReadTicket(ByteView image, Bytes* ticket);

// The service side of SealPublic: decrypts every k-byte block with the
// private key and joins the chunks.
int OpenPublic(const crypto::RsaKeyPair& key, ByteView image, Bytes* out);

}  // namespace protocol
}  // namespace quill

#endif  // QUILL_PROTOCOL_CIPHER_LAYER_H_
