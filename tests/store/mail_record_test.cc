#include "store/mail_record.h"

#include <gtest/gtest.h>

#include "store/folder_record.h"
#include "store/le_bytes.h"

namespace quill {
namespace store {
namespace {

TEST(MailRecordTest, FreshRecordBytes) {
  MailRecord m;
  const Bytes& raw = m.Encode();
  ASSERT_EQ(raw.size(), 8184u);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(raw[i], 0xFF);
  for (size_t i = 8; i < raw.size(); ++i) ASSERT_EQ(raw[i], 0) << i;
  EXPECT_EQ(m.server_id(), kLocalServerId);
}

TEST(MailRecordTest, FieldOffsetsGolden) {
  MailRecord m;
  m.set_server_id(0x11223344);
  m.set_reply_to(0x55667788);
  m.set_folder(3);
  m.set_date(0x0102030405060708ull);
  m.set_save_time(0x1112131415161718ull);
  m.set_server_body_length(500);
  m.set_local_body_length(250);
  m.set_flags(1);
  m.set_to_count(2);
  m.set_cc_count(3);
  m.set_attach_count(4);
  m.set_body_state(kBodyComplete);
  m.set_local_kind(2);
  m.set_body_version(9);
  m.sender = u"\"A\"<a@b>";
  m.subject = u"Hi";
  m.attachments = {{u"x.txt", 12, 7}};
  m.MarkTextsChanged();
  const Bytes& r = m.Encode();
  EXPECT_EQ(GetLe32(&r[0]), 0x11223344u);
  EXPECT_EQ(GetLe32(&r[4]), 0x55667788u);
  EXPECT_EQ(GetLe32(&r[8]), 3u);
  EXPECT_EQ(GetLe64(&r[12]), 0x0102030405060708ull);
  EXPECT_EQ(GetLe64(&r[20]), 0x1112131415161718ull);
  EXPECT_EQ(GetLe32(&r[28]), 0u);
  EXPECT_EQ(GetLe32(&r[32]), 500u);
  EXPECT_EQ(GetLe32(&r[36]), 250u);
  EXPECT_EQ(GetLe32(&r[40]), 1u);
  EXPECT_EQ(GetLe16(&r[44]), 2);
  EXPECT_EQ(GetLe16(&r[46]), 3);
  EXPECT_EQ(GetLe16(&r[48]), 4);
  EXPECT_EQ(GetLe16(&r[50]), 4 | (2 << 3));
  EXPECT_EQ(GetLe16(&r[52]), 8);   // "\"A\"<a@b>"
  EXPECT_EQ(GetLe16(&r[54]), 2);   // "Hi"
  EXPECT_EQ(GetLe16(&r[56]), 0);
  EXPECT_EQ(GetLe16(&r[58]), 0);
  EXPECT_EQ(GetLe16(&r[60]), 0);
  EXPECT_EQ(GetLe16(&r[62]), 10);  // "12?7?x.txt"
  EXPECT_EQ(GetLe16(&r[64]), 9);
  EXPECT_EQ(std::string(r.begin() + 66, r.begin() + 86), "\"A\"<a@b>Hi12?7?x.txt");
  EXPECT_EQ(r[86], 0);

  MailRecord back;
  ASSERT_TRUE(back.Decode(r));
  EXPECT_EQ(back.sender, m.sender);
  EXPECT_EQ(back.subject, u"Hi");
  ASSERT_EQ(back.attachments.size(), 1u);
  EXPECT_EQ(back.attachments[0], (AttachmentEntry{u"x.txt", 12, 7}));
  EXPECT_EQ(back.local_kind(), 2);
  EXPECT_EQ(back.body_state(), kBodyComplete);
  EXPECT_FALSE(back.Decode(Bytes(100)));
}

std::vector<std::u16string> Lines(int n, size_t width) {
  return std::vector<std::u16string>(n, std::u16string(width, u'x'));
}

TEST(MailRecordTest, ShrinkRuleOrder) {
  MailRecord m;
  m.set_body_state(kBodyComplete);
  m.subject = u"s";
  m.reserved = std::u16string(3000, u'r');
  m.lines3 = Lines(30, 149);  // 4499 bytes joined
  m.lines4 = Lines(30, 149);
  m.attachments = {{u"a", 1, 1}};
  m.MarkTextsChanged();
  m.Encode();
  // Text 2 goes (body state 0), then text 3 keeps 10 lines; that fits.
  EXPECT_TRUE(m.reserved.empty());
  EXPECT_EQ(m.body_state(), kNoBody);
  EXPECT_EQ(m.lines3.size(), 10u);
  EXPECT_EQ(m.lines4.size(), 30u);
  EXPECT_EQ(m.attachments.size(), 1u);
  EXPECT_EQ(m.text_length(4), 4499);

  MailRecord both;
  both.lines3 = Lines(30, 299);
  both.lines4 = Lines(30, 299);
  both.attachments = {{u"a", 1, 1}};
  both.MarkTextsChanged();
  both.Encode();
  EXPECT_EQ(both.lines3.size(), 10u);
  EXPECT_EQ(both.lines4.size(), 10u);
  EXPECT_EQ(both.attachments.size(), 1u);

  MailRecord big;
  big.lines3 = Lines(10, 3000);
  big.attachments = {{u"a", 1, 1}};
  big.MarkTextsChanged();
  big.Encode();
  EXPECT_TRUE(big.attachments.empty());
  EXPECT_EQ(big.text_length(3), 6144);
}

TEST(MailRecordTest, CutsAtCharacterBoundary) {
  MailRecord m;
  m.subject = std::u16string(6143, u'a');
  m.lines3 = {u"\u4e2d"};  // three bytes, one byte of room left
  m.sender = u"";
  m.MarkTextsChanged();
  const Bytes& r = m.Encode();
  EXPECT_EQ(GetLe16(&r[54]), 6143);
  EXPECT_EQ(GetLe16(&r[58]), 0);  // not half a character
  EXPECT_TRUE(m.lines3.empty());

  MailRecord surrogate;
  surrogate.subject = std::u16string(6142, u'a') + u"\U0001F600";
  surrogate.MarkTextsChanged();
  surrogate.Encode();
  EXPECT_EQ(surrogate.text_length(1), 6142);
  EXPECT_EQ(surrogate.subject, std::u16string(6142, u'a'));
}

TEST(MailRecordTest, DecodeCutsLengthsToTheTextArea) {
  Bytes raw(8184, 0);
  PutLe16(&raw[52], 6000);
  PutLe16(&raw[54], 6000);  // claims more than is left
  std::fill(raw.begin() + 66, raw.begin() + 66 + 6144, 'q');
  MailRecord m;
  ASSERT_TRUE(m.Decode(raw));
  EXPECT_EQ(m.sender.size(), 6000u);
  EXPECT_EQ(m.subject.size(), 144u);
}

TEST(MailRecordTest, RecordAttachmentLinesThatDoNotParse) {
  std::vector<AttachmentEntry> e = ParseRecordAttachmentList("12?262145?/home/u/a.pdf\nbad line\n1?x?y");
  ASSERT_EQ(e.size(), 3u);
  EXPECT_EQ(e[0], (AttachmentEntry{u"/home/u/a.pdf", 12, kLocalFileAttachment}));
  EXPECT_EQ(e[1], (AttachmentEntry{u"bad line", 0, 0}));
  EXPECT_EQ(e[2], (AttachmentEntry{u"1?x?y", 0, 0}));
}

TEST(MailRecordTest, FileAttachmentLines) {
  std::vector<AttachmentEntry> e = ParseFileAttachmentList(
      "12?262145?/p/a b\n12345678901234567890?1?too long\n?1?x\n5?4?n?m\n1234567890123456789?0?big");
  ASSERT_EQ(e.size(), 3u);
  EXPECT_EQ(e[0], (AttachmentEntry{u"/p/a b", 12, kLocalFileAttachment}));
  EXPECT_EQ(e[1], (AttachmentEntry{u"n?m", 5, 4}));
  EXPECT_EQ(e[2].size, 1234567890123456789ull);
  EXPECT_EQ(FormatAttachmentList(e), "12?262145?/p/a b\n5?4?n?m\n1234567890123456789?0?big");
}

TEST(FolderRecordTest, GoldenAndNameCut) {
  FolderRecord f(0x01020304, std::u16string(120, u'n'));
  const Bytes& r = f.raw();
  ASSERT_EQ(r.size(), 512u);
  EXPECT_EQ(GetLe32(&r[0]), 0x01020304u);
  EXPECT_EQ(f.name(), std::u16string(99, u'n'));
  EXPECT_EQ(r[4 + 99], 0);
  EXPECT_EQ(r[104], 0);
  f.set_excluded(true);
  EXPECT_EQ(r[104], 1);
  FolderRecord wide(7, std::u16string(40, u'\u6587'));  // 120 bytes of UTF-8
  EXPECT_EQ(wide.name(), std::u16string(33, u'\u6587'));  // 99 bytes
  FolderRecord odd(7, std::u16string(1, u'a') + std::u16string(40, u'\u6587'));
  EXPECT_EQ(odd.name().size(), 1u + 32);  // 97 bytes, not a cut character
}

}  // namespace
}  // namespace store
}  // namespace quill
