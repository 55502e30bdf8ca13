// The sync, brief and body messages: what the client sends, and every way
// an answer can be malformed.
#include <gtest/gtest.h>

#include "commands/body_message.h"
#include "commands/brief_message.h"
#include "commands/sync_message.h"
#include "platform/hex.h"
#include "protocol/codec_status.h"
#include "protocol/list_codec.h"

namespace quill {
namespace commands {
namespace {

using protocol::CodecOk;
using protocol::TagCodec;
using protocol::WireMessage;

TEST(SyncMessage, RequestCarriesClientCommandsAndExcludedFoldersInTagOrder) {
  SyncRequest r;
  r.head.session_key = "k";
  r.head.sync_key = 41;
  r.reason = 5;
  SyncCommand del;
  del.type = kRbcmdDelMail;
  del.id = 7;
  SyncCommand mark;
  mark.type = kRbcmdUpdateMail;
  mark.mask = 1;
  mark.id = 8;
  mark.flags = 1;
  r.commands = {del, mark};
  r.auto_delete_seconds = 30 * 86400;
  r.excluded_folders = {100};
  WireMessage m;
  ASSERT_TRUE(EncodeSyncRequest(r, &m));
  EXPECT_EQ(m.GetType(), 102);
  const TagCodec& b = m.Body();
  int32_t v = 0;
  ASSERT_EQ(b.GetInt(3, &v), CodecOk);
  EXPECT_EQ(v, 41);
  ASSERT_EQ(b.GetInt(6, &v), CodecOk);
  EXPECT_EQ(v, 2);
  TagCodec list, item, body, excluded;
  ASSERT_EQ(b.GetCodec(7, &list), CodecOk);
  ASSERT_EQ(list.GetCodec(2, &item), CodecOk);
  ASSERT_EQ(item.GetInt(1, &v), CodecOk);
  EXPECT_EQ(v, kRbcmdUpdateMail);
  ASSERT_EQ(item.GetCodec(2, &body), CodecOk);
  // UpdateMail body: mask 1, ServerID 8, flags 1, each a 4-byte big-endian
  // integer after its 4-byte tag and length.
  Bytes image;
  ASSERT_EQ(body.Detach(&image), CodecOk);
  EXPECT_EQ(HexEncode(ByteView(image)).substr(24),
            "00000001000000040000000100000002000000040000000800000003000000040000000"
            "1");
  ASSERT_EQ(b.GetCodec(11, &excluded), CodecOk);
  ASSERT_EQ(excluded.GetInt(1, &v), CodecOk);
  EXPECT_EQ(v, 100);
  uint32_t span = 0;
  ASSERT_EQ(b.GetUInt(10, &span), CodecOk);
  EXPECT_EQ(span, 2592000u);

  // Without commands neither tag 7 nor tag 11 is written.
  r.commands.clear();
  r.excluded_folders.clear();
  ASSERT_TRUE(EncodeSyncRequest(r, &m));
  EXPECT_EQ(m.Body().GetCodec(7, &list), protocol::ErrNotPresent);
  EXPECT_EQ(m.Body().GetCodec(11, &list), protocol::ErrNotPresent);
  // A client never sends other commands.
  SyncCommand add;
  add.type = kRbcmdAddMail;
  r.commands = {add};
  EXPECT_FALSE(EncodeSyncRequest(r, &m));
}

// A sync response with the given commands (type, body) and count.
WireMessage SyncAnswer(const std::vector<std::pair<int32_t, TagCodec*>>& commands,
                       int32_t count) {
  WireMessage m;
  m.SetType(protocol::MessageType::Sync);
  protocol::ListWriter list;
  for (auto& [type, body] : commands) {
    TagCodec item;
    item.PutInt(1, type);
    item.PutCodec(2, body);
    list.Add(&item);
  }
  m.Body().PutInt(1, 0);
  m.Body().PutInt(2, 9);
  m.Body().PutInt(3, 1);
  m.Body().PutInt(4, count);
  if (!commands.empty()) m.Body().PutCodec(6, list.list());
  m.Body().PutInt(5, 0);
  return m;
}

TEST(SyncMessage, ResponseCommandsDecodeByTypeAndMask) {
  TagCodec add, update, contact, group;
  add.PutInt(1, 5);
  add.PutInt(2, 1);
  add.PutBytes(3, ByteView(std::string("主题")));
  add.PutBytes(4, ByteView(std::string("Zhang")));
  add.PutBytes(5, ByteView(std::string("z@x")));
  add.PutInt(6, 3);
  add.PutUInt(7, 1796637600);
  update.PutInt(1, 1 | 16);
  update.PutInt(2, 5);
  update.PutInt(3, 0);
  update.PutInt(7, 100);
  contact.PutInt(1, 4);
  contact.PutUInt(2, 77);
  contact.PutInt(5, 12);
  group.PutUInt(1, 1);
  group.PutBytes(2, ByteView(std::string("g")));
  TagCodec empty_list;
  group.PutCodec(3, &empty_list);
  SyncResponse r;
  ASSERT_EQ(DecodeSyncResponse(
                SyncAnswer({{11, &add}, {12, &update}, {22, &contact}, {31, &group}}, 4), &r),
            CodecOk);
  EXPECT_EQ(r.new_key, 9);
  EXPECT_EQ(r.more, 1);
  ASSERT_EQ(r.commands.size(), 4u);
  EXPECT_EQ(r.commands[0].id, 5u);
  EXPECT_EQ(r.commands[0].texts, (std::vector<std::string>{"主题", "Zhang", "z@x"}));
  EXPECT_EQ(r.commands[0].date, 1796637600u);
  EXPECT_EQ(r.commands[1].folder_id, 100);
  EXPECT_EQ(r.commands[1].flags, 0);
  EXPECT_EQ(r.commands[2].number, 12);
  EXPECT_EQ(r.commands[2].id, 77u);
  EXPECT_EQ(r.commands[3].type, kRbcmdAddGroup);
}

TEST(SyncMessage, CountsTypesAndFieldsMustAgree) {
  TagCodec del;
  del.PutInt(1, 5);
  TagCodec update_without_flags;
  update_without_flags.PutInt(1, 1);
  update_without_flags.PutInt(2, 5);
  SyncResponse r;
  EXPECT_NE(DecodeSyncResponse(SyncAnswer({{13, &del}}, 2), &r), CodecOk);
  EXPECT_NE(DecodeSyncResponse(SyncAnswer({{13, &del}, {13, &del}}, 1), &r), CodecOk);
  EXPECT_NE(DecodeSyncResponse(SyncAnswer({{99, &del}}, 1), &r), CodecOk);
  EXPECT_NE(DecodeSyncResponse(SyncAnswer({{12, &update_without_flags}}, 1), &r), CodecOk);
  EXPECT_NE(DecodeSyncResponse(SyncAnswer({{13, &del}}, -1), &r), CodecOk);
  // A brief count with no briefs behind it.
  WireMessage m = SyncAnswer({}, 0);
  m.Body().Reset();
  m.Body().PutInt(1, 0);
  m.Body().PutInt(2, 1);
  m.Body().PutInt(3, 0);
  m.Body().PutInt(4, 0);
  m.Body().PutInt(5, 1);
  EXPECT_NE(DecodeSyncResponse(m, &r), CodecOk);
  // A refusal needs only its result.
  WireMessage refused;
  refused.SetType(protocol::MessageType::Sync);
  refused.Body().PutInt(1, -3);
  ASSERT_EQ(DecodeSyncResponse(refused, &r), CodecOk);
  EXPECT_EQ(r.head.result, -3);
}

TEST(BriefMessage, ListsMustHoldExactlyTheirEntryCount) {
  WireMessage m;
  m.SetType(protocol::MessageType::GetMailBrief);
  TagCodec& b = m.Body();
  TagCodec sender, to_item, to_list;
  sender.PutBytes(1, ByteView(std::string("a@x")));
  sender.PutBytes(2, ByteView(std::string("A")));
  to_item.PutBytes(1, ByteView(std::string("b@x")));
  to_item.PutBytes(2, ByteView(std::string("B")));
  to_list.PutCodec(1, &to_item);
  to_list.PutCodec(2, &to_item);
  const uint8_t zero8[8] = {};
  b.PutInt(1, 0);
  b.PutInt(2, 0);
  b.PutInt(3, 4);
  b.PutInt(4, 10);
  b.PutCodec(5, &sender);
  b.PutInt(6, 5);  // five To recipients, two listed
  b.PutInt(7, 2);
  b.PutCodec(8, &to_list);
  b.PutInt(9, 0);
  b.PutInt(10, 0);
  b.PutInt(12, 0);
  b.PutBytes(13, ByteView(std::string("s")));
  b.PutBytes(14, ByteView(zero8, 8));
  b.PutInt(15, 0);
  b.PutInt(16, 0);
  b.PutBytes(18, ByteView(std::string("brief")));
  b.PutInt(19, 3);
  BriefResponse r;
  ASSERT_EQ(DecodeBriefResponse(m, &r), CodecOk);
  EXPECT_EQ(r.to_total, 5);
  ASSERT_EQ(r.to.size(), 2u);
  EXPECT_EQ(r.to[1].name, "B");
  EXPECT_EQ(r.brief_text, "brief");

  // The same with an entry count of 1 over a list of 2.
  Bytes image;
  WireMessage copy;
  copy.SetType(protocol::MessageType::GetMailBrief);
  for (uint32_t tag : {1u, 2u, 3u, 4u}) {
    int32_t v = 0;
    b.GetInt(tag, &v);
    copy.Body().PutInt(tag, v);
  }
  copy.Body().PutCodec(5, &sender);
  copy.Body().PutInt(6, 5);
  copy.Body().PutInt(7, 1);
  copy.Body().PutCodec(8, &to_list);
  EXPECT_EQ(DecodeBriefResponse(copy, &r), protocol::ErrMalformed);
}

TEST(BriefMessage, TextsOverTheirCapacityAreCutAtACharacterBoundary) {
  // A subject of 513 bytes whose last character straddles byte 512, and a
  // sender address of 129 bytes ending in a two-byte character.
  const std::string subject = std::string(510, 's') + "新";
  const std::string address = std::string(127, 'a') + "é";
  TagCodec sender;
  sender.PutBytes(1, ByteView(address));
  sender.PutBytes(2, ByteView(std::string("A")));
  const uint8_t zero8[8] = {};
  WireMessage m;
  m.SetType(protocol::MessageType::GetMailBrief);
  TagCodec& b = m.Body();
  b.PutInt(1, 0);
  b.PutInt(2, 0);
  b.PutInt(3, 4);
  b.PutInt(4, 10);
  b.PutCodec(5, &sender);
  for (uint32_t tag : {6u, 7u, 9u, 10u, 12u}) b.PutInt(tag, 0);
  b.PutBytes(13, ByteView(subject));
  b.PutBytes(14, ByteView(zero8, 8));
  b.PutInt(15, 0);
  b.PutInt(16, 0);
  b.PutBytes(18, ByteView(std::string("brief")));
  b.PutInt(19, 3);
  BriefResponse r;
  ASSERT_EQ(DecodeBriefResponse(m, &r), CodecOk);
  EXPECT_EQ(r.subject, std::string(510, 's'));
  EXPECT_EQ(r.sender.address, std::string(127, 'a'));
  EXPECT_EQ(r.sender.name, "A");
  EXPECT_EQ(r.brief_text, "brief");
}

TEST(BodyMessage, VersionIsSentOnlyWithAnOffsetAndAnswersAreChecked) {
  BodyRequest req;
  req.server_id = 9;
  req.version = 1234;
  WireMessage m;
  ASSERT_TRUE(EncodeBodyRequest(req, &m));
  int32_t v = -1;
  ASSERT_EQ(m.Body().GetInt(7, &v), CodecOk);
  EXPECT_EQ(v, 0);
  ASSERT_EQ(m.Body().GetInt(4, &v), CodecOk);
  EXPECT_EQ(v, 0x7FFFFFFF);
  req.offset = 300;
  ASSERT_TRUE(EncodeBodyRequest(req, &m));
  ASSERT_EQ(m.Body().GetInt(7, &v), CodecOk);
  EXPECT_EQ(v, 1234);

  WireMessage answer;
  answer.SetType(protocol::MessageType::GetMailBody);
  answer.Body().PutInt(1, kBodyVersionChanged);
  answer.Body().PutInt(2, 0);
  answer.Body().PutInt(3, 9);
  answer.Body().PutInt(4, 20);
  answer.Body().PutInt(6, 0);
  answer.Body().PutInt(7, 5);
  BodyResponse r;
  ASSERT_EQ(DecodeBodyResponse(answer, &r), CodecOk);  // no text: an empty one
  EXPECT_TRUE(r.text.empty());
  EXPECT_EQ(r.body_version, 5);
  answer.Body().Reset();
  answer.Body().PutInt(1, 0);
  answer.Body().PutInt(2, 0);
  answer.Body().PutInt(3, 9);
  answer.Body().PutInt(4, -1);
  answer.Body().PutInt(6, 0);
  answer.Body().PutInt(7, 5);
  EXPECT_EQ(DecodeBodyResponse(answer, &r), protocol::ErrMalformed);
}

}  // namespace
}  // namespace commands
}  // namespace quill
