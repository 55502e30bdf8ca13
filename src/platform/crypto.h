// The one unit that calls mbed TLS. Everything else uses these functions, so
// an API change of the library touches only crypto.cc.
//
// Thread safety: every function may be called from any thread. The random
// generator is one process-wide CTR-DRBG guarded by a mutex.
#ifndef QUILL_PLATFORM_CRYPTO_H_
#define QUILL_PLATFORM_CRYPTO_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/bytes.h"

namespace quill {
namespace crypto {

// Fills out[0..n) from a CTR-DRBG seeded from the OS entropy source.
// Returns false only when the generator could not be seeded.
bool RandomBytes(uint8_t* out, size_t n);

// MD5 digest of data into out[0..16).
void Md5(ByteView data, uint8_t out[16]);

// MD5 digest of data given in parts (a file read a block at a time).
class Md5Stream {
 public:
  Md5Stream();
  ~Md5Stream();
  Md5Stream(const Md5Stream&) = delete;
  Md5Stream& operator=(const Md5Stream&) = delete;

  void Update(ByteView data);
  // The digest of everything given; the stream starts over afterwards.
  void Finish(uint8_t out[16]);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// An RSA public key read from hexadecimal texts. Keys, like every secret,
// are never logged.
class RsaPublicKey {
 public:
  enum class ParseStatus { kOk, kBadModulus, kBadExponent };

  RsaPublicKey();
  ~RsaPublicKey();
  RsaPublicKey(const RsaPublicKey&) = delete;
  RsaPublicKey& operator=(const RsaPublicKey&) = delete;

  // Reads the modulus and the exponent from texts of hexadecimal digits
  // (either case, no sign, no prefix, not empty).
  ParseStatus Parse(std::string_view modulus_hex, std::string_view exponent_hex);

  // Modulus length k in bytes: (bit length + 7) / 8. 0 before Parse.
  size_t ModulusBytes() const;

  // RSAES-PKCS1-v1_5 encryption of message[0..m) into out[0..k). The padding
  // bytes come from RandomBytes. Fails when m > k - 11 or the key is unusable.
  bool EncryptPkcs1(ByteView message, uint8_t* out) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The numbers of an RSA private key as upper-case hexadecimal texts, so the
// service side can keep its key in a file.
struct RsaPrivateText {
  std::string modulus;           // N
  std::string public_exponent;   // E
  std::string private_exponent;  // D
  std::string prime1;            // P
  std::string prime2;            // Q
};

// An RSA key pair, for the service side and for tests.
class RsaKeyPair {
 public:
  RsaKeyPair();
  ~RsaKeyPair();
  RsaKeyPair(const RsaKeyPair&) = delete;
  RsaKeyPair& operator=(const RsaKeyPair&) = delete;

  // Generates a fresh key of `bits` bits with public exponent 65537.
  bool Generate(unsigned bits);

  // Upper-case hexadecimal texts, as the client's configuration takes them.
  std::string ModulusHex() const;
  std::string ExponentHex() const;

  size_t ModulusBytes() const;

  // The key's numbers; false before Generate or Import.
  bool Export(RsaPrivateText* out) const;
  // Replaces the key by the given numbers. False, leaving no usable key, when
  // a text is not hexadecimal or the numbers do not form a valid private key.
  bool Import(const RsaPrivateText& text);

  // RSAES-PKCS1-v1_5 decryption of one k-byte block. False on a block of the
  // wrong size or with invalid padding.
  bool DecryptPkcs1(ByteView block, Bytes* out) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace crypto
}  // namespace quill

#endif  // QUILL_PLATFORM_CRYPTO_H_
