// Sync pages applied to a real account store.
#include "facade/sync_applier.h"

#include <gtest/gtest.h>

#include "facade/mail_fetch_store.h"
#include "platform/fault_file_system.h"
#include "platform/utf.h"

#include "tests/temp_dir.h"

namespace quill {
namespace facade {
namespace {

using commands::SyncCommand;

SyncCommand AddMail(uint32_t sid, int32_t flags, uint32_t folder, const std::string& subject) {
  SyncCommand c;
  c.type = commands::kRbcmdAddMail;
  c.id = sid;
  c.flags = flags;
  c.folder_id = static_cast<int32_t>(folder);
  c.date = 1796637600;
  c.texts = {subject, "Zhang", "z@x.cn"};
  return c;
}

class SyncApplierTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.path().empty());
    ASSERT_TRUE(store_.Open(10001, dir_.path() + "/"));
  }
  SyncPageStats Apply(std::vector<SyncCommand> commands, int32_t key) {
    commands::SyncResponse page;
    page.head.result = 0;
    page.new_key = key;
    page.commands = std::move(commands);
    SyncPageStats stats;
    EXPECT_TRUE(ApplySyncPage(&store_, page, /*durable=*/true, &stats));
    return stats;
  }
  TempDir dir_;
  store::AccountStore store_{DefaultFileSystem()};
};

TEST_F(SyncApplierTest, MailsFoldersAndTheKeyLand) {
  SyncCommand folder;
  folder.type = commands::kRbcmdAddMailFolder;
  folder.id = 100;
  folder.texts = {"Work"};
  const SyncPageStats stats =
      Apply({folder, AddMail(1, 1, 1, "一"), AddMail(2, 0, 100, "two")}, 3);
  EXPECT_EQ(stats.unread_added, 1);
  EXPECT_EQ(store_.GetSyncKey(), 3);
  store::MailStore* mails = store_.mails();
  ASSERT_EQ(mails->mail_count(), 2u);
  EXPECT_EQ(mails->UnreadCount(store::kAllFolders), 1u);
  EXPECT_EQ(mails->TotalCount(100), 1u);
  store::MailRecord m;
  ASSERT_TRUE(mails->ReadMail(mails->FindByServerID(1), &m));
  EXPECT_EQ(m.subject, u"一");
  EXPECT_EQ(m.sender, u"\"Zhang\"<z@x.cn>");
  EXPECT_EQ(m.date(), 1796637600 * 10000000ull + 116444736000000000ull);

  SyncCommand update;
  update.type = commands::kRbcmdUpdateMail;
  update.mask = 1 | 16;
  update.id = 1;
  update.flags = 0;
  update.folder_id = 100;
  SyncCommand unknown = update;
  unknown.id = 77;  // changes nothing
  SyncCommand del;
  del.type = commands::kRbcmdDelMail;
  del.id = 2;
  Apply({update, unknown, del}, 6);
  EXPECT_EQ(mails->mail_count(), 1u);
  EXPECT_EQ(mails->UnreadCount(store::kAllFolders), 0u);
  EXPECT_EQ(mails->TotalCount(100), 1u);
  EXPECT_EQ(mails->FindByServerID(2), 0u);
}

TEST_F(SyncApplierTest, AFailedWriteStopsThePageAndKeepsItsKey) {
  FaultInjectingFileSystem fs(DefaultFileSystem());
  TempDir dir;
  commands::SyncResponse page;
  page.new_key = 9;
  SyncCommand folder;
  folder.type = commands::kRbcmdAddMailFolder;
  folder.id = 100;
  folder.texts = {"Work"};
  page.commands = {AddMail(1, 1, 1, "a"), folder, AddMail(2, 1, 100, "b")};
  {
    store::AccountStore store(&fs);
    ASSERT_TRUE(store.Open(10001, dir.path() + "/"));
    fs.FailWrite(1);  // one write fails (the volume was full for a moment)
    SyncPageStats stats;
    stats.unread_added = 7;
    EXPECT_FALSE(ApplySyncPage(&store, page, /*durable=*/true, &stats));
    EXPECT_EQ(stats.unread_added, 0);  // nothing counts as new
    EXPECT_EQ(store.GetSyncKey(), 0);
    fs.FailWrite(0);
  }
  // The same page again, after a restart: everything lands.
  store::AccountStore store(&fs);
  ASSERT_TRUE(store.Open(10001, dir.path() + "/"));
  EXPECT_EQ(store.GetSyncKey(), 0);
  SyncPageStats stats;
  ASSERT_TRUE(ApplySyncPage(&store, page, /*durable=*/true, &stats));
  EXPECT_EQ(stats.unread_added, 2);
  EXPECT_EQ(store.mails()->mail_count(), 2u);
  EXPECT_EQ(store.mails()->TotalCount(100), 1u);
  EXPECT_EQ(store.GetSyncKey(), 9);
}

TEST_F(SyncApplierTest, ReplayedAddMailKeepsTheBodyItHolds) {
  Apply({AddMail(5, 1, 1, "old subject")}, 1);
  store::MailStore* mails = store_.mails();
  const uint32_t id = mails->FindByServerID(5);
  store::MailRecord m;
  ASSERT_TRUE(mails->ReadMail(id, &m));
  m.set_body_state(store::kBodyComplete);
  m.set_server_body_length(300);
  m.set_local_body_length(300);
  m.set_body_version(9);
  ASSERT_TRUE(mails->WriteMail(id, &m));

  const SyncPageStats stats = Apply({AddMail(5, 0, 1, "new subject")}, 2);
  EXPECT_EQ(stats.unread_added, 0);  // not a new mail
  EXPECT_EQ(mails->mail_count(), 1u);
  ASSERT_TRUE(mails->ReadMail(id, &m));
  EXPECT_EQ(m.subject, u"new subject");
  EXPECT_FALSE(m.unread());
  EXPECT_EQ(m.body_state(), store::kBodyComplete);
  EXPECT_EQ(m.local_body_length(), 300u);
  EXPECT_EQ(m.body_version(), 9);
  EXPECT_EQ(mails->UnreadCount(store::kAllFolders), 0u);
}

TEST_F(SyncApplierTest, EmbeddedBriefsLandAndNeverCutAHeldBody) {
  commands::SyncResponse page;
  page.new_key = 3;
  page.commands = {AddMail(5, 1, 1, "s"), AddMail(6, 1, 1, "t")};
  commands::BriefResponse brief;
  brief.server_id = 5;
  brief.subject = "full subject";
  brief.body_length = 9;
  brief.body_version = 4;
  brief.brief_text = "brief";
  brief.to = {{"li@x.cn", "Li"}};
  brief.to_total = 1;
  commands::BriefResponse unknown = brief;
  unknown.server_id = 99;  // no such mail: skipped
  page.briefs = {brief, unknown};
  SyncPageStats stats;
  ASSERT_TRUE(ApplySyncPage(&store_, page, /*durable=*/true, &stats));
  store::MailStore* mails = store_.mails();
  const uint32_t id = mails->FindByServerID(5);
  store::MailRecord m;
  ASSERT_TRUE(mails->ReadMail(id, &m));
  EXPECT_EQ(m.subject, u"full subject");
  EXPECT_EQ(m.body_state(), store::kBodyIncomplete);
  EXPECT_EQ(m.local_body_length(), 5u);
  EXPECT_EQ(mails->mail_count(), 2u);

  // The whole body arrives; the same brief again keeps it, a new version
  // replaces it.
  commands::BodyResponse rest;
  rest.offset = 5;
  rest.text = "-rest";
  rest.body_length = 10;
  rest.body_version = 4;
  ASSERT_TRUE(StoreBodySlice(&store_, id, 5, rest));
  ASSERT_TRUE(StoreBrief(&store_, id, brief));
  store::MailFiles files;
  mails->files()->LoadMailFiles(id, &files);
  EXPECT_EQ(files.body, u"brief-rest");
  ASSERT_TRUE(mails->ReadMail(id, &m));
  EXPECT_EQ(m.body_state(), store::kBodyComplete);
  brief.body_version = 5;
  ASSERT_TRUE(StoreBrief(&store_, id, brief));
  mails->files()->LoadMailFiles(id, &files);
  EXPECT_EQ(files.body, u"brief");
}

TEST_F(SyncApplierTest, BriefTextsWithLineBreaksStayOneEntryEach) {
  Apply({AddMail(5, 1, 1, "x")}, 1);
  store::MailStore* mails = store_.mails();
  const uint32_t id = mails->FindByServerID(5);
  // A hostile service hides entries behind CR LF and NUL in names.
  commands::BriefResponse brief;
  brief.head.result = 0;
  brief.server_id = 5;
  brief.subject = "s\r\nX-Injected";
  brief.to = {{"a@x\nb@y", "A\r\n\"B\"<b@y>"}, {"c@x", "C"}};
  brief.to_total = 2;
  brief.attachments = {{"a.txt\r\n7?0?evil.exe", 5, 0},
                       {std::string("n\0ul", 4), 6, 0}};
  brief.attachment_total = 2;
  ASSERT_TRUE(StoreBrief(&store_, id, brief));
  store::MailFiles files;
  ASSERT_TRUE(mails->files()->LoadMailFiles(id, &files));
  ASSERT_EQ(files.attachments.size(), 2u);
  EXPECT_EQ(files.attachments[0].name, u"a.txt  7?0?evil.exe");
  EXPECT_EQ(files.attachments[0].size, 5u);
  EXPECT_EQ(files.attachments[1].name, u"n ul");
  ASSERT_EQ(files.to.size(), 2u);
  EXPECT_EQ(files.to[0], u"\"A  \"B\"<b@y>\"<a@x b@y>");
  store::MailRecord m;
  ASSERT_TRUE(mails->ReadMail(id, &m));
  EXPECT_EQ(m.subject, u"s  X-Injected");
}

TEST_F(SyncApplierTest, BodySlicesLandOnlyWhereTheHeldTextEnds) {
  Apply({AddMail(5, 1, 1, "long")}, 1);
  store::MailStore* mails = store_.mails();
  const uint32_t id = mails->FindByServerID(5);
  auto slice = [](int32_t result, int32_t offset, const std::string& text) {
    commands::BodyResponse b;
    b.head.result = result;
    b.offset = offset;
    b.text = text;
    b.body_length = 10;
    b.body_version = 7;
    return b;
  };
  auto held = [&] {
    store::MailFiles files;
    mails->files()->LoadMailFiles(id, &files);
    return Utf16ToUtf8(files.body);
  };
  ASSERT_TRUE(StoreBodySlice(&store_, id, 0, slice(0, 0, "abcd")));
  EXPECT_FALSE(StoreBodySlice(&store_, id, 6, slice(0, 6, "gh")));  // past the held end
  EXPECT_FALSE(StoreBodySlice(&store_, id, 4, slice(0, 3, "xy")));  // not where it was asked
  EXPECT_EQ(held(), "abcd");
  ASSERT_TRUE(StoreBodySlice(&store_, id, 4, slice(0, 4, "ef")));
  EXPECT_EQ(held(), "abcdef");

  // A changed version answered from a non-zero offset: the held text stays
  // readable offline (answered ok, so the caller asks again from 0).
  auto changed = slice(commands::kBodyVersionChanged, 6, "zz");
  changed.body_version = 8;
  EXPECT_TRUE(StoreBodySlice(&store_, id, 6, changed));
  EXPECT_EQ(held(), "abcdef");
  store::MailRecord m;
  ASSERT_TRUE(mails->ReadMail(id, &m));
  EXPECT_EQ(m.local_body_length(), 6u);
  EXPECT_EQ(m.body_version(), 7);
  EXPECT_EQ(m.body_state(), store::kBodyIncomplete);
  // Asked again from 0: the new version's text replaces the held one.
  auto fresh = slice(0, 0, "0123");
  fresh.body_version = 8;
  ASSERT_TRUE(StoreBodySlice(&store_, id, 0, fresh));
  EXPECT_EQ(held(), "0123");
  ASSERT_TRUE(mails->ReadMail(id, &m));
  EXPECT_EQ(m.body_version(), 8);
  EXPECT_EQ(m.local_body_length(), 4u);
  ASSERT_TRUE(StoreBodySlice(&store_, id, 4, slice(0, 4, "456789")));
  EXPECT_EQ(held(), "0123456789");
  ASSERT_TRUE(mails->ReadMail(id, &m));
  EXPECT_EQ(m.body_state(), store::kBodyComplete);
}

}  // namespace
}  // namespace facade
}  // namespace quill
