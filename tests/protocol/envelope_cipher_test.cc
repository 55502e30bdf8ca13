#include "protocol/envelope_cipher.h"

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "gtest/gtest.h"

namespace quill {
namespace protocol {
namespace {

// ---------------------------------------------------------------------------
// A slow model of the block function, bit by bit, written from the FIPS 46-3
// tables and kept apart from the table-driven cipher. Its three differences
// from DES are switches, so that with all three off it must be DES itself.

struct Variant {
  bool lowest_bit_first;   // bit 1 is the lowest bit of byte 0, not the highest
  bool sbox_value_low_first;  // an S-box value is laid out bit 0 first, not bit 3
  bool final_swap;         // R16 L16, not L16 R16, enter the final permutation
};
constexpr Variant kEnvelope = {true, true, false};
constexpr Variant kDes = {false, false, true};

constexpr uint8_t kIp[64] = {58, 50, 42, 34, 26, 18, 10, 2,  60, 52, 44, 36, 28, 20, 12, 4,
                             62, 54, 46, 38, 30, 22, 14, 6,  64, 56, 48, 40, 32, 24, 16, 8,
                             57, 49, 41, 33, 25, 17, 9,  1,  59, 51, 43, 35, 27, 19, 11, 3,
                             61, 53, 45, 37, 29, 21, 13, 5,  63, 55, 47, 39, 31, 23, 15, 7};
constexpr uint8_t kIpInverse[64] = {40, 8, 48, 16, 56, 24, 64, 32, 39, 7, 47, 15, 55, 23, 63, 31,
                                    38, 6, 46, 14, 54, 22, 62, 30, 37, 5, 45, 13, 53, 21, 61, 29,
                                    36, 4, 44, 12, 52, 20, 60, 28, 35, 3, 43, 11, 51, 19, 59, 27,
                                    34, 2, 42, 10, 50, 18, 58, 26, 33, 1, 41, 9,  49, 17, 57, 25};
constexpr uint8_t kE[48] = {32, 1,  2,  3,  4,  5,  4,  5,  6,  7,  8,  9,  8,  9,  10, 11,
                            12, 13, 12, 13, 14, 15, 16, 17, 16, 17, 18, 19, 20, 21, 20, 21,
                            22, 23, 24, 25, 24, 25, 26, 27, 28, 29, 28, 29, 30, 31, 32, 1};
constexpr uint8_t kP[32] = {16, 7, 20, 21, 29, 12, 28, 17, 1,  15, 23, 26, 5,  18, 31, 10,
                            2,  8, 24, 14, 32, 27, 3,  9,  19, 13, 30, 6,  22, 11, 4,  25};
constexpr uint8_t kS[8][4][16] = {
    {{14, 4, 13, 1, 2, 15, 11, 8, 3, 10, 6, 12, 5, 9, 0, 7},
     {0, 15, 7, 4, 14, 2, 13, 1, 10, 6, 12, 11, 9, 5, 3, 8},
     {4, 1, 14, 8, 13, 6, 2, 11, 15, 12, 9, 7, 3, 10, 5, 0},
     {15, 12, 8, 2, 4, 9, 1, 7, 5, 11, 3, 14, 10, 0, 6, 13}},
    {{15, 1, 8, 14, 6, 11, 3, 4, 9, 7, 2, 13, 12, 0, 5, 10},
     {3, 13, 4, 7, 15, 2, 8, 14, 12, 0, 1, 10, 6, 9, 11, 5},
     {0, 14, 7, 11, 10, 4, 13, 1, 5, 8, 12, 6, 9, 3, 2, 15},
     {13, 8, 10, 1, 3, 15, 4, 2, 11, 6, 7, 12, 0, 5, 14, 9}},
    {{10, 0, 9, 14, 6, 3, 15, 5, 1, 13, 12, 7, 11, 4, 2, 8},
     {13, 7, 0, 9, 3, 4, 6, 10, 2, 8, 5, 14, 12, 11, 15, 1},
     {13, 6, 4, 9, 8, 15, 3, 0, 11, 1, 2, 12, 5, 10, 14, 7},
     {1, 10, 13, 0, 6, 9, 8, 7, 4, 15, 14, 3, 11, 5, 2, 12}},
    {{7, 13, 14, 3, 0, 6, 9, 10, 1, 2, 8, 5, 11, 12, 4, 15},
     {13, 8, 11, 5, 6, 15, 0, 3, 4, 7, 2, 12, 1, 10, 14, 9},
     {10, 6, 9, 0, 12, 11, 7, 13, 15, 1, 3, 14, 5, 2, 8, 4},
     {3, 15, 0, 6, 10, 1, 13, 8, 9, 4, 5, 11, 12, 7, 2, 14}},
    {{2, 12, 4, 1, 7, 10, 11, 6, 8, 5, 3, 15, 13, 0, 14, 9},
     {14, 11, 2, 12, 4, 7, 13, 1, 5, 0, 15, 10, 3, 9, 8, 6},
     {4, 2, 1, 11, 10, 13, 7, 8, 15, 9, 12, 5, 6, 3, 0, 14},
     {11, 8, 12, 7, 1, 14, 2, 13, 6, 15, 0, 9, 10, 4, 5, 3}},
    {{12, 1, 10, 15, 9, 2, 6, 8, 0, 13, 3, 4, 14, 7, 5, 11},
     {10, 15, 4, 2, 7, 12, 9, 5, 6, 1, 13, 14, 0, 11, 3, 8},
     {9, 14, 15, 5, 2, 8, 12, 3, 7, 0, 4, 10, 1, 13, 11, 6},
     {4, 3, 2, 12, 9, 5, 15, 10, 11, 14, 1, 7, 6, 0, 8, 13}},
    {{4, 11, 2, 14, 15, 0, 8, 13, 3, 12, 9, 7, 5, 10, 6, 1},
     {13, 0, 11, 7, 4, 9, 1, 10, 14, 3, 5, 12, 2, 15, 8, 6},
     {1, 4, 11, 13, 12, 3, 7, 14, 10, 15, 6, 8, 0, 5, 9, 2},
     {6, 11, 13, 8, 1, 4, 10, 7, 9, 5, 0, 15, 14, 2, 3, 12}},
    {{13, 2, 8, 4, 6, 15, 11, 1, 10, 9, 3, 14, 5, 0, 12, 7},
     {1, 15, 13, 8, 10, 3, 7, 4, 12, 5, 6, 11, 0, 14, 9, 2},
     {7, 11, 4, 1, 9, 12, 14, 2, 0, 6, 10, 13, 15, 3, 5, 8},
     {2, 1, 14, 7, 4, 10, 8, 13, 15, 12, 9, 0, 3, 5, 6, 11}}};
constexpr uint8_t kPc1[56] = {57, 49, 41, 33, 25, 17, 9,  1,  58, 50, 42, 34, 26, 18,
                              10, 2,  59, 51, 43, 35, 27, 19, 11, 3,  60, 52, 44, 36,
                              63, 55, 47, 39, 31, 23, 15, 7,  62, 54, 46, 38, 30, 22,
                              14, 6,  61, 53, 45, 37, 29, 21, 13, 5,  28, 20, 12, 4};
constexpr uint8_t kPc2[48] = {14, 17, 11, 24, 1,  5,  3,  28, 15, 6,  21, 10,
                              23, 19, 12, 4,  26, 8,  16, 7,  27, 20, 13, 2,
                              41, 52, 31, 37, 47, 55, 30, 40, 51, 45, 33, 48,
                              44, 49, 39, 56, 34, 53, 46, 42, 50, 36, 29, 32};
constexpr int kShifts[16] = {1, 1, 2, 2, 2, 2, 2, 2, 1, 2, 2, 2, 2, 2, 2, 1};

// Bit strings indexed from 1, as the tables count; element 0 is unused.
using Bits = std::vector<int>;

Bits ToBits(const uint8_t block[8], const Variant& v) {
  Bits bits(65);
  for (int n = 1; n <= 64; ++n) {
    const int in_byte = (n - 1) % 8;
    bits[n] = (block[(n - 1) / 8] >> (v.lowest_bit_first ? in_byte : 7 - in_byte)) & 1;
  }
  return bits;
}

void FromBits(const Bits& bits, const Variant& v, uint8_t block[8]) {
  std::memset(block, 0, 8);
  for (int n = 1; n <= 64; ++n) {
    const int in_byte = (n - 1) % 8;
    block[(n - 1) / 8] |= bits[n] << (v.lowest_bit_first ? in_byte : 7 - in_byte);
  }
}

Bits Permute(const Bits& in, const uint8_t* table, int n) {
  Bits out(n + 1);
  for (int j = 1; j <= n; ++j) out[j] = in[table[j - 1]];
  return out;
}

Bits Concat(const Bits& a, const Bits& b) {
  Bits out(a);
  out.insert(out.end(), b.begin() + 1, b.end());
  return out;
}

Bits Slice(const Bits& in, int first, int count) {
  Bits out(1);
  out.insert(out.end(), in.begin() + first, in.begin() + first + count);
  return out;
}

Bits Xor(const Bits& a, const Bits& b) {
  Bits out(a.size());
  for (size_t j = 1; j < a.size(); ++j) out[j] = a[j] ^ b[j];
  return out;
}

Bits RotateLeft(const Bits& in, int s) {
  const int n = static_cast<int>(in.size()) - 1;
  Bits out(n + 1);
  for (int j = 1; j <= n; ++j) out[j] = in[(j - 1 + s) % n + 1];
  return out;
}

std::vector<Bits> ReferenceSubkeys(const uint8_t key[8], const Variant& v) {
  const Bits cd = Permute(ToBits(key, v), kPc1, 56);
  Bits c = Slice(cd, 1, 28);
  Bits d = Slice(cd, 29, 28);
  std::vector<Bits> subkeys(17);
  for (int i = 1; i <= 16; ++i) {
    c = RotateLeft(c, kShifts[i - 1]);
    d = RotateLeft(d, kShifts[i - 1]);
    subkeys[i] = Permute(Concat(c, d), kPc2, 48);
  }
  return subkeys;
}

Bits ReferenceF(const Bits& r, const Bits& k, const Variant& v) {
  const Bits x = Xor(Permute(r, kE, 48), k);
  Bits s(33);
  for (int g = 0; g < 8; ++g) {
    const int* b = &x[6 * g];  // b[1] .. b[6]
    const int value = kS[g][2 * b[1] + b[6]][8 * b[2] + 4 * b[3] + 2 * b[4] + b[5]];
    for (int i = 0; i < 4; ++i) {
      s[4 * g + 1 + i] = (value >> (v.sbox_value_low_first ? i : 3 - i)) & 1;
    }
  }
  return Permute(s, kP, 32);
}

// E (decrypt false) or D (decrypt true) of one block.
void ReferenceBlock(const uint8_t key[8], const uint8_t in[8], const Variant& v, bool decrypt,
                    uint8_t out[8]) {
  const std::vector<Bits> k = ReferenceSubkeys(key, v);
  const Bits permuted = Permute(ToBits(in, v), kIp, 64);
  Bits first = Slice(permuted, 1, 32);
  Bits second = Slice(permuted, 33, 32);
  Bits l, r;
  if (!decrypt) {
    l = first;  // L0
    r = second;  // R0
    for (int i = 1; i <= 16; ++i) {
      Bits next_r = Xor(l, ReferenceF(r, k[i], v));
      l = r;
      r = next_r;
    }
    if (v.final_swap) std::swap(l, r);
  } else {
    // The input was made from L16 R16, or from R16 L16 with the final swap.
    l = v.final_swap ? second : first;
    r = v.final_swap ? first : second;
    for (int i = 16; i >= 1; --i) {
      Bits previous_l = Xor(r, ReferenceF(l, k[i], v));
      r = l;
      l = previous_l;
    }
  }
  FromBits(Permute(Concat(l, r), kIpInverse, 64), v, out);
}

// ---------------------------------------------------------------------------

Bytes FromHex(const std::string& hex) {
  Bytes out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    out.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return out;
}

std::string ToHex(const uint8_t* p, size_t n) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (size_t i = 0; i < n; ++i) {
    out += kDigits[p[i] >> 4];
    out += kDigits[p[i] & 15];
  }
  return out;
}

std::string ToHex(const Bytes& b) { return ToHex(b.data(), b.size()); }

Bytes RandomBytes(std::mt19937* rng, size_t n) {
  Bytes out(n);
  for (auto& b : out) b = static_cast<uint8_t>((*rng)());
  return out;
}

TEST(EnvelopeReferenceTest, WithTheDifferencesOffIsDes) {
  const Bytes key = FromHex("133457799BBCDFF1");
  const Bytes plain = FromHex("0123456789ABCDEF");
  uint8_t out[8];
  ReferenceBlock(key.data(), plain.data(), kDes, false, out);
  EXPECT_EQ(ToHex(out, 8), "85E813540F0AB405");
  uint8_t back[8];
  ReferenceBlock(key.data(), out, kDes, true, back);
  EXPECT_EQ(ToHex(back, 8), "0123456789ABCDEF");
}

// Each difference on its own changes the result, so the DES check above
// exercises the same code that the envelope variant runs through.
TEST(EnvelopeReferenceTest, EachDifferenceMatters) {
  const Bytes key = FromHex("133457799BBCDFF1");
  const Bytes plain = FromHex("0123456789ABCDEF");
  uint8_t base[8];
  ReferenceBlock(key.data(), plain.data(), kEnvelope, false, base);
  const Variant single[] = {{false, true, false}, {true, false, false}, {true, true, true}};
  for (const Variant& v : single) {
    uint8_t out[8];
    ReferenceBlock(key.data(), plain.data(), v, false, out);
    EXPECT_NE(ToHex(out, 8), ToHex(base, 8));
  }
}

struct BlockVector {
  const char* key;
  const char* plain;
  const char* cipher;
};

// Computed with the reference model above.
const BlockVector kBlockVectors[] = {
    {"133457799BBCDFF1", "0123456789ABCDEF", "D172A2135BDCCB97"},
    {"0000000000000000", "0000000000000000", "ACEC93D9A7C03C98"},
    {"6531306164633339", "0102030405060708", "FC0C7CC932378950"},  // key text "e10adc39"
    {"FFFFFFFFFFFFFFFF", "FFFFFFFFFFFFFFFF", "53136C26583FC367"},
};

TEST(EnvelopeCipherTest, FixedBlockVectors) {
  for (const BlockVector& v : kBlockVectors) {
    SCOPED_TRACE(v.key);
    const Bytes key = FromHex(v.key);
    const Bytes plain = FromHex(v.plain);
    uint8_t reference[8];
    ReferenceBlock(key.data(), plain.data(), kEnvelope, false, reference);
    EXPECT_EQ(ToHex(reference, 8), v.cipher);

    const EnvelopeCipher cipher(key.data());
    uint8_t out[8];
    cipher.EncryptBlock(plain.data(), out);
    EXPECT_EQ(ToHex(out, 8), v.cipher);
    cipher.DecryptBlock(out, out);
    EXPECT_EQ(ToHex(out, 8), v.plain);
  }
}

TEST(EnvelopeCipherTest, BlockFunctionsMatchReference) {
  std::mt19937 rng(20261207);
  for (int i = 0; i < 300; ++i) {
    const Bytes key = RandomBytes(&rng, 8);
    const Bytes block = RandomBytes(&rng, 8);
    const EnvelopeCipher cipher(key.data());
    uint8_t fast[8], slow[8];
    cipher.EncryptBlock(block.data(), fast);
    ReferenceBlock(key.data(), block.data(), kEnvelope, false, slow);
    ASSERT_EQ(ToHex(fast, 8), ToHex(slow, 8)) << "E, key " << ToHex(key);
    cipher.DecryptBlock(block.data(), fast);
    ReferenceBlock(key.data(), block.data(), kEnvelope, true, slow);
    ASSERT_EQ(ToHex(fast, 8), ToHex(slow, 8)) << "D, key " << ToHex(key);
  }
}

TEST(EnvelopeCipherTest, DecryptInvertsEncrypt) {
  std::mt19937 rng(7);
  for (int k = 0; k < 200; ++k) {
    const Bytes key = RandomBytes(&rng, 8);
    const EnvelopeCipher cipher(key.data());
    for (int i = 0; i < 20; ++i) {
      const Bytes block = RandomBytes(&rng, 8);
      uint8_t there[8], back[8];
      cipher.EncryptBlock(block.data(), there);
      cipher.DecryptBlock(there, back);
      ASSERT_EQ(ToHex(back, 8), ToHex(block));
      cipher.DecryptBlock(block.data(), there);
      cipher.EncryptBlock(there, back);
      ASSERT_EQ(ToHex(back, 8), ToHex(block));
    }
  }
}

// Encipher is CBC with an all-zero start value over the blocks K, P1 .. Pn.
TEST(EnvelopeCipherTest, EncipherIsZeroStartCbcOverKeyAndPlaintext) {
  std::mt19937 rng(11);
  for (int trial = 0; trial < 40; ++trial) {
    const Bytes key = RandomBytes(&rng, 8);
    const Bytes plain = RandomBytes(&rng, 8 * (trial % 6));
    Bytes blocks = key;
    blocks.insert(blocks.end(), plain.begin(), plain.end());
    Bytes expected(blocks.size());
    uint8_t chain[8] = {0};
    for (size_t i = 0; i < blocks.size(); i += 8) {
      uint8_t x[8];
      for (int j = 0; j < 8; ++j) x[j] = blocks[i + j] ^ chain[j];
      ReferenceBlock(key.data(), x, kEnvelope, false, chain);
      std::memcpy(&expected[i], chain, 8);
    }
    Bytes out;
    ASSERT_TRUE(EnvelopeCipher(key.data()).Encipher(plain, &out));
    ASSERT_EQ(ToHex(out), ToHex(expected));
  }
}

// Decipher takes C0 as the chaining value whatever it holds.
TEST(EnvelopeCipherTest, DecipherChainsFromAnUncheckedFirstBlock) {
  std::mt19937 rng(13);
  for (int trial = 0; trial < 40; ++trial) {
    const Bytes key = RandomBytes(&rng, 8);
    const Bytes text = RandomBytes(&rng, 8 * (1 + trial % 6));
    Bytes expected;
    for (size_t i = 8; i < text.size(); i += 8) {
      uint8_t p[8];
      ReferenceBlock(key.data(), &text[i], kEnvelope, true, p);
      for (int j = 0; j < 8; ++j) expected.push_back(p[j] ^ text[i - 8 + j]);
    }
    Bytes out = FromHex("AA");  // replaced, not appended to
    ASSERT_TRUE(EnvelopeCipher(key.data()).Decipher(text, &out));
    ASSERT_EQ(ToHex(out), ToHex(expected));
  }
}

TEST(EnvelopeCipherTest, DecipherInvertsEncipher) {
  std::mt19937 rng(17);
  for (int trial = 0; trial < 200; ++trial) {
    const Bytes key = RandomBytes(&rng, 8);
    const Bytes plain = RandomBytes(&rng, 8 * (rng() % 40));
    const EnvelopeCipher cipher(key.data());
    Bytes sealed, opened;
    ASSERT_TRUE(cipher.Encipher(plain, &sealed));
    ASSERT_EQ(sealed.size(), plain.size() + 8);
    ASSERT_TRUE(cipher.Decipher(sealed, &opened));
    ASSERT_EQ(ToHex(opened), ToHex(plain));
  }
}

TEST(EnvelopeCipherTest, FixedCbcVector) {
  uint8_t key[8];
  EnvelopeKeyMaterial(std::string_view("e10adc3949ba59abbe56e057f20f883e"), key);
  // "hello" padded as the session layer pads it.
  const Bytes plain = FromHex("68656C6C6F030303");
  Bytes out;
  ASSERT_TRUE(EnvelopeCipher(key).Encipher(plain, &out));
  EXPECT_EQ(ToHex(out), "661FA45640F8946F95CAEDA0A6D71BF8");
}

TEST(EnvelopeCipherTest, BuffersMayBeShared) {
  std::mt19937 rng(19);
  const Bytes key = RandomBytes(&rng, 8);
  const EnvelopeCipher cipher(key.data());
  const Bytes plain = RandomBytes(&rng, 64);

  Bytes expected;
  ASSERT_TRUE(cipher.Encipher(plain, &expected));
  Bytes buffer = plain;
  ASSERT_TRUE(cipher.Encipher(buffer, &buffer));
  EXPECT_EQ(ToHex(buffer), ToHex(expected));
  ASSERT_TRUE(cipher.Decipher(buffer, &buffer));
  EXPECT_EQ(ToHex(buffer), ToHex(plain));

  uint8_t block[8], separate[8];
  std::memcpy(block, plain.data(), 8);
  cipher.EncryptBlock(block, separate);
  cipher.EncryptBlock(block, block);
  EXPECT_EQ(ToHex(block, 8), ToHex(separate, 8));
  cipher.DecryptBlock(block, block);
  EXPECT_EQ(ToHex(block, 8), ToHex(plain.data(), 8));
}

TEST(EnvelopeCipherTest, RejectsBadLengths) {
  const uint8_t key[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  const EnvelopeCipher cipher(key);
  const Bytes data(24, 0x5a);
  const Bytes untouched = FromHex("0102");
  for (size_t n : {1, 7, 9, 15, 23}) {
    Bytes out = untouched;
    EXPECT_FALSE(cipher.Encipher(ByteView(data.data(), n), &out)) << n;
    EXPECT_EQ(out, untouched);
  }
  for (size_t n : {0, 1, 7, 12, 17}) {
    Bytes out = untouched;
    EXPECT_FALSE(cipher.Decipher(ByteView(data.data(), n), &out)) << n;
    EXPECT_EQ(out, untouched);
  }
  EXPECT_FALSE(cipher.Encipher(ByteView(data.data(), 8), nullptr));
  EXPECT_FALSE(cipher.Decipher(ByteView(data.data(), 16), nullptr));

  // The shortest legal inputs: no plaintext gives C0 alone, C0 alone gives
  // no plaintext.
  Bytes out;
  ASSERT_TRUE(cipher.Encipher(ByteView(), &out));
  uint8_t c0[8];
  cipher.EncryptBlock(key, c0);
  EXPECT_EQ(ToHex(out), ToHex(c0, 8));
  ASSERT_TRUE(cipher.Decipher(out, &out));
  EXPECT_TRUE(out.empty());
}

TEST(EnvelopeKeyMaterialTest, FirstEightBytesZeroPadded) {
  uint8_t out[8];
  EnvelopeKeyMaterial(std::string_view("0123456789abcdef"), out);
  EXPECT_EQ(ToHex(out, 8), ToHex(FromHex("3031323334353637")));
  EnvelopeKeyMaterial(std::string_view("01234567"), out);
  EXPECT_EQ(ToHex(out, 8), ToHex(FromHex("3031323334353637")));
  EnvelopeKeyMaterial(std::string_view("abcde"), out);
  EXPECT_EQ(ToHex(out, 8), "6162636465000000");
  EnvelopeKeyMaterial(ByteView(), out);
  EXPECT_EQ(ToHex(out, 8), "0000000000000000");
}

}  // namespace
}  // namespace protocol
}  // namespace quill
