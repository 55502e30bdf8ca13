// EnvelopeCipher: the block cipher that enciphers session traffic, and its
// CBC framing.
//
// The block function is DES built from the FIPS 46-3 tables with three
// differences the gateway requires: bits are numbered from the least
// significant bit of each byte (bit 1 = lowest bit of byte 0), each S-box
// value enters the 32-bit round output least significant bit first, and the
// halves are not swapped after the last round. It is not a standard DES and
// must not be replaced by one.
//
// Thread safety: an EnvelopeCipher is immutable after construction; its const
// methods may be called from any number of threads at once.
#ifndef QUILL_PROTOCOL_ENVELOPE_CIPHER_H_
#define QUILL_PROTOCOL_ENVELOPE_CIPHER_H_

#include <cstddef>
#include <cstdint>

#include "platform/bytes.h"

namespace quill {
namespace protocol {

// The 8 bytes of key material for a key text: its first 8 bytes, padded with
// zero bytes when the text is shorter. Bytes beyond the eighth are ignored.
void EnvelopeKeyMaterial(ByteView key_text, uint8_t out[8]);

class EnvelopeCipher {
 public:
  static constexpr size_t kBlockSize = 8;

  // Runs the key schedule for the 8 bytes of key material K. K is kept as
  // well: it is the first block that Encipher enciphers.
  explicit EnvelopeCipher(const uint8_t key[8]);

  // One block: out = E(in). in and out may be the same buffer.
  void EncryptBlock(const uint8_t in[8], uint8_t out[8]) const;

  // One block: out = D(in), with D(E(x)) == x. in and out may be the same
  // buffer.
  void DecryptBlock(const uint8_t in[8], uint8_t out[8]) const;

  // CBC framing: C0 = E(K), then Ci = E(Pi XOR Ci-1) for every 8-byte block
  // Pi of plaintext; *out = C0 C1 ... Cn (plaintext.size + 8 bytes). The
  // caller pads: returns false, leaving *out untouched, when plaintext.size is
  // not a multiple of 8 or out is null. plaintext may view *out.
  bool Encipher(ByteView plaintext, Bytes* out) const;

  // Inverse framing: C0 is taken as the chaining value without being checked,
  // then Pi = D(Ci) XOR Ci-1; *out = P1 ... Pn (ciphertext.size - 8 bytes).
  // Returns false, leaving *out untouched, when ciphertext.size is not a
  // positive multiple of 8 or out is null. ciphertext may view *out.
  bool Decipher(ByteView ciphertext, Bytes* out) const;

 private:
  // The 16 rounds on a block already through the initial permutation (left
  // half in the low 32 bits, each half rotated left by one bit); returns
  // L16 R16 the same way, unswapped.
  uint64_t ForwardRounds(uint64_t block) const;
  // Undoes ForwardRounds exactly.
  uint64_t BackwardRounds(uint64_t block) const;
  // BackwardRounds on two independent blocks at once, interleaved: each
  // round is a chain of table loads, and two chains keep the core busier.
  void BackwardRoundsPair(uint64_t* a, uint64_t* b) const;

  uint8_t key_[8];  // key material K, enciphered as the first CBC block
  // Subkey i as two words of four 6-bit groups, one group per byte: [0] holds
  // groups 1, 3, 5, 7 and [1] groups 2, 4, 6, 8 (counting from 1), each group
  // with its first bit lowest, matching the expansion in the round function.
  uint32_t subkeys_[16][2];
};

}  // namespace protocol
}  // namespace quill

#endif  // QUILL_PROTOCOL_ENVELOPE_CIPHER_H_
