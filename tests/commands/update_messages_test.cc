// The statinfo and update messages: the bytes the client writes, every way
// an answer can be malformed, and what counts as a package name.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "commands/stat_message.h"
#include "commands/update_message.h"
#include "platform/hex.h"
#include "protocol/codec_status.h"

namespace quill {
namespace commands {
namespace {

using protocol::CodecOk;
using protocol::ErrMalformed;
using protocol::TagCodec;
using protocol::WireMessage;

// The fields of a FixedMode body as "tag:hex value" in the order written.
std::vector<std::string> Fields(TagCodec* body) {
  Bytes image;
  EXPECT_EQ(body->Detach(&image), CodecOk);
  std::vector<std::string> fields;
  for (size_t at = 12; at + 8 <= image.size();) {
    const uint32_t tag = (image[at] << 24) | (image[at + 1] << 16) | (image[at + 2] << 8) | image[at + 3];
    const uint32_t length =
        (image[at + 4] << 24) | (image[at + 5] << 16) | (image[at + 6] << 8) | image[at + 7];
    fields.push_back(std::to_string(tag) + ":" + HexEncode(ByteView(&image[at + 8], length)));
    at += 8 + length;
  }
  return fields;
}

TEST(StatMessage, TheHeadThenTheTwentyFourValuesInTagOrder) {
  StatRequest r;
  r.head.session_key = "SK";
  r.head.uin = 10001;
  r.head.data_id.fill(0xA5);
  r.head.sync_key = 9;
  for (size_t i = 0; i < kStatValueCount; ++i) r.values[i] = static_cast<uint32_t>(i + 1);
  r.values[23] = 0xFFFFFFFF;  // a value above the signed range keeps its bits
  WireMessage m;
  ASSERT_TRUE(EncodeStatRequest(r, &m));
  EXPECT_EQ(m.GetType(), 110);
  EXPECT_EQ(m.Header().GetUin(), 10001u);
  EXPECT_EQ(m.Header().GetFlag(), 0);
  std::vector<std::string> want = {"2:00000009", "4:00010030", "5:506F636B65745043", "1:534B",
                                   "3:A5A5A5A5A5A5A5A5A5A5A5A5A5A5A5A5"};
  for (uint32_t tag = 6; tag <= 28; ++tag) {
    char value[9];
    snprintf(value, sizeof value, "%08X", tag - 5);
    want.push_back(std::to_string(tag) + ":" + value);
  }
  want.push_back("29:FFFFFFFF");
  EXPECT_EQ(Fields(&m.Body()), want);

  WireMessage answer;
  answer.SetType(protocol::MessageType::StatInfo);
  answer.Body().PutInt(1, -6);
  StatResponse response;
  ASSERT_EQ(DecodeStatResponse(answer, &response), CodecOk);
  EXPECT_EQ(response.head.result, -6);
  answer.SetType(protocol::MessageType::QueryUpdate);  // another command's answer
  EXPECT_EQ(DecodeStatResponse(answer, &response), ErrMalformed);
}

TEST(UpdateMessage, RequestsCarryTheirTagsInOrder) {
  protocol::RequestHead head;
  head.session_key = "SK";
  head.data_id.fill(0x11);
  UpdateQueryRequest query;
  query.head = head;
  query.reason = kUpdateAfterLogin;
  WireMessage m;
  ASSERT_TRUE(EncodeUpdateQueryRequest(query, &m));
  EXPECT_EQ(m.GetType(), 109);
  const std::string id = "2:" + std::string(32, '1');
  EXPECT_EQ(Fields(&m.Body()), (std::vector<std::string>{"3:00010030", "4:506F636B65745043",
                                                        "1:534B", id, "5:00000002"}));
  UpdatePackRequest pack;
  pack.head = head;
  pack.package = "0123456789abcdef0123456789ABCDEF";
  pack.offset = 0x80000000u;  // past the signed range
  pack.pass_through = 7;
  ASSERT_TRUE(EncodeUpdatePackRequest(pack, &m));
  EXPECT_EQ(m.GetType(), 107);
  EXPECT_EQ(Fields(&m.Body()),
            (std::vector<std::string>{"3:00010030", "4:506F636B65745043", "1:534B",
                                      "5:" + HexEncode(ByteView(pack.package)), id, "6:80000000",
                                      "7:7FFFFFFF", "8:00000007"}));
}

WireMessage PackAnswer(int32_t result, const std::string& name, uint32_t total, uint32_t length,
                       const Bytes& piece) {
  WireMessage m;
  m.SetType(protocol::MessageType::GetUpdatePack);
  TagCodec& b = m.Body();
  b.PutInt(1, result);
  b.PutBytes(2, ByteView(name));
  b.PutUInt(3, total);
  if (result == 0) {
    b.PutInt(4, 0);
    b.PutUInt(5, length);
    b.PutBytes(6, ByteView(piece));
  }
  return m;
}

TEST(UpdateMessage, PackAnswersAreBoundedAndConsistent) {
  const std::string name(32, 'f');
  UpdatePackResponse r;
  ASSERT_EQ(DecodeUpdatePackResponse(PackAnswer(0, name, 0xFFFFFFF0u, 3, Bytes{1, 2, 3}), &r),
            CodecOk);
  EXPECT_EQ(r.total, 0xFFFFFFF0u);  // unsigned: no negative size
  EXPECT_EQ(r.piece, (Bytes{1, 2, 3}));
  // -7 names the new package and its size, nothing more.
  ASSERT_EQ(DecodeUpdatePackResponse(PackAnswer(-7, name, 500, 0, {}), &r), CodecOk);
  EXPECT_EQ(r.package, name);
  EXPECT_EQ(r.total, 500u);
  // A piece whose length says otherwise, a name over 32 bytes.
  EXPECT_EQ(DecodeUpdatePackResponse(PackAnswer(0, name, 9, 4, Bytes{1, 2, 3}), &r), ErrMalformed);
  EXPECT_EQ(DecodeUpdatePackResponse(PackAnswer(-7, name + "0", 9, 0, {}), &r), ErrMalformed);
  // Another refusal carries nothing to read.
  WireMessage refused;
  refused.SetType(protocol::MessageType::GetUpdatePack);
  refused.Body().PutInt(1, -5);
  ASSERT_EQ(DecodeUpdatePackResponse(refused, &r), CodecOk);
  EXPECT_EQ(r.head.result, -5);
}

TEST(UpdateMessage, QueryAnswersAreBounded) {
  WireMessage m;
  m.SetType(protocol::MessageType::QueryUpdate);
  m.Body().PutInt(1, 0);
  m.Body().PutInt(2, 1000);
  m.Body().PutInt(3, 0x10031);
  m.Body().PutBytes(4, ByteView(std::string("1.0.49")));
  m.Body().PutBytes(5, ByteView(std::string(32, 'a') + "\nnotes"));
  UpdateQueryResponse r;
  ASSERT_EQ(DecodeUpdateQueryResponse(m, &r), CodecOk);
  EXPECT_EQ(r.update_value, 1000);
  EXPECT_EQ(r.version_text, "1.0.49");
  EXPECT_EQ(r.offer.package, std::string(32, 'a'));
  EXPECT_EQ(r.offer.notes, "notes");

  // A version text over 32 bytes; a negative size; an offer without a
  // package to fetch, which is no "nothing offered" either.
  auto answer = [](int32_t value, const std::string& version, const std::string& text) {
    WireMessage a;
    a.SetType(protocol::MessageType::QueryUpdate);
    a.Body().PutInt(1, 0);
    a.Body().PutInt(2, value);
    a.Body().PutInt(3, 0);
    a.Body().PutBytes(4, ByteView(version));
    a.Body().PutBytes(5, ByteView(text));
    return a;
  };
  const std::string name(32, 'b');
  EXPECT_EQ(DecodeUpdateQueryResponse(answer(1000, std::string(33, '1'), name), &r), ErrMalformed);
  EXPECT_EQ(DecodeUpdateQueryResponse(answer(-1, "", ""), &r), ErrMalformed);
  EXPECT_EQ(DecodeUpdateQueryResponse(answer(1000, "1.0.49", ""), &r), ErrMalformed);
  EXPECT_EQ(DecodeUpdateQueryResponse(answer(1000, "1.0.49", "../" + name), &r), ErrMalformed);
  ASSERT_EQ(DecodeUpdateQueryResponse(answer(1000, "1.0.49", name), &r), CodecOk);
  EXPECT_EQ(r.offer.package, name);
  ASSERT_EQ(DecodeUpdateQueryResponse(answer(0, "", ""), &r), CodecOk);
  EXPECT_TRUE(r.offer.package.empty());
}

TEST(UpdateMessage, APackageNameIsExactlyThirtyTwoHexadecimalDigits) {
  EXPECT_TRUE(IsPackageName("0123456789abcdefABCDEF0123456789"));
  for (const char* bad : {"", "0123456789abcdef0123456789abcde", "0123456789abcdef0123456789abcdef0",
                          "0123456789abcdef0123456789abcdeg", "../../0123456789abcdef0123456789",
                          "0123456789abcdef 123456789abcdef"}) {
    EXPECT_FALSE(IsPackageName(bad)) << bad;
  }
  std::array<uint8_t, 16> digest;
  ASSERT_TRUE(PackageDigest("900150983CD24FB0D6963F7D28E17F72", &digest));
  EXPECT_EQ(digest[0], 0x90);
  EXPECT_EQ(digest[15], 0x72);
  EXPECT_FALSE(PackageDigest("900150983cd24fb0d6963f7d28e17f7", &digest));
  EXPECT_TRUE(SamePackageName("900150983CD24FB0D6963F7D28E17F72", "900150983cd24fb0d6963f7d28e17f72"));
  UpdateOffer offer;
  EXPECT_FALSE(ParseUpdateOffer("not a name\nnotes", &offer));
  ASSERT_TRUE(ParseUpdateOffer(std::string(32, 'B'), &offer));
  EXPECT_TRUE(offer.notes.empty());
}

}  // namespace
}  // namespace commands
}  // namespace quill
