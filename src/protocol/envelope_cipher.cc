#include "protocol/envelope_cipher.h"

#include <array>
#include <utility>

namespace quill {
namespace protocol {
namespace {

// The FIPS 46-3 tables. Entries are bit numbers counted from 1.
//
// Bit n of a block is bit (n - 1) % 8 of byte (n - 1) / 8, lowest bit first,
// so it is bit n - 1 of the block read as a little-endian 64-bit word. Every
// word below uses that layout: table entry n means word position n - 1.

constexpr uint8_t kInitialPermutation[64] = {
    58, 50, 42, 34, 26, 18, 10, 2, 60, 52, 44, 36, 28, 20, 12, 4,
    62, 54, 46, 38, 30, 22, 14, 6, 64, 56, 48, 40, 32, 24, 16, 8,
    57, 49, 41, 33, 25, 17, 9,  1, 59, 51, 43, 35, 27, 19, 11, 3,
    61, 53, 45, 37, 29, 21, 13, 5, 63, 55, 47, 39, 31, 23, 15, 7};

constexpr uint8_t kFinalPermutation[64] = {
    40, 8, 48, 16, 56, 24, 64, 32, 39, 7, 47, 15, 55, 23, 63, 31,
    38, 6, 46, 14, 54, 22, 62, 30, 37, 5, 45, 13, 53, 21, 61, 29,
    36, 4, 44, 12, 52, 20, 60, 28, 35, 3, 43, 11, 51, 19, 59, 27,
    34, 2, 42, 10, 50, 18, 58, 26, 33, 1, 41, 9,  49, 17, 57, 25};

// The expansion E is not tabled: its groups are runs of consecutive bits,
// which RoundFunction takes with a rotation.

constexpr uint8_t kRoundPermutation[32] = {
    16, 7, 20, 21, 29, 12, 28, 17, 1,  15, 23, 26, 5,  18, 31, 10,
    2,  8, 24, 14, 32, 27, 3,  9,  19, 13, 30, 6,  22, 11, 4,  25};

// S-box s, row r, column c is kSboxes[s][16 * r + c].
constexpr uint8_t kSboxes[8][64] = {
    {14, 4,  13, 1, 2,  15, 11, 8,  3,  10, 6,  12, 5,  9,  0, 7,
     0,  15, 7,  4, 14, 2,  13, 1,  10, 6,  12, 11, 9,  5,  3, 8,
     4,  1,  14, 8, 13, 6,  2,  11, 15, 12, 9,  7,  3,  10, 5, 0,
     15, 12, 8,  2, 4,  9,  1,  7,  5,  11, 3,  14, 10, 0,  6, 13},
    {15, 1,  8,  14, 6,  11, 3,  4,  9,  7, 2,  13, 12, 0, 5,  10,
     3,  13, 4,  7,  15, 2,  8,  14, 12, 0, 1,  10, 6,  9, 11, 5,
     0,  14, 7,  11, 10, 4,  13, 1,  5,  8, 12, 6,  9,  3, 2,  15,
     13, 8,  10, 1,  3,  15, 4,  2,  11, 6, 7,  12, 0,  5, 14, 9},
    {10, 0,  9,  14, 6, 3,  15, 5,  1,  13, 12, 7,  11, 4,  2,  8,
     13, 7,  0,  9,  3, 4,  6,  10, 2,  8,  5,  14, 12, 11, 15, 1,
     13, 6,  4,  9,  8, 15, 3,  0,  11, 1,  2,  12, 5,  10, 14, 7,
     1,  10, 13, 0,  6, 9,  8,  7,  4,  15, 14, 3,  11, 5,  2,  12},
    {7,  13, 14, 3, 0,  6,  9,  10, 1,  2, 8, 5,  11, 12, 4,  15,
     13, 8,  11, 5, 6,  15, 0,  3,  4,  7, 2, 12, 1,  10, 14, 9,
     10, 6,  9,  0, 12, 11, 7,  13, 15, 1, 3, 14, 5,  2,  8,  4,
     3,  15, 0,  6, 10, 1,  13, 8,  9,  4, 5, 11, 12, 7,  2,  14},
    {2,  12, 4,  1,  7,  10, 11, 6,  8,  5,  3,  15, 13, 0, 14, 9,
     14, 11, 2,  12, 4,  7,  13, 1,  5,  0,  15, 10, 3,  9, 8,  6,
     4,  2,  1,  11, 10, 13, 7,  8,  15, 9,  12, 5,  6,  3, 0,  14,
     11, 8,  12, 7,  1,  14, 2,  13, 6,  15, 0,  9,  10, 4, 5,  3},
    {12, 1,  10, 15, 9, 2,  6,  8,  0,  13, 3,  4,  14, 7,  5,  11,
     10, 15, 4,  2,  7, 12, 9,  5,  6,  1,  13, 14, 0,  11, 3,  8,
     9,  14, 15, 5,  2, 8,  12, 3,  7,  0,  4,  10, 1,  13, 11, 6,
     4,  3,  2,  12, 9, 5,  15, 10, 11, 14, 1,  7,  6,  0,  8,  13},
    {4,  11, 2,  14, 15, 0, 8,  13, 3,  12, 9, 7,  5,  10, 6, 1,
     13, 0,  11, 7,  4,  9, 1,  10, 14, 3,  5, 12, 2,  15, 8, 6,
     1,  4,  11, 13, 12, 3, 7,  14, 10, 15, 6, 8,  0,  5,  9, 2,
     6,  11, 13, 8,  1,  4, 10, 7,  9,  5,  0, 15, 14, 2,  3, 12},
    {13, 2,  8,  4, 6,  15, 11, 1,  10, 9,  3,  14, 5,  0,  12, 7,
     1,  15, 13, 8, 10, 3,  7,  4,  12, 5,  6,  11, 0,  14, 9,  2,
     7,  11, 4,  1, 9,  12, 14, 2,  0,  6,  10, 13, 15, 3,  5,  8,
     2,  1,  14, 7, 4,  10, 8,  13, 15, 12, 9,  0,  3,  5,  6,  11}};

constexpr uint8_t kPermutedChoice1[56] = {
    57, 49, 41, 33, 25, 17, 9,  1,  58, 50, 42, 34, 26, 18,
    10, 2,  59, 51, 43, 35, 27, 19, 11, 3,  60, 52, 44, 36,
    63, 55, 47, 39, 31, 23, 15, 7,  62, 54, 46, 38, 30, 22,
    14, 6,  61, 53, 45, 37, 29, 21, 13, 5,  28, 20, 12, 4};

constexpr uint8_t kPermutedChoice2[48] = {
    14, 17, 11, 24, 1,  5,  3,  28, 15, 6,  21, 10,
    23, 19, 12, 4,  26, 8,  16, 7,  27, 20, 13, 2,
    41, 52, 31, 37, 47, 55, 30, 40, 51, 45, 33, 48,
    44, 49, 39, 56, 34, 53, 46, 42, 50, 36, 29, 32};

constexpr uint8_t kKeyShifts[16] = {1, 1, 2, 2, 2, 2, 2, 2, 1, 2, 2, 2, 2, 2, 2, 1};

// CBC encipher keeps its chaining value between the permutations, which is
// sound only because the final permutation undoes the initial one.
constexpr bool FinalUndoesInitial() {
  for (int i = 0; i < 64; ++i) {
    if (kInitialPermutation[kFinalPermutation[i] - 1] != i + 1) return false;
  }
  return true;
}
static_assert(FinalUndoesInitial(), "FP must be the inverse of IP");

// A bit permutation as lookup tables: the input word is cut into eight
// chunks of kChunkBits bits, chunk c indexes entry[c], and the entries OR
// together into the output word.
template <int kChunkBits>
struct PermutationTable {
  std::array<std::array<uint64_t, 1 << kChunkBits>, 8> entry;

  uint64_t Apply(uint64_t in) const {
    constexpr uint64_t kMask = (uint64_t{1} << kChunkBits) - 1;
    constexpr int w = kChunkBits;
    return (entry[0][in & kMask] | entry[1][(in >> w) & kMask]) |
           (entry[2][(in >> 2 * w) & kMask] | entry[3][(in >> 3 * w) & kMask]) |
           (entry[4][(in >> 4 * w) & kMask] | entry[5][(in >> 5 * w) & kMask]) |
           (entry[6][(in >> 6 * w) & kMask] | entry[7][(in >> 7 * w) & kMask]);
  }
};

// Builds the table in which output bit j + 1 takes input bit source[j];
// in_position and out_position give the word position of a bit number.
template <int kChunkBits, size_t N>
constexpr PermutationTable<kChunkBits> MakePermutation(const uint8_t (&source)[N],
                                                       int (*in_position)(int),
                                                       int (*out_position)(int)) {
  PermutationTable<kChunkBits> table{};
  for (size_t j = 0; j < N; ++j) {
    const int in = in_position(source[j]);
    const uint64_t out = uint64_t{1} << out_position(static_cast<int>(j) + 1);
    for (int v = 0; v < (1 << kChunkBits); ++v) {
      if ((v >> (in % kChunkBits)) & 1) table.entry[in / kChunkBits][v] |= out;
    }
  }
  return table;
}

constexpr uint32_t RotateLeft(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

constexpr int PlainPosition(int n) { return n - 1; }

// Between the two permutations each 32-bit half is kept rotated left by one
// bit, half bit 32 lowest: the expansion's first group (bits 32, 1 .. 5) then
// starts at bit 0 and the round function needs no rotation for it.
constexpr int RotatedHalvesPosition(int n) { return ((n - 1) & 32) | (n & 31); }

// Subkey bit n belongs to group g = (n - 1) / 6; see subkeys_ for where the
// group goes.
constexpr int SubkeyPosition(int n) {
  const int group = (n - 1) / 6;
  return (group & 1) * 32 + (group >> 1) * 8 + (n - 1) % 6;
}

// Byte-indexed tables for the block permutations. PC-1 puts C in the low 28
// bits and D above it; PC-2 reads that C D word 7 bits at a time.
constexpr auto kIpTable =
    MakePermutation<8>(kInitialPermutation, PlainPosition, RotatedHalvesPosition);
constexpr auto kFpTable =
    MakePermutation<8>(kFinalPermutation, RotatedHalvesPosition, PlainPosition);
constexpr auto kPc1Table = MakePermutation<8>(kPermutedChoice1, PlainPosition, PlainPosition);
constexpr auto kPc2Table = MakePermutation<7>(kPermutedChoice2, PlainPosition, SubkeyPosition);

// S-box s followed by P, indexed by a byte whose low 6 bits are the group
// b1..b6 with b1 lowest; the top two bits are ignored, so the round function
// indexes with whole bytes and needs no masks. Row 2 b1 + b6, column
// 8 b2 + 4 b3 + 2 b4 + b5; the value v fills round output bits 4s + 1 ..
// 4s + 4 with v's bits 0 .. 3 in that order. Results come rotated like the
// halves they are XORed into.
constexpr std::array<std::array<uint32_t, 256>, 8> MakeSboxPermutation() {
  std::array<std::array<uint32_t, 256>, 8> table{};
  for (int s = 0; s < 8; ++s) {
    for (int index = 0; index < 256; ++index) {
      const int b1 = index & 1, b2 = (index >> 1) & 1, b3 = (index >> 2) & 1;
      const int b4 = (index >> 3) & 1, b5 = (index >> 4) & 1, b6 = (index >> 5) & 1;
      const int v = kSboxes[s][16 * (2 * b1 + b6) + (8 * b2 + 4 * b3 + 2 * b4 + b5)];
      uint32_t out = 0;
      for (int j = 0; j < 32; ++j) {
        const int from = kRoundPermutation[j] - 1;
        if (from / 4 == s && ((v >> (from % 4)) & 1)) out |= uint32_t{1} << j;
      }
      table[s][index] = RotateLeft(out, 1);
    }
  }
  return table;
}
constexpr auto kSp = MakeSboxPermutation();

// f(R, K) = P(S(E(R) XOR K)) on a rotated half r. Expansion group g (from 0)
// is the run of half bits 4g .. 4g + 5, bit 0 read as 32 and bit 33 as 1: in
// r it starts at bit 4g, so the even groups sit at byte boundaries, and
// rotating r four bits to the right brings the odd ones there too.
inline uint32_t RoundFunction(uint32_t r, const uint32_t subkey[2]) {
  const uint32_t even = r ^ subkey[0];
  const uint32_t odd = RotateLeft(r, 28) ^ subkey[1];
  const uint32_t even_high = even >> 16;
  const uint32_t odd_high = odd >> 16;
  return kSp[0][even & 0xff] | kSp[1][odd & 0xff] | kSp[2][(even >> 8) & 0xff] |
         kSp[3][(odd >> 8) & 0xff] | kSp[4][even_high & 0xff] | kSp[5][odd_high & 0xff] |
         kSp[6][even_high >> 8] | kSp[7][odd_high >> 8];
}

inline uint64_t Load(const uint8_t* p) {
  return uint64_t{p[0]} | uint64_t{p[1]} << 8 | uint64_t{p[2]} << 16 | uint64_t{p[3]} << 24 |
         uint64_t{p[4]} << 32 | uint64_t{p[5]} << 40 | uint64_t{p[6]} << 48 |
         uint64_t{p[7]} << 56;
}

inline void Store(uint64_t x, uint8_t* p) {
  p[0] = static_cast<uint8_t>(x);
  p[1] = static_cast<uint8_t>(x >> 8);
  p[2] = static_cast<uint8_t>(x >> 16);
  p[3] = static_cast<uint8_t>(x >> 24);
  p[4] = static_cast<uint8_t>(x >> 32);
  p[5] = static_cast<uint8_t>(x >> 40);
  p[6] = static_cast<uint8_t>(x >> 48);
  p[7] = static_cast<uint8_t>(x >> 56);
}

// C and D hold bit 1 lowest, so the left rotation of the key schedule, which
// moves bit n + s to bit n, is a right rotation of the 28-bit word.
inline uint32_t RotateHalfKey(uint32_t x, int n) {
  return ((x >> n) | (x << (28 - n))) & 0x0fffffff;
}

}  // namespace

void EnvelopeKeyMaterial(ByteView key_text, uint8_t out[8]) {
  for (size_t i = 0; i < EnvelopeCipher::kBlockSize; ++i) {
    out[i] = i < key_text.size ? key_text.data[i] : 0;
  }
}

EnvelopeCipher::EnvelopeCipher(const uint8_t key[8]) {
  for (size_t i = 0; i < kBlockSize; ++i) key_[i] = key[i];
  const uint64_t cd = kPc1Table.Apply(Load(key));
  uint32_t c = static_cast<uint32_t>(cd & 0x0fffffff);
  uint32_t d = static_cast<uint32_t>(cd >> 28);
  for (int i = 0; i < 16; ++i) {
    c = RotateHalfKey(c, kKeyShifts[i]);
    d = RotateHalfKey(d, kKeyShifts[i]);
    const uint64_t subkey = kPc2Table.Apply(c | (uint64_t{d} << 28));
    subkeys_[i][0] = static_cast<uint32_t>(subkey);
    subkeys_[i][1] = static_cast<uint32_t>(subkey >> 32);
  }
}

uint64_t EnvelopeCipher::ForwardRounds(uint64_t block) const {
  // Two rounds per step leave L and R in their own variables, so no swap is
  // ever made: after round 16, l is L16 and r is R16.
  uint32_t l = static_cast<uint32_t>(block);
  uint32_t r = static_cast<uint32_t>(block >> 32);
#pragma GCC unroll 8
  for (int i = 0; i < 16; i += 2) {
    l ^= RoundFunction(r, subkeys_[i]);
    r ^= RoundFunction(l, subkeys_[i + 1]);
  }
  return l | (uint64_t{r} << 32);
}

uint64_t EnvelopeCipher::BackwardRounds(uint64_t block) const {
  // Each step undoes one step of ForwardRounds, last subkey first.
  uint32_t l = static_cast<uint32_t>(block);
  uint32_t r = static_cast<uint32_t>(block >> 32);
#pragma GCC unroll 8
  for (int i = 15; i > 0; i -= 2) {
    r ^= RoundFunction(l, subkeys_[i]);
    l ^= RoundFunction(r, subkeys_[i - 1]);
  }
  return l | (uint64_t{r} << 32);
}

void EnvelopeCipher::BackwardRoundsPair(uint64_t* a, uint64_t* b) const {
  uint32_t la = static_cast<uint32_t>(*a), ra = static_cast<uint32_t>(*a >> 32);
  uint32_t lb = static_cast<uint32_t>(*b), rb = static_cast<uint32_t>(*b >> 32);
#pragma GCC unroll 8
  for (int i = 15; i > 0; i -= 2) {
    ra ^= RoundFunction(la, subkeys_[i]);
    rb ^= RoundFunction(lb, subkeys_[i]);
    la ^= RoundFunction(ra, subkeys_[i - 1]);
    lb ^= RoundFunction(rb, subkeys_[i - 1]);
  }
  *a = la | (uint64_t{ra} << 32);
  *b = lb | (uint64_t{rb} << 32);
}

void EnvelopeCipher::EncryptBlock(const uint8_t in[8], uint8_t out[8]) const {
  Store(kFpTable.Apply(ForwardRounds(kIpTable.Apply(Load(in)))), out);
}

void EnvelopeCipher::DecryptBlock(const uint8_t in[8], uint8_t out[8]) const {
  Store(kFpTable.Apply(BackwardRounds(kIpTable.Apply(Load(in)))), out);
}

bool EnvelopeCipher::Encipher(ByteView plaintext, Bytes* out) const {
  if (out == nullptr || plaintext.size % kBlockSize != 0) return false;
  Bytes result(plaintext.size + kBlockSize);
  // The chaining value stays permuted: IP(P XOR C) = IP(P) XOR IP(C), and
  // IP(C) is the rounds' output itself, so each block needs one IP and one FP
  // and neither is on the chain from block to block.
  uint64_t chain = ForwardRounds(kIpTable.Apply(Load(key_)));
  Store(kFpTable.Apply(chain), result.data());
  for (size_t i = 0; i < plaintext.size; i += kBlockSize) {
    chain = ForwardRounds(kIpTable.Apply(Load(plaintext.data + i)) ^ chain);
    Store(kFpTable.Apply(chain), result.data() + kBlockSize + i);
  }
  *out = std::move(result);
  return true;
}

bool EnvelopeCipher::Decipher(ByteView ciphertext, Bytes* out) const {
  if (out == nullptr || ciphertext.size == 0 || ciphertext.size % kBlockSize != 0) return false;
  Bytes result(ciphertext.size - kBlockSize);
  // Unlike enciphering, no block waits for another: two go through the
  // rounds together.
  uint64_t previous = Load(ciphertext.data);
  size_t i = kBlockSize;
  for (; i + kBlockSize < ciphertext.size; i += 2 * kBlockSize) {
    const uint64_t first = Load(ciphertext.data + i);
    const uint64_t second = Load(ciphertext.data + i + kBlockSize);
    uint64_t a = kIpTable.Apply(first);
    uint64_t b = kIpTable.Apply(second);
    BackwardRoundsPair(&a, &b);
    Store(kFpTable.Apply(a) ^ previous, result.data() + i - kBlockSize);
    Store(kFpTable.Apply(b) ^ first, result.data() + i);
    previous = second;
  }
  for (; i < ciphertext.size; i += kBlockSize) {
    const uint64_t block = Load(ciphertext.data + i);
    Store(kFpTable.Apply(BackwardRounds(kIpTable.Apply(block))) ^ previous,
          result.data() + i - kBlockSize);
    previous = block;
  }
  *out = std::move(result);
  return true;
}

}  // namespace protocol
}  // namespace quill
