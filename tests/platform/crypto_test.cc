#include "platform/crypto.h"

#include <gtest/gtest.h>

#include <cstring>

namespace quill {
namespace crypto {
namespace {

TEST(Crypto, Md5KnownVectors) {
  uint8_t d[16];
  Md5(ByteView(std::string_view("abc")), d);
  const uint8_t abc[16] = {0x90, 0x01, 0x50, 0x98, 0x3c, 0xd2, 0x4f, 0xb0,
                           0xd6, 0x96, 0x3f, 0x7d, 0x28, 0xe1, 0x7f, 0x72};
  EXPECT_EQ(0, memcmp(d, abc, 16));
}

TEST(Crypto, Md5StreamMatchesTheDigestOfTheWholeAndStartsOver) {
  std::string data;
  for (int i = 0; i < 40000; ++i) data += static_cast<char>(i * 7 + i / 256);
  uint8_t whole[16], parts[16], again[16];
  Md5(ByteView(data), whole);
  Md5Stream stream;
  for (size_t at = 0; at < data.size(); at += 16384) {
    stream.Update(ByteView(std::string_view(data).substr(at, 16384)));
  }
  stream.Update(ByteView());
  stream.Finish(parts);
  EXPECT_EQ(0, memcmp(whole, parts, 16));
  stream.Update(ByteView(data));
  stream.Finish(again);
  EXPECT_EQ(0, memcmp(whole, again, 16));
}

TEST(Crypto, RandomBytesDiffer) {
  uint8_t a[2000] = {}, b[2000] = {};  // spans more than one DRBG request
  ASSERT_TRUE(RandomBytes(a, sizeof(a)));
  ASSERT_TRUE(RandomBytes(b, sizeof(b)));
  EXPECT_NE(0, memcmp(a, b, sizeof(a)));
}

TEST(Crypto, PublicKeyRejectsNonHexTexts) {
  RsaPublicKey key;
  EXPECT_EQ(key.Parse("", "010001"), RsaPublicKey::ParseStatus::kBadModulus);
  EXPECT_EQ(key.Parse("-ABCD", "010001"), RsaPublicKey::ParseStatus::kBadModulus);
  EXPECT_EQ(key.Parse("0xAB", "010001"), RsaPublicKey::ParseStatus::kBadModulus);
  EXPECT_EQ(key.Parse("ABCD", "01 0001"), RsaPublicKey::ParseStatus::kBadExponent);
  EXPECT_EQ(key.ModulusBytes(), 0u);
}

TEST(Crypto, EncryptThenPrivateDecrypt) {
  RsaKeyPair pair;
  ASSERT_TRUE(pair.Generate(1024));
  EXPECT_EQ(pair.ModulusBytes(), 128u);
  EXPECT_EQ(pair.ExponentHex(), "010001");
  RsaPublicKey pub;
  ASSERT_EQ(pub.Parse(pair.ModulusHex(), pair.ExponentHex()), RsaPublicKey::ParseStatus::kOk);
  ASSERT_EQ(pub.ModulusBytes(), 128u);
  const std::string msg = "secret login request";
  Bytes block(128);
  ASSERT_TRUE(pub.EncryptPkcs1(ByteView(msg), block.data()));
  Bytes plain;
  ASSERT_TRUE(pair.DecryptPkcs1(block, &plain));
  EXPECT_EQ(ByteView(plain).ToString(), msg);
  // Too long for one PKCS #1 v1.5 block.
  EXPECT_FALSE(pub.EncryptPkcs1(ByteView(Bytes(118, 1)), block.data()));
  // A damaged block does not decrypt.
  block[5] ^= 1;
  EXPECT_FALSE(pair.DecryptPkcs1(block, &plain));
}

TEST(Crypto, KeyPairSurvivesExportAndImport) {
  RsaKeyPair pair;
  ASSERT_TRUE(pair.Generate(1024));
  RsaPrivateText text;
  ASSERT_TRUE(pair.Export(&text));
  RsaKeyPair copy;
  ASSERT_TRUE(copy.Import(text));
  EXPECT_EQ(copy.ModulusHex(), pair.ModulusHex());
  RsaPublicKey pub;
  ASSERT_EQ(pub.Parse(pair.ModulusHex(), pair.ExponentHex()), RsaPublicKey::ParseStatus::kOk);
  Bytes block(128);
  ASSERT_TRUE(pub.EncryptPkcs1(ByteView(std::string("kept key")), block.data()));
  Bytes plain;
  ASSERT_TRUE(copy.DecryptPkcs1(block, &plain));
  EXPECT_EQ(ByteView(plain).ToString(), "kept key");

  // Numbers that do not belong together are no key at all.
  RsaPrivateText broken = text;
  broken.prime1 = text.prime2;
  EXPECT_FALSE(copy.Import(broken));
  EXPECT_EQ(copy.ModulusBytes(), 0u);
  broken = text;
  broken.private_exponent = "XYZ";
  EXPECT_FALSE(copy.Import(broken));
  RsaKeyPair empty;
  EXPECT_FALSE(empty.Export(&text));
}

}  // namespace
}  // namespace crypto
}  // namespace quill
