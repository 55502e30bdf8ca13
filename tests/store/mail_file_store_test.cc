#include "store/mail_file_store.h"

#include <gtest/gtest.h>

#include <set>

#include "platform/fault_file_system.h"
#include "store/account_store.h"
#include "store/attachment_limits.h"
#include "tests/temp_dir.h"

namespace quill {
namespace store {
namespace {

class MailFileStoreTest : public ::testing::Test {
 protected:
  void SetUp() override { files_.SetBase(dir_.path() + "/"); }
  Bytes Raw(const std::string& path) {
    Bytes b;
    EXPECT_TRUE(DefaultFileSystem()->ReadFile(path, &b)) << path;
    return b;
  }
  TempDir dir_;
  MailFileStore files_{DefaultFileSystem()};
};

MailFiles Sample() {
  MailFiles f;
  f.to = {u"\"A\"<a@x>", u"\"B\"<b@x>"};
  f.cc = {u"\"C\"<c@x>"};
  f.bcc = {u"\"D\"<d@x>"};
  f.body = u"<p>\u4f60\u597d</p>";
  f.brief = u"brief";
  f.sender = u"\"Me\"<me@x>";
  f.subject = u"\u4e3b\u9898";
  f.send_key = u"key-1";
  f.attachments = {{u"/home/u/a.pdf", 12, kLocalFileAttachment}};
  return f;
}

TEST_F(MailFileStoreTest, RoundTripAndEncodings) {
  ASSERT_TRUE(files_.SaveMailFiles(5, Sample()));
  const std::string dir = dir_.path() + "/05/5/";
  Bytes body = Raw(dir + "mail.txt");
  ASSERT_EQ(body.size(), 2u * Sample().body.size());
  EXPECT_EQ(body[0], '<');
  EXPECT_EQ(body[1], 0);
  EXPECT_EQ(body[6], 0x60);  // U+4F60, low byte first
  EXPECT_EQ(body[7], 0x4F);
  EXPECT_EQ(ByteView(Raw(dir + "tos.txt")).ToString(), "\"A\"<a@x>\n\"B\"<b@x>");
  EXPECT_EQ(ByteView(Raw(dir + "attachs.txt")).ToString(), "12?262145?/home/u/a.pdf");
  EXPECT_EQ(ByteView(Raw(dir + "subject.txt")).ToString(), "\xe4\xb8\xbb\xe9\xa2\x98");
  MailFiles back;
  ASSERT_TRUE(files_.LoadMailFiles(5, &back));
  MailFiles want = Sample();
  EXPECT_EQ(back.to, want.to);
  EXPECT_EQ(back.cc, want.cc);
  EXPECT_EQ(back.bcc, want.bcc);
  EXPECT_EQ(back.body, want.body);
  EXPECT_EQ(back.brief, want.brief);
  EXPECT_EQ(back.sender, want.sender);
  EXPECT_EQ(back.subject, want.subject);
  EXPECT_EQ(back.send_key, want.send_key);
  EXPECT_EQ(back.attachments, want.attachments);
  EXPECT_EQ(back.mail_id, 5u);
  EXPECT_FALSE(files_.LoadMailFiles(6, &back));
  EXPECT_FALSE(files_.SaveMailFiles(0, want));
}

TEST_F(MailFileStoreTest, ListsSplitAtEveryLineBreak) {
  ASSERT_TRUE(DefaultFileSystem()->ReplaceAtomically(dir_.path() + "/07/7/ccs.txt",
                                                     ByteView(std::string("a\n\nb"))));
  ASSERT_TRUE(DefaultFileSystem()->ReplaceAtomically(dir_.path() + "/07/7/mail.txt",
                                                     ByteView(std::string("h\0i\0!", 5))));
  MailFiles f;
  ASSERT_TRUE(files_.LoadMailFiles(7, &f));
  EXPECT_EQ(f.cc, (std::vector<std::u16string>{u"a", u"", u"b"}));
  EXPECT_EQ(f.body, u"hi");  // the odd last byte is dropped
  EXPECT_TRUE(f.to.empty());
}

TEST_F(MailFileStoreTest, WriteBodyAtAnOffset) {
  ASSERT_TRUE(files_.WriteBody(100, std::u16string(100, u'x'), 0));
  ASSERT_TRUE(files_.WriteBody(100, u"abc", 10));
  MailFiles f;
  ASSERT_TRUE(files_.LoadMailFiles(100, &f));
  EXPECT_EQ(f.body, std::u16string(10, u'x') + u"abc");
  EXPECT_FALSE(files_.WriteBody(100, u"gap", 14));  // past the end
  EXPECT_TRUE(files_.WriteBody(100, u"d", 13));
  EXPECT_EQ(Raw(dir_.path() + "/00/100/mail.txt").size(), 28u);
}

TEST_F(MailFileStoreTest, ReadBodyReadsAPartOrTheHeadWithoutTheBody) {
  ASSERT_TRUE(files_.SaveMailFiles(8, Sample()));  // "<p>你好</p>"
  std::u16string part;
  ASSERT_TRUE(files_.ReadBody(8, 0, 4, &part));
  EXPECT_EQ(part, u"<p>\u4f60");
  ASSERT_TRUE(files_.ReadBody(8, 4, 100, &part));
  EXPECT_EQ(part, u"\u597d</p>");
  ASSERT_TRUE(files_.ReadBody(8, 9, 100, &part));  // at or past the end: nothing
  EXPECT_TRUE(part.empty());
  ASSERT_TRUE(files_.ReadBody(8, UINT64_MAX / 4, 1, &part));
  EXPECT_TRUE(part.empty());
  EXPECT_FALSE(files_.ReadBody(9, 0, 1, &part));  // no such file
  EXPECT_FALSE(files_.ReadBody(0, 0, 1, &part));
  // An odd last byte is no character.
  ASSERT_TRUE(DefaultFileSystem()->ReplaceAtomically(dir_.path() + "/07/7/mail.txt",
                                                     ByteView(std::string("h\0i\0!", 5))));
  ASSERT_TRUE(files_.ReadBody(7, 0, 10, &part));
  EXPECT_EQ(part, u"hi");
  MailFiles head;
  ASSERT_TRUE(files_.LoadMailFiles(8, &head, /*with_body=*/false));
  EXPECT_TRUE(head.body.empty());
  EXPECT_EQ(head.subject, Sample().subject);
}

TEST_F(MailFileStoreTest, SaveReportsAnyFailedFile) {
  FaultInjectingFileSystem fault(DefaultFileSystem());
  MailFileStore files(&fault);
  files.SetBase(dir_.path() + "/");
  fault.FailWrite(3);
  EXPECT_FALSE(files.SaveMailFiles(9, Sample()));
  MailFiles back;
  ASSERT_TRUE(files.LoadMailFiles(9, &back));
  EXPECT_EQ(back.subject, Sample().subject);  // the others were written
  // A failed rewrite keeps the old file whole.
  MailFiles changed = Sample();
  changed.body = u"new";
  fault.FailWrite(1);
  EXPECT_FALSE(files.SaveMailFiles(9, changed));
  ASSERT_TRUE(files.LoadMailFiles(9, &back));
  EXPECT_EQ(back.body, Sample().body);
}

TEST_F(MailFileStoreTest, AttachmentNamesStayInTheMailDirectory) {
  EXPECT_EQ(files_.AttachmentPath(12, 77, u"a.txt"), dir_.path() + "/12/12/Attachments/77_a.txt");
  EXPECT_EQ(files_.AttachmentPath(12, 0x80000000u, u"a"), dir_.path() + "/12/12/Attachments/-2147483648_a");
  // Hostile names become one file name inside Attachments/, each its own.
  const std::string dir = dir_.path() + "/12/12/Attachments/";
  std::set<std::string> seen;
  for (const std::u16string& bad :
       {std::u16string(u"."), std::u16string(u".."), std::u16string(u"../x"), std::u16string(u"a/b"),
        std::u16string(u"a\\b"), std::u16string(u"a\nb"), std::u16string(u"a\r\nb"),
        std::u16string(u"a_b"), std::u16string(u"a\0b", 3), std::u16string(300, u'x')}) {
    const std::string path = files_.AttachmentPath(12, 77, bad);
    ASSERT_EQ(path.compare(0, dir.size(), dir), 0) << path;
    const std::string file = path.substr(dir.size());
    EXPECT_EQ(file.find('/'), std::string::npos) << file;
    EXPECT_LE(file.size(), 255u);
    for (char c : file) EXPECT_GE(static_cast<unsigned char>(c), 0x20u) << file;
    EXPECT_TRUE(seen.insert(file).second) << file;
  }
  EXPECT_EQ(files_.AttachmentPath(12, 77, u""), "");
  EXPECT_EQ(files_.AttachmentPath(0, 77, u"a"), "");
}

TEST_F(MailFileStoreTest, DeleteMailFilesKeepsOtherMails) {
  ASSERT_TRUE(files_.SaveMailFiles(3, Sample()));
  ASSERT_TRUE(files_.SaveMailFiles(103, Sample()));
  const std::string att = files_.AttachmentPath(3, 1, u"a.bin");
  ASSERT_TRUE(DefaultFileSystem()->ReplaceAtomically(att, ByteView(std::string("x"))));
  ASSERT_TRUE(files_.DeleteMailFiles(3));
  EXPECT_FALSE(DefaultFileSystem()->Exists(att));
  EXPECT_FALSE(DefaultFileSystem()->Exists(dir_.path() + "/03/3/mail.txt"));
  EXPECT_TRUE(DefaultFileSystem()->Exists(dir_.path() + "/03/103/mail.txt"));
  EXPECT_TRUE(files_.DeleteMailFiles(44));  // nothing there
}

TEST_F(MailFileStoreTest, AttachmentLimits) {
  const std::string a = dir_.path() + "/a.bin", empty = dir_.path() + "/empty";
  ASSERT_TRUE(DefaultFileSystem()->ReplaceAtomically(a, ByteView(std::string(10, 'a'))));
  ASSERT_TRUE(DefaultFileSystem()->ReplaceAtomically(empty, ByteView(std::string())));
  const std::u16string pa(a.begin(), a.end()), pe(empty.begin(), empty.end());
  AttachmentEntry e;
  size_t dup = 99;
  std::vector<AttachmentEntry> list;
  EXPECT_EQ(CheckNewAttachment(DefaultFileSystem(), list, pa + u"x", &e, &dup), AttachmentCheck::kCannotOpen);
  EXPECT_EQ(CheckNewAttachment(DefaultFileSystem(), list, pe, &e, &dup), AttachmentCheck::kEmpty);
  ASSERT_EQ(CheckNewAttachment(DefaultFileSystem(), list, pa, &e, &dup), AttachmentCheck::kOk);
  EXPECT_EQ(e, (AttachmentEntry{pa, 10, kLocalFileAttachment}));
  list.push_back(e);
  EXPECT_EQ(CheckNewAttachment(DefaultFileSystem(), list, pa, &e, &dup), AttachmentCheck::kDuplicate);
  EXPECT_EQ(dup, 0u);
  std::u16string upper = pa;
  upper.back() = u'N';  // another file on a case-sensitive file system
  EXPECT_EQ(CheckNewAttachment(DefaultFileSystem(), list, upper, &e, &dup), AttachmentCheck::kCannotOpen);
  list[0].size = kMaxAttachmentBytes - 5;
  EXPECT_EQ(CheckNewAttachment(DefaultFileSystem(), list, pa, &e, &dup), AttachmentCheck::kTooLarge);
  list[0].size = UINT64_MAX;  // no overflow
  EXPECT_EQ(CheckNewAttachment(DefaultFileSystem(), list, pa, &e, &dup), AttachmentCheck::kTooLarge);
  list.assign(20, AttachmentEntry{u"x", 1, 7});
  EXPECT_EQ(CheckNewAttachment(DefaultFileSystem(), list, pa, &e, &dup), AttachmentCheck::kTooMany);
  EXPECT_EQ(std::u16string(AttachmentCheckMessage(AttachmentCheck::kTooMany)), u"只能添加20个附件");
}

TEST(SaveLocalMailTest, DraftTwiceKeepsItsMailId) {
  TempDir dir;
  AccountStore a(DefaultFileSystem());
  ASSERT_TRUE(a.Open(8, dir.path() + "/"));
  ASSERT_TRUE(a.SetAccountIdentity(u"me@x.cn", u"Me"));
  LocalMail mail;
  mail.to = {u"\"T\"<t@x.cn>"};
  mail.bcc = {u"\"B\"<b@x.cn>"};
  mail.subject = u"s";
  mail.body = u"hello";
  mail.compose_mode = 2;
  mail.for_sending = true;
  uint32_t id = 0;
  ASSERT_TRUE(a.SaveLocalMail(mail, &id));
  ASSERT_EQ(id, 1u);
  mail.subject = u"s2";
  ASSERT_TRUE(a.SaveLocalMail(mail, &id));
  EXPECT_EQ(id, 1u);
  EXPECT_EQ(a.mails()->mail_count(), 1u);
  MailRecord r;
  ASSERT_TRUE(a.mails()->ReadMail(id, &r));
  EXPECT_EQ(r.folder(), kLocalFolder);
  EXPECT_EQ(r.server_id(), kLocalServerId);
  EXPECT_EQ(r.local_kind(), 2);
  EXPECT_EQ(r.body_state(), kBodyComplete);
  EXPECT_EQ(r.subject, u"s2");
  EXPECT_EQ(r.sender, u"\"Me\"<me@x.cn>");
  EXPECT_EQ(r.to_count(), 1);
  EXPECT_FALSE(r.unread());
  MailFiles f;
  ASSERT_TRUE(a.mails()->files()->LoadMailFiles(id, &f));
  EXPECT_EQ(f.body, u"<html><head></head><body>hello</body></html>");
  EXPECT_EQ(r.local_body_length(), f.body.size());
  EXPECT_EQ(f.bcc, mail.bcc);
  EXPECT_EQ(a.address_book()->size(), 2u);
  EXPECT_EQ(a.mails()->FindByServerID(kLocalServerId), 0u);
}

// A draft saved again, the power going at every step of the save: after
// the cut the draft is the old one or the new one, record and files alike,
// never a mix; once the save has returned it is the new one.
TEST(SaveLocalMailTest, CutDuringASaveLeavesTheOldDraftOrTheNew) {
  int old_seen = 0, new_seen = 0;
  for (uint64_t at = 0;; ++at) {
    SCOPED_TRACE("power gone after " + std::to_string(at) + " changes");
    TempDir dir;
    FaultInjectingFileSystem fault(DefaultFileSystem());
    uint32_t id = 0;
    bool returned = false, frozen = false;
    LocalMail mail;
    mail.to = {u"\"T\"<t@x.cn>"};
    {
      AccountStore a(&fault);
      ASSERT_TRUE(a.Open(8, dir.path() + "/"));
      mail.subject = u"old";
      mail.body = u"old body";
      ASSERT_TRUE(a.SaveLocalMail(mail, &id));
      mail.subject = u"new";
      mail.body = u"new body";
      mail.cc = {u"\"C\"<c@x.cn>"};
      fault.FreezeAfter(at);
      returned = a.SaveLocalMail(mail, &id);
      frozen = fault.frozen();
    }
    fault.CutPower(at * 7919 + 1);
    AccountStore a(&fault);
    ASSERT_TRUE(a.Open(8, dir.path() + "/"));
    MailRecord r;
    ASSERT_TRUE(a.mails()->ReadMail(id, &r));
    MailFiles f;
    ASSERT_TRUE(a.mails()->files()->LoadMailFiles(id, &f));
    ASSERT_TRUE(r.subject == u"old" || r.subject == u"new") << r.subject.size();
    const bool is_new = r.subject == u"new";
    EXPECT_EQ(f.subject, r.subject);
    EXPECT_EQ(f.body, is_new ? u"new body" : u"old body");
    EXPECT_EQ(f.cc.size(), is_new ? 1u : 0u);
    if (returned) {
      EXPECT_TRUE(is_new);
    }
    std::vector<std::string> names;
    ASSERT_TRUE(DefaultFileSystem()->ListPrefix(a.mails()->files()->MailDir(id), "", &names));
    for (const std::string& n : names) EXPECT_EQ(n.find(".new"), std::string::npos) << n;
    (is_new ? new_seen : old_seen)++;
    if (!frozen) break;  // the save ran to its end before the power went
  }
  EXPECT_GT(old_seen, 0);
  EXPECT_GT(new_seen, 1);
}

}  // namespace
}  // namespace store
}  // namespace quill
