#include "protocol/wire_message.h"

#include <gtest/gtest.h>

#include "protocol/message_heads.h"
#include "tests/protocol/test_util.h"

namespace quill {
namespace protocol {
namespace {

TEST(FramedCodec, FrameRules) {
  FramedCodec c;
  ASSERT_EQ(c.PutInt(1, 7), CodecOk);
  Bytes framed;
  ASSERT_EQ(c.SaveFramed(&framed), CodecOk);
  EXPECT_EQ(HexOf(framed), "BE" "8100F3FF0C00000000000000000000010000000400000007" "ED");

  FramedCodec back;
  ASSERT_EQ(back.LoadFramed(framed.data(), static_cast<int64_t>(framed.size())), CodecOk);
  int32_t v = 0;
  EXPECT_EQ(back.GetInt(1, &v), CodecOk);
  EXPECT_EQ(v, 7);

  const Bytes be_ed = Hex("BEED");
  EXPECT_EQ(back.LoadFramed(be_ed.data(), 2), CodecOk);
  EXPECT_TRUE(back.IsEmpty());
  EXPECT_EQ(back.LoadFramed(nullptr, 0), CodecOk);
  EXPECT_TRUE(back.IsEmpty());

  FramedCodec keep;
  ASSERT_EQ(keep.PutInt(1, 1), CodecOk);
  const Bytes one = Hex("BE");
  EXPECT_EQ(keep.LoadFramed(one.data(), 1), ErrBadSize);
  EXPECT_EQ(keep.LoadFramed(one.data(), -1), ErrBadSize);
  Bytes no_start = framed;
  no_start[0] = 0xBF;
  EXPECT_EQ(keep.LoadFramed(no_start.data(), static_cast<int64_t>(no_start.size())), ErrBadSize);
  Bytes no_end = framed;
  no_end.back() = 0xEE;
  EXPECT_EQ(keep.LoadFramed(no_end.data(), static_cast<int64_t>(no_end.size())), ErrBadSize);
  const Bytes wrong_pair = Hex("EDBE");
  EXPECT_EQ(keep.LoadFramed(wrong_pair.data(), 2), ErrBadSize);
  Bytes bad_inner = framed;
  bad_inner[5] ^= 1;  // body length field of the image
  EXPECT_EQ(keep.LoadFramed(bad_inner.data(), static_cast<int64_t>(bad_inner.size())), ErrMalformed);
  EXPECT_EQ(keep.GetInt(1, &v), CodecOk);  // unchanged by every failure
}

TEST(WireMessage, EmptyBodyPacksTo46Bytes) {
  WireMessage m;
  m.SetType(MessageType::Auth);
  m.SetUin(0x01020304);
  Bytes packed;
  ASSERT_EQ(m.Pack(&packed), CodecOk);
  ASSERT_EQ(packed.size(), 46u);
  EXPECT_EQ(HexOf(packed),
            "00000020" "0000000E" "0065" "94F6" "00000000" "000004D2" "01020304" "0000000000000000"
            "BE" "8100FFFF0000000000000000" "ED");
}

TEST(WireMessage, HeaderChecksumDefinition) {
  // Words are taken with the first byte LOW; the sum is folded twice.
  uint8_t h[32] = {};
  h[3] = 0x20;
  h[7] = 0x0E;
  h[9] = 0x65;
  h[17] = 0x00;
  h[18] = 0x04;
  h[19] = 0xD2;
  h[20] = 1; h[21] = 2; h[22] = 3; h[23] = 4;
  // 0x2000 + 0x0E00 + 0x6500 + 0xD204 + 0x0201 + 0x0403 = 0x16B08 -> 0x6B09 -> ~ = 0x94F6
  EXPECT_EQ(PacketHeader::Checksum(h), 0x94F6);
  h[10] = 0xAB;  // the stored checksum itself never counts
  EXPECT_EQ(PacketHeader::Checksum(h), 0x94F6);
}

TEST(WireMessage, PackUnpackRoundTrip) {
  WireMessage m;
  m.SetType(MessageType::Sync);
  m.SetUin(77);
  m.SetFlag(1);
  ASSERT_EQ(m.Body().PutInt(1, 0), CodecOk);
  ASSERT_EQ(m.Body().PutBytes(2, ByteView(std::string_view("key"))), CodecOk);
  Bytes packed;
  ASSERT_EQ(m.Pack(&packed), CodecOk);
  WireMessage r;
  ASSERT_EQ(r.Unpack(packed.data(), static_cast<int64_t>(packed.size())), CodecOk);
  EXPECT_EQ(r.GetType(), 102);
  EXPECT_EQ(r.Header().GetUin(), 77u);
  EXPECT_EQ(r.Header().GetFlag(), 1);
  std::string key;
  EXPECT_EQ(r.Body().GetString(2, &key), CodecOk);
  EXPECT_EQ(key, "key");
}

TEST(WireMessage, UnpackRejections) {
  WireMessage m;
  m.SetType(MessageType::GetMailBody);
  ASSERT_EQ(m.Body().PutInt(1, 5), CodecOk);
  Bytes packed;
  ASSERT_EQ(m.Pack(&packed), CodecOk);
  const int64_t n = static_cast<int64_t>(packed.size());

  WireMessage r;
  EXPECT_EQ(r.Unpack(packed.data(), 31), ErrBadSize);
  EXPECT_EQ(r.Unpack(nullptr, n), ErrBadSize);
  for (int bit = 0; bit < 32 * 8; ++bit) {
    if (bit / 8 == 10 || bit / 8 == 11) continue;  // flipping the checksum is the same fault
    Bytes flipped = packed;
    flipped[bit / 8] ^= static_cast<uint8_t>(1 << (bit % 8));
    EXPECT_EQ(r.Unpack(flipped.data(), n), ErrBadArgument) << "bit " << bit;
  }
  EXPECT_EQ(r.Unpack(packed.data(), n - 1), ErrBadSize);  // body shorter than declared

  // A body length near 2^32 must not wrap the size check.
  WireMessage huge;
  Bytes header(32);
  huge.Header().Seal(0xFFFFFFF0u);
  std::copy(huge.Header().data(), huge.Header().data() + 32, header.begin());
  EXPECT_EQ(r.Unpack(header.data(), 32), ErrBadSize);

  EXPECT_EQ(r.GetType(), 0);  // nothing was copied by any failure
  ASSERT_EQ(r.Unpack(packed.data(), n + 0), CodecOk);
}

TEST(WireMessage, DecoderChecksTypeBeforeFields) {
  WireMessage m;
  m.SetType(MessageType::GetMailBrief);
  ASSERT_EQ(m.Body().PutInt(1, 0), CodecOk);
  ResponseHead head;
  EXPECT_EQ(DecodeResponseHead(m, MessageType::GetMailBody, &head), ErrMalformed);
  EXPECT_EQ(head.result, kResultNotSet);
  EXPECT_EQ(DecodeResponseHead(m, MessageType::GetMailBrief, &head), CodecOk);
  EXPECT_EQ(head.result, 0);
  WireMessage no_result;
  no_result.SetType(MessageType::Auth);
  EXPECT_LT(DecodeResponseHead(no_result, MessageType::Auth, &head), 0);
}

TEST(MessageType, Catalogue) {
  EXPECT_STREQ(CommandName(101), "auth");
  EXPECT_STREQ(CommandName(111), "sendlongmail");
  EXPECT_EQ(CommandName(100), nullptr);
  EXPECT_EQ(CommandName(112), nullptr);
  EXPECT_EQ(CommandPath(MessageType::GetMailImg), "/cgi-bin/rb-bin/getmailimg");
  MessageType t;
  ASSERT_TRUE(MessageTypeOfCommand("queryupdate", &t));
  EXPECT_EQ(t, MessageType::QueryUpdate);
  EXPECT_FALSE(MessageTypeOfCommand("auth2", &t));
}

}  // namespace
}  // namespace protocol
}  // namespace quill
