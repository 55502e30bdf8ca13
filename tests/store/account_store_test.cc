#include "store/account_store.h"
#include "store/store_checker.h"

#include <gtest/gtest.h>

#include "platform/fault_file_system.h"
#include "platform/utf.h"
#include "store/global_settings.h"
#include "store/le_bytes.h"
#include "tests/temp_dir.h"

namespace quill {
namespace store {
namespace {

class CommandQueueTest : public ::testing::Test {
 protected:
  std::string Dir() const { return dir_.path() + "/"; }
  Bytes File(const char* name) {
    Bytes b;
    if (!DefaultFileSystem()->ReadFile(Dir() + name, &b)) b.clear();
    return b;
  }
  void Put(const char* name, const Bytes& b) {
    ASSERT_TRUE(DefaultFileSystem()->ReplaceAtomically(Dir() + name, ByteView(b)));
  }
  TempDir dir_;
};

TEST_F(CommandQueueTest, RecordBytesAndRealServerIdsOnly) {
  CommandQueue q(DefaultFileSystem(), Dir());
  EXPECT_FALSE(q.QueueDelete(0xFFFFFFFF));
  EXPECT_FALSE(q.QueueSetFlags(0, 1));
  ASSERT_TRUE(q.QueueDelete(0x01020304));
  ASSERT_TRUE(q.QueueSetFlags(7, 1));
  const Bytes expect = {1, 0, 0, 0, 4, 3, 2, 1, 0, 0, 0, 0, 2, 0, 0, 0, 7, 0, 0, 0, 1, 0, 0, 0};
  EXPECT_EQ(File("CmdFile"), expect);
}

TEST_F(CommandQueueTest, PartialRecordIsCutWhenLoading) {
  Bytes b = CommandQueue::Encode({{1, 5, 0}, {2, 6, 1}});
  b.resize(30, 0xEE);
  Put("CmdFile", b);
  CommandQueue q(DefaultFileSystem(), Dir());
  EXPECT_EQ(q.pending().size(), 2u);
  EXPECT_EQ(File("CmdFile").size(), 24u);
}

TEST_F(CommandQueueTest, FailedBatchComesBackInFrontInOrder) {
  CommandQueue q(DefaultFileSystem(), Dir());
  q.QueueDelete(1);
  q.QueueSetFlags(2, 0);
  std::vector<Command> batch;
  ASSERT_TRUE(q.TakeBatch(&batch));
  EXPECT_EQ(batch.size(), 2u);
  EXPECT_FALSE(q.TakeBatch(&batch));
  q.QueueDelete(3);  // while in flight
  EXPECT_EQ(File("CmdFileCopy"), CommandQueue::Encode({{1, 3, 0}}));
  ASSERT_TRUE(q.FinishBatch(false));
  EXPECT_FALSE(q.FinishBatch(false));
  const std::vector<Command> expect = {{1, 1, 0}, {2, 2, 0}, {1, 3, 0}};
  EXPECT_EQ(q.pending(), expect);
  EXPECT_EQ(File("CmdFile"), CommandQueue::Encode(expect));
  EXPECT_TRUE(File("CmdFileCopy").empty());
  ASSERT_TRUE(q.TakeBatch(&batch));
  q.QueueDelete(4);
  ASSERT_TRUE(q.FinishBatch(true));
  EXPECT_EQ(File("CmdFile"), CommandQueue::Encode({{1, 4, 0}}));
}

// A crash while a batch is in flight: loading keeps the order, the older
// commands of "CmdFile" first.
TEST_F(CommandQueueTest, LoadKeepsOrderAfterCrashInFlight) {
  Put("CmdFile", CommandQueue::Encode({{1, 1, 0}, {1, 2, 0}}));
  Put("CmdFileCopy", CommandQueue::Encode({{2, 3, 1}}));
  CommandQueue q(DefaultFileSystem(), Dir());
  const std::vector<Command> expect = {{1, 1, 0}, {1, 2, 0}, {2, 3, 1}};
  EXPECT_EQ(q.pending(), expect);
  EXPECT_EQ(File("CmdFile"), CommandQueue::Encode(expect));
  EXPECT_TRUE(File("CmdFileCopy").empty());
}

// A crash after "CmdFile" got the copy's records but before the copy was
// emptied must not queue them twice.
TEST_F(CommandQueueTest, InterruptedMergeIsNotTakenTwice) {
  Put("CmdFile", CommandQueue::Encode({{1, 1, 0}, {2, 3, 1}}));
  Put("CmdFileCopy", CommandQueue::Encode({{2, 3, 1}}));
  CommandQueue q(DefaultFileSystem(), Dir());
  EXPECT_EQ(q.pending(), (std::vector<Command>{{1, 1, 0}, {2, 3, 1}}));
}

// Every write of a batch's end failing in turn, then a crash: reloading
// finds every command that was not acknowledged exactly once, in order.
TEST_F(CommandQueueTest, FinishBatchSurvivesFailuresAndCrashes) {
  for (uint64_t n = 1; n <= 6; ++n) {
    DefaultFileSystem()->Delete(Dir() + "CmdFile");
    DefaultFileSystem()->Delete(Dir() + "CmdFileCopy");
    FaultInjectingFileSystem fault(DefaultFileSystem());
    {
      CommandQueue q(&fault, Dir());
      q.QueueDelete(1);
      std::vector<Command> batch;
      ASSERT_TRUE(q.TakeBatch(&batch));
      q.QueueDelete(2);
      q.QueueDelete(3);
      fault.FailWrite(n, true);
      q.FinishBatch(false);
    }
    fault.SimulateCrash();
    CommandQueue again(DefaultFileSystem(), Dir());
    const std::vector<Command> expect = {{1, 1, 0}, {1, 2, 0}, {1, 3, 0}};
    EXPECT_EQ(again.pending(), expect) << "failing write " << n;
  }
}

class AccountStoreTest : public ::testing::Test {
 protected:
  std::string Data() const { return dir_.path() + "/"; }
  TempDir dir_;
};

TEST_F(AccountStoreTest, SettingsAndDataId) {
  AccountStore::Id16 device{};
  for (int i = 0; i < 16; ++i) device[i] = static_cast<uint8_t>(i + 1);
  AccountStore::Id16 first;
  {
    AccountStore a(DefaultFileSystem());
    EXPECT_EQ(a.GetSyncKey(), 0);
    ASSERT_TRUE(a.Open(777, Data()));
    EXPECT_TRUE(a.fresh());
    EXPECT_EQ(a.account_dir(), Data() + "777/");
    ASSERT_TRUE(a.SetSyncKey(-5));
    ASSERT_TRUE(a.SetLastFolder(0xFFFF9741));
    first = a.GetAccountDataId(device);
    EXPECT_NE(first, device);  // a fresh store gets a digest
    EXPECT_EQ(a.GetAccountDataId(device), first);
  }
  AccountStore b(DefaultFileSystem());
  ASSERT_TRUE(b.Open(777, Data()));
  EXPECT_FALSE(b.fresh());
  EXPECT_EQ(b.GetSyncKey(), -5);
  EXPECT_EQ(b.GetLastFolder(), 0xFFFF9741u);
  EXPECT_EQ(b.GetAccountDataId(device), first);
  std::u16string hex = b.settings()->GetText("ACCOUNT_DATA_ID", u"");
  EXPECT_EQ(hex.size(), 32u);
  EXPECT_EQ(hex.find_first_of(u"ABCDEF"), std::u16string::npos);
}

// A last folder written as a signed number (the unread view is -26815 in
// files of the device) reads back as the same FolderID.
TEST_F(AccountStoreTest, NegativeLastFolderReadsAsItsFolderId) {
  {
    AccountStore a(DefaultFileSystem());
    ASSERT_TRUE(a.Open(6, Data()));
  }
  ConfigFile cfg(DefaultFileSystem());
  cfg.SetPath(Data() + "6/account.cfg");
  ASSERT_TRUE(cfg.SetText("LAST_FOLDER_KEY", u"-26815"));
  AccountStore a(DefaultFileSystem());
  ASSERT_TRUE(a.Open(6, Data()));
  EXPECT_EQ(a.GetLastFolder(), kUnreadView);
}

TEST_F(AccountStoreTest, MalformedDataIdReadsAsAbsent) {
  AccountStore::Id16 device{};
  device[0] = 0xAA;
  {
    AccountStore a(DefaultFileSystem());
    ASSERT_TRUE(a.Open(1, Data()));
  }
  for (const char16_t* bad : {u"xyz", u"0123456789abcdef0123456789abcdeg", u"01 23456789abcdef0123456789abcde"}) {
    ConfigFile cfg(DefaultFileSystem());
    cfg.SetPath(Data() + "1/account.cfg");
    ASSERT_TRUE(cfg.SetText("ACCOUNT_DATA_ID", bad));
    AccountStore a(DefaultFileSystem());
    ASSERT_TRUE(a.Open(1, Data()));
    EXPECT_EQ(a.GetAccountDataId(device), device);  // not fresh: the device id
    EXPECT_EQ(a.settings()->GetText("ACCOUNT_DATA_ID", u""), u"aa000000000000000000000000000000");
  }
  ConfigFile cfg(DefaultFileSystem());
  cfg.SetPath(Data() + "1/account.cfg");
  ASSERT_TRUE(cfg.SetText("ACCOUNT_DATA_ID", u"00112233445566778899AABBCCDDEEFF"));
  AccountStore a(DefaultFileSystem());
  ASSERT_TRUE(a.Open(1, Data()));
  AccountStore::Id16 got = a.GetAccountDataId(device);
  EXPECT_EQ(got[0], 0x00);
  EXPECT_EQ(got[15], 0xFF);
}

TEST_F(AccountStoreTest, ResetIndexClearsSyncKeyAndMailFiles) {
  {
    AccountStore a(DefaultFileSystem());
    ASSERT_TRUE(a.Open(5, Data()));
    MailRecord m;
    m.set_server_id(44);
    m.set_folder(1);
    uint32_t id = a.mails()->AddOrUpdateMail(&m);
    ASSERT_TRUE(DefaultFileSystem()->ReplaceAtomically(a.mails()->files()->MailDir(id) + "mail.txt",
                                                       ByteView(std::string("old"))));
    ASSERT_TRUE(a.SetSyncKey(99));
  }
  ASSERT_TRUE(DefaultFileSystem()->ReplaceAtomically(Data() + "5/mails.idx", ByteView(std::string("junk"))));
  AccountStore a(DefaultFileSystem());
  ASSERT_TRUE(a.Open(5, Data()));
  EXPECT_EQ(a.GetSyncKey(), 0);
  EXPECT_FALSE(DefaultFileSystem()->Exists(Data() + "5/01/1/mail.txt"));
  EXPECT_EQ(a.mails()->mail_count(), 0u);
}

TEST_F(AccountStoreTest, ASavedSyncKeyNeverRunsAheadOfTheMails) {
  FaultInjectingFileSystem fs(DefaultFileSystem());
  auto add = [](AccountStore* a, uint32_t sid) {
    MailRecord m;
    m.set_server_id(sid);
    m.set_folder(1);
    return a->mails()->AddOrUpdateMail(&m) != 0;
  };
  {
    AccountStore a(&fs);
    ASSERT_TRUE(a.Open(5, Data()));
    ASSERT_TRUE(add(&a, 1));
    ASSERT_TRUE(a.SetSyncKey(10));  // durable: the mail is in
    ASSERT_TRUE(add(&a, 2));
    ASSERT_TRUE(a.SetSyncKey(11, /*durable=*/false));
    ASSERT_TRUE(a.SetLastFolder(3));  // saves account.cfg, but not the held key
    EXPECT_EQ(a.GetSyncKey(), 11);
    fs.SimulateCrash();
  }
  {
    AccountStore a(&fs);
    ASSERT_TRUE(a.Open(5, Data()));
    EXPECT_EQ(a.GetSyncKey(), 10);  // the page after it is applied again
    EXPECT_NE(a.mails()->FindByServerID(1), 0u);
    ASSERT_TRUE(add(&a, 2));
    ASSERT_TRUE(a.SetSyncKey(12, /*durable=*/false));
    ASSERT_TRUE(a.CommitSyncKey());
    fs.SimulateCrash();
  }
  AccountStore a(&fs);
  ASSERT_TRUE(a.Open(5, Data()));
  EXPECT_EQ(a.GetSyncKey(), 12);
  EXPECT_NE(a.mails()->FindByServerID(2), 0u);
}

// Every change that cannot be written says so, on a full volume (ENOSPC)
// and on a write error alike, and leaves nothing half-stored listed.
TEST_F(AccountStoreTest, FailedWritesAreReported) {
  FaultInjectingFileSystem fault(DefaultFileSystem());
  AccountStore a(&fault);
  ASSERT_TRUE(a.Open(5, Data()));
  MailRecord m;
  m.set_server_id(70);
  m.set_folder(1);
  m.set_flags(kUnreadFlag);
  const uint32_t id = a.mails()->AddOrUpdateMail(&m);
  ASSERT_NE(id, 0u);
  ASSERT_TRUE(a.folders()->AddFolder(1, u"Inbox"));
  ASSERT_TRUE(a.address_book()->AddContact(u"A", u"a@x.cn", 1, 5, u"", u""));
  for (uint32_t error : {ENOSPC, EIO}) {
    SCOPED_TRACE(error);
    fault.FailWrite(1, /*sticky=*/true, error);
    MailRecord n;
    n.set_server_id(71);
    n.set_folder(1);
    EXPECT_EQ(a.mails()->AddOrUpdateMail(&n), 0u);
    EXPECT_FALSE(a.mails()->SetMailFlags(id, 0));
    EXPECT_FALSE(a.mails()->MoveMail(id, 3));
    EXPECT_FALSE(a.MarkRead(id));
    EXPECT_FALSE(a.folders()->AddFolder(9, u"Nine"));
    EXPECT_FALSE(a.folders()->UpdateFolder(1, 1, u"In"));
    EXPECT_FALSE(a.address_book()->AddContact(u"N", u"n@x.cn", 2, 6, u"", u""));
    EXPECT_FALSE(a.address_book()->UpdateContact(u"B", u"", 1, 5, 1));
    size_t added = 7;
    EXPECT_FALSE(a.address_book()->AddUnknownAddresses({u"z@x.cn"}, &added));
    EXPECT_EQ(added, 0u);
    fault.FailWrite(0);
    // What the store shows is what it holds.
    EXPECT_EQ(a.mails()->FindByServerID(71), 0u);
    EXPECT_EQ(a.mails()->UnreadCount(1), 1u);
    EXPECT_EQ(a.mails()->TotalCount(3), 0u);
    EXPECT_TRUE(a.commands()->pending().empty());
    EXPECT_EQ(a.folders()->Find(9), nullptr);
    ASSERT_NE(a.folders()->Find(1), nullptr);
    EXPECT_EQ(a.folders()->Find(1)->name(), u"Inbox");
    EXPECT_EQ(a.address_book()->size(), 1u);
    EXPECT_EQ(a.address_book()->RankList()[0]->record.name, "A");
  }
  AccountStore again(DefaultFileSystem());
  ASSERT_TRUE(again.Open(5, Data()));
  EXPECT_EQ(again.mails()->mail_count(), 1u);
  EXPECT_EQ(again.address_book()->size(), 1u);
  EXPECT_EQ(again.folders()->folders().size(), 1u);
}

// A sync page whose writes fail on a full volume is not applied: the key
// does not move, neither saved nor held, and the mails of the pages since
// the last saved key are gone with it, so the next sync starts from there.
TEST_F(AccountStoreTest, APageThatCannotBeWrittenMovesNoKey) {
  FaultInjectingFileSystem fault(DefaultFileSystem());
  auto page = [](AccountStore* a, uint32_t server_id) {
    a->mails()->BeginBatch();
    MailRecord m;
    m.set_server_id(server_id);
    m.set_folder(1);
    const bool added = a->mails()->AddOrUpdateMail(&m) != 0;
    a->mails()->EndBatch(/*flush=*/false);
    return added;
  };
  {
    AccountStore a(&fault);
    ASSERT_TRUE(a.Open(5, Data()));
    ASSERT_TRUE(page(&a, 1));
    ASSERT_TRUE(a.SetSyncKey(10));
    ASSERT_TRUE(page(&a, 2));
    ASSERT_TRUE(a.SetSyncKey(11, /*durable=*/false));
    fault.FailWrite(1, /*sticky=*/true, ENOSPC);
    page(&a, 3);
    EXPECT_FALSE(a.SetSyncKey(12));
    fault.FailWrite(0);
    EXPECT_EQ(a.GetSyncKey(), 10);
    EXPECT_NE(a.mails()->FindByServerID(1), 0u);
    EXPECT_EQ(a.mails()->FindByServerID(3), 0u);
    EXPECT_TRUE(a.CommitSyncKey());  // the held 11 is not saved
    EXPECT_EQ(a.GetSyncKey(), 10);
  }
  AccountStore a(&fault);
  ASSERT_TRUE(a.Open(5, Data()));
  EXPECT_EQ(a.GetSyncKey(), 10);
  EXPECT_NE(a.mails()->FindByServerID(1), 0u);
  EXPECT_EQ(a.mails()->FindByServerID(3), 0u);
}

// A write that fails in the middle of a sync rolls the files back to their
// last commit: the key held for the pages since then is dropped, and the
// next key set fails once, so the sync that relied on them ends.
TEST_F(AccountStoreTest, ARollBackDropsTheHeldKey) {
  FaultInjectingFileSystem fault(DefaultFileSystem());
  AccountStore a(&fault);
  ASSERT_TRUE(a.Open(5, Data()));
  ASSERT_TRUE(a.SetSyncKey(10));
  a.BeginBatch();
  ASSERT_TRUE(a.address_book()->AddContact(u"S", u"s@x.cn", 1, 8, u"", u""));
  ASSERT_TRUE(a.EndBatch(/*flush=*/false));
  ASSERT_TRUE(a.SetSyncKey(11, /*durable=*/false));
  EXPECT_EQ(a.GetSyncKey(), 11);
  fault.FailWrite(1, /*sticky=*/true);
  MailRecord m;
  m.set_server_id(5);
  m.set_folder(1);
  EXPECT_EQ(a.mails()->AddOrUpdateMail(&m), 0u);  // a user's change, committed alone
  EXPECT_FALSE(a.address_book()->AddContact(u"T", u"t@x.cn", 2, 9, u"", u""));
  fault.FailWrite(0);
  EXPECT_FALSE(a.SetSyncKey(12, /*durable=*/false));
  EXPECT_EQ(a.GetSyncKey(), 10);
  EXPECT_EQ(a.address_book()->size(), 0u);  // the page's contact went with the roll-back
  EXPECT_TRUE(a.SetSyncKey(12, /*durable=*/false));  // the next sync goes on
  EXPECT_TRUE(a.CommitSyncKey());
  EXPECT_EQ(a.GetSyncKey(), 12);
}

TEST_F(AccountStoreTest, MarksQueueOnlyAfterTheFlagChange) {
  AccountStore a(DefaultFileSystem());
  ASSERT_TRUE(a.Open(5, Data()));
  MailRecord service, local;
  service.set_server_id(70);
  service.set_folder(1);
  service.set_flags(kUnreadFlag);
  local.set_folder(kLocalFolder);
  uint32_t s = a.mails()->AddOrUpdateMail(&service);
  uint32_t l = a.mails()->AddOrUpdateMail(&local);
  EXPECT_TRUE(a.MarkRead(s));
  EXPECT_TRUE(a.MarkRead(s));  // already read: no second command
  EXPECT_FALSE(a.MarkUnread(l));  // folder 4
  EXPECT_TRUE(a.MarkUnread(s));
  EXPECT_FALSE(a.MarkUnread(s));
  EXPECT_FALSE(a.MarkRead(999));
  const std::vector<Command> expect = {{2, 70, 0}, {2, 70, 1}};
  EXPECT_EQ(a.commands()->pending(), expect);
  EXPECT_EQ(a.mails()->UnreadCount(0), 1u);
  ASSERT_TRUE(a.DeleteMailsAndQueue({s, l}));
  EXPECT_EQ(a.commands()->pending().back(), (Command{1, 70, 0}));
  EXPECT_EQ(a.commands()->pending().size(), 3u);
}

TEST_F(AccountStoreTest, AccountCfgBytes) {
  AccountStore a(DefaultFileSystem());
  ASSERT_TRUE(a.Open(3, Data()));
  ASSERT_TRUE(a.SetSyncKey(-5));
  ASSERT_TRUE(a.SetLastFolder(7));
  Bytes raw;
  ASSERT_TRUE(DefaultFileSystem()->ReadFile(Data() + "3/account.cfg", &raw));
  const std::u16string text = u"SYNC_KEY_V1:-5\r\nLAST_FOLDER_KEY:7";
  Bytes want;
  for (char16_t c : text) {
    want.push_back(static_cast<uint8_t>(c));
    want.push_back(static_cast<uint8_t>(c >> 8));
  }
  EXPECT_EQ(raw, want);
}

TEST_F(AccountStoreTest, CheckerFindsWhatIsWrong) {
  {
    AccountStore a(DefaultFileSystem());
    ASSERT_TRUE(a.Open(4, Data()));
    for (uint32_t s = 1; s <= 3; ++s) {
      MailRecord m;
      m.set_server_id(s);
      m.set_folder(1);
      a.mails()->AddOrUpdateMail(&m);
    }
    a.folders()->AddFolder(1, u"Inbox");
    a.address_book()->AddContact(u"A", u"a@b.c", 1, 5, u"", u"");
    a.commands()->QueueDelete(9);
    ASSERT_TRUE(a.mails()->DeleteMail(2));
  }
  const std::string dir = Data() + "4/";
  StoreCheckReport clean = CheckAccountStore(DefaultFileSystem(), dir);
  EXPECT_TRUE(clean.clean()) << clean.problems[0];
  EXPECT_FALSE(clean.facts.empty());

  Bytes idx;
  ASSERT_TRUE(DefaultFileSystem()->ReadFile(dir + "mails.idx", &idx));
  PutLe32(&idx[64 + 2 * 8192], 1);  // the newest record (slot 3) claims id 1, which slot 1 holds
  PutLe32(&idx[64 + 2 * 8192 + 8], 1);  // and ServerID 1
  ASSERT_TRUE(DefaultFileSystem()->ReplaceAtomically(dir + "mails.idx", ByteView(idx)));
  ASSERT_TRUE(DefaultFileSystem()->ReplaceAtomically(dir + "42/42/mail.txt", ByteView(std::string("x"))));
  ASSERT_TRUE(DefaultFileSystem()->ReplaceAtomically(dir + "CmdFile", ByteView(std::string(30, 'c'))));
  Bytes before = idx;
  StoreCheckReport bad = CheckAccountStore(DefaultFileSystem(), dir);
  EXPECT_FALSE(bad.clean());
  std::string all;
  for (const std::string& p : bad.problems) all += p + "\n";
  EXPECT_NE(all.find("slot 1 duplicate or zero id 1"), std::string::npos) << all;
  EXPECT_NE(all.find("42/42"), std::string::npos) << all;
  EXPECT_NE(all.find("CmdFile: 30 bytes"), std::string::npos) << all;
  Bytes after;
  ASSERT_TRUE(DefaultFileSystem()->ReadFile(dir + "mails.idx", &after));
  EXPECT_EQ(after, before);  // read-only

  PutLe32(&idx[64 + 2 * 8192], 3);          // the chain is whole again
  PutLe32(&idx[64 + 2 * 8192 + 8], 3);
  PutLe32(&idx[64 + 8], 3);                 // but slot 1 has ServerID 3 too
  ASSERT_TRUE(DefaultFileSystem()->ReplaceAtomically(dir + "mails.idx", ByteView(idx)));
  bad = CheckAccountStore(DefaultFileSystem(), dir);
  all.clear();
  for (const std::string& p : bad.problems) all += p + "\n";
  EXPECT_NE(all.find("mails.idx slot 1 (record 1): ServerID 3 also in record 3"), std::string::npos) << all;
}

}  // namespace
}  // namespace store
}  // namespace quill
