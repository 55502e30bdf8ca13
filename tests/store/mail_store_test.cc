#include "store/mail_store.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <random>

#include "platform/fault_file_system.h"
#include "store/folder_store.h"
#include "store/le_bytes.h"
#include "tests/temp_dir.h"

namespace quill {
namespace store {
namespace {

MailRecord ServiceMail(uint32_t server_id, uint32_t folder, uint64_t date, bool unread) {
  MailRecord m;
  m.set_server_id(server_id);
  m.set_folder(folder);
  m.set_date(date);
  m.set_flags(unread ? kUnreadFlag : 0);
  m.subject = u"mail " + std::u16string(1, static_cast<char16_t>(u'A' + server_id % 26));
  m.MarkTextsChanged();
  return m;
}

// What the indexes must be: a recount from the model of every mail.
struct ModelMail {
  uint32_t server_id;
  uint32_t folder;
  uint64_t date;
  uint32_t flags;
  uint16_t kind;
};
using Model = std::map<uint32_t, ModelMail>;

void ExpectIndexesMatch(const MailStore& store, const Model& model) {
  std::map<uint32_t, uint32_t> total, unread;
  std::map<uint32_t, std::vector<ViewEntry>> views;
  for (const auto& [id, m] : model) {
    const bool u = m.flags & kUnreadFlag;
    ++total[m.folder];
    if (m.folder != 0) ++total[0];
    if (u) {
      ++unread[m.folder];
      if (m.folder != 0) ++unread[0];
    }
    views[m.folder].push_back({m.date, id});
    if (m.folder != 0) views[0].push_back({m.date, id});
    if (u && m.folder != kUnreadView) views[kUnreadView].push_back({m.date, id});
    if (m.server_id != kLocalServerId && m.server_id != 0 && m.kind == 0) {
      EXPECT_EQ(store.FindByServerID(m.server_id), id);
    }
    EXPECT_EQ(store.GetServerID(id), m.server_id);
  }
  ASSERT_EQ(store.mail_count(), model.size());
  for (uint32_t f : {0u, 1u, 3u, 4u, 7u, kUnreadView}) {
    EXPECT_EQ(store.TotalCount(f), total[f]) << "folder " << f;
    EXPECT_EQ(store.UnreadCount(f), unread[f]) << "folder " << f;
    std::sort(views[f].begin(), views[f].end());
    EXPECT_EQ(store.View(f), views[f]) << "view " << f;
  }
}

class MailStoreTest : public ::testing::Test {
 protected:
  std::string Dir() const { return dir_.path() + "/12345/"; }
  TempDir dir_;
};

TEST_F(MailStoreTest, AddUpdateAndCounters) {
  MailStore store(DefaultFileSystem());
  ASSERT_TRUE(store.Open(Dir()));
  MailRecord a = ServiceMail(100, 1, 50, true);
  uint32_t id = store.AddOrUpdateMail(&a);
  ASSERT_EQ(id, 1u);
  EXPECT_EQ(store.TotalCount(1), 1u);
  EXPECT_EQ(store.UnreadCount(0), 1u);
  // Same ServerID: rewritten in place, moved to folder 7 and read.
  MailRecord b = ServiceMail(100, 7, 60, false);
  EXPECT_EQ(store.AddOrUpdateMail(&b), 1u);
  EXPECT_EQ(store.TotalCount(1), 0u);
  EXPECT_EQ(store.TotalCount(7), 1u);
  EXPECT_EQ(store.UnreadCount(0), 0u);
  EXPECT_EQ(store.UnreadCount(1), 0u);
  // Local mails always add.
  MailRecord l1, l2;
  l1.set_folder(kLocalFolder);
  l2.set_folder(kLocalFolder);
  EXPECT_EQ(store.AddOrUpdateMail(&l1), 2u);
  EXPECT_EQ(store.AddOrUpdateMail(&l2), 3u);
  EXPECT_EQ(store.FindByServerID(kLocalServerId), 0u);
  MailRecord back;
  ASSERT_TRUE(store.ReadMail(1, &back));
  EXPECT_EQ(back.folder(), 7u);
  EXPECT_EQ(back.subject, b.subject);
}

TEST_F(MailStoreTest, FlagAndFolderChangeTogetherMoveCounts) {
  MailStore store(DefaultFileSystem());
  ASSERT_TRUE(store.Open(Dir()));
  MailRecord a = ServiceMail(5, 1, 10, true);
  uint32_t id = store.AddOrUpdateMail(&a);
  // Folder and flags in one field write (offsets 8..43).
  Bytes buf(44, 0);
  PutLe32(&buf[8], 3);
  PutLe32(&buf[40], 0);
  PutLe64(&buf[12], 10);
  ASSERT_TRUE(store.UpdateMailFields(id, buf.data(), 8, 36));
  Model model{{id, {5, 3, 10, 0, 0}}};
  ExpectIndexesMatch(store, model);
  ASSERT_TRUE(store.SetMailFlags(id, kUnreadFlag));
  ASSERT_TRUE(store.MoveMail(id, 1));
  model[id] = {5, 1, 10, kUnreadFlag, 0};
  ExpectIndexesMatch(store, model);
  ASSERT_TRUE(store.SetMailFlags(id, kUnreadFlag));  // the same again counts once
  ExpectIndexesMatch(store, model);
}

TEST_F(MailStoreTest, WriteMailKeepsIndexesCurrent) {
  MailStore store(DefaultFileSystem());
  ASSERT_TRUE(store.Open(Dir()));
  MailRecord a = ServiceMail(5, 1, 10, true);
  uint32_t id = store.AddOrUpdateMail(&a);
  a.set_server_id(6);
  a.set_folder(3);
  a.set_flags(0);
  a.set_date(99);
  ASSERT_TRUE(store.WriteMail(id, &a));
  EXPECT_EQ(store.FindByServerID(5), 0u);
  EXPECT_EQ(store.FindByServerID(6), id);
  ExpectIndexesMatch(store, Model{{id, {6, 3, 99, 0, 0}}});
  EXPECT_FALSE(store.WriteMail(id + 1, &a));
}

TEST_F(MailStoreTest, BatchesDeferNotifications) {
  MailStore store(DefaultFileSystem());
  std::vector<std::pair<MailChangeKind, size_t>> told;
  int unread_notices = 0, total_notices = 0;
  auto obs = std::make_shared<MailStore::MailChangedObserver>(
      [&](MailChangeKind k, const std::vector<MailChange>& list) { told.push_back({k, list.size()}); });
  auto un = std::make_shared<MailStore::CountsObserver>([&] { ++unread_notices; });
  auto to = std::make_shared<MailStore::CountsObserver>([&] { ++total_notices; });
  store.AddMailChangedObserver(obs);
  store.AddUnreadCountsObserver(un);
  store.AddTotalCountsObserver(to);
  ASSERT_TRUE(store.Open(Dir()));
  ASSERT_EQ(told.size(), 1u);
  EXPECT_EQ(told[0].first, MailChangeKind::kReset);
  told.clear();

  store.BeginBatch();
  store.BeginBatch();
  MailRecord a = ServiceMail(1, 1, 1, true), b = ServiceMail(2, 1, 2, false);
  uint32_t ia = store.AddOrUpdateMail(&a);
  store.AddOrUpdateMail(&b);
  store.SetMailFlags(ia, 0);
  store.EndBatch();
  EXPECT_TRUE(told.empty());
  store.EndBatch();
  ASSERT_EQ(told.size(), 2u);
  EXPECT_EQ(told[0], std::make_pair(MailChangeKind::kAdded, size_t{2}));
  EXPECT_EQ(told[1], std::make_pair(MailChangeKind::kChanged, size_t{1}));
  EXPECT_EQ(unread_notices, 1);
  EXPECT_EQ(total_notices, 1);
  store.EndBatch();  // at depth 0: nothing
  EXPECT_EQ(told.size(), 2u);

  // Outside a batch: at once. An observer that went away is not called.
  told.clear();
  obs.reset();
  std::vector<MailChange> removed;
  auto obs2 = std::make_shared<MailStore::MailChangedObserver>(
      [&](MailChangeKind k, const std::vector<MailChange>& list) {
        if (k == MailChangeKind::kRemoved) removed = list;
      });
  store.AddMailChangedObserver(obs2);
  std::vector<uint32_t> sids;
  ASSERT_TRUE(store.DeleteMails({1, 2}, &sids));
  EXPECT_TRUE(told.empty());
  ASSERT_EQ(removed.size(), 2u);
  EXPECT_EQ(removed[0].mail_id, 1u);
  EXPECT_EQ(removed[0].folder, 1u);
  EXPECT_EQ(sids, (std::vector<uint32_t>{1, 2}));
}

TEST_F(MailStoreTest, DeleteRemovesRecordThenFiles) {
  MailStore store(DefaultFileSystem());
  ASSERT_TRUE(store.Open(Dir()));
  MailRecord a = ServiceMail(9, 1, 1, true);
  uint32_t id = store.AddOrUpdateMail(&a);
  const std::string body = store.files()->MailDir(id) + "mail.txt";
  EXPECT_EQ(store.files()->MailDir(id), Dir() + "01/1/");
  ASSERT_TRUE(DefaultFileSystem()->ReplaceAtomically(body, ByteView(std::string("x"))));
  ASSERT_TRUE(store.DeleteMail(id));
  EXPECT_FALSE(DefaultFileSystem()->Exists(body));
  EXPECT_FALSE(store.DeleteMail(id));
  EXPECT_EQ(store.FindByServerID(9), 0u);
  EXPECT_EQ(store.TotalCount(0), 0u);
  EXPECT_EQ(store.UnreadCount(0), 0u);
}

TEST_F(MailStoreTest, MailDirectoryNames) {
  MailFileStore files(DefaultFileSystem());
  files.SetBase("/a/");
  EXPECT_EQ(files.MailDir(7), "/a/07/7/");
  EXPECT_EQ(files.MailDir(1234), "/a/34/1234/");
  EXPECT_EQ(files.MailDir(100), "/a/00/100/");
  EXPECT_EQ(files.MailDir(0), "");
}

bool LongRun() {
  const char* env = std::getenv("QUILL_STORE_LONG");
  return env && *env;
}

// Random adds, rewrites, flag changes, moves, deletes and reopens against a
// model; the indexes always equal a recount.
TEST_F(MailStoreTest, RandomOperationsMatchTheModel) {
  std::mt19937 rng(1234);
  Model model;
  FaultInjectingFileSystem fs(DefaultFileSystem());  // no faults: spares the disk's syncs
  auto store = std::make_unique<MailStore>(&fs);
  ASSERT_TRUE(store->Open(Dir()));
  const uint32_t folders[] = {0, 1, 3, 4, 7, kUnreadView};
  uint32_t next_sid = 1;
  // The long run checks the full recount every 25 steps (and at every reopen).
  const int steps = LongRun() ? 20000 : 2000;
  const int check_every = LongRun() ? 25 : 1;
  for (int step = 0; step < steps; ++step) {
    const uint32_t op = rng() % 100;
    auto pick = [&]() {
      auto it = model.begin();
      std::advance(it, rng() % model.size());
      return it->first;
    };
    if (op < 35 || model.empty()) {
      const bool local = rng() % 5 == 0;
      MailRecord m = ServiceMail(local ? kLocalServerId : next_sid++, folders[rng() % 6], rng() % 50,
                                 rng() % 2);
      if (local) m.set_local_kind(1 + rng() % 3);
      uint32_t id = store->AddOrUpdateMail(&m);
      ASSERT_NE(id, 0u);
      model[id] = {m.server_id(), m.folder(), m.date(), m.flags(), m.local_kind()};
    } else if (op < 45) {
      // Same ServerID again: an update.
      uint32_t id = pick();
      ModelMail& mm = model[id];
      if (mm.server_id == kLocalServerId || mm.kind != 0) continue;
      MailRecord m = ServiceMail(mm.server_id, folders[rng() % 6], rng() % 50, rng() % 2);
      ASSERT_EQ(store->AddOrUpdateMail(&m), id);
      mm = {m.server_id(), m.folder(), m.date(), m.flags(), 0};
    } else if (op < 60) {
      uint32_t id = pick();
      uint32_t flags = rng() % 4;
      ASSERT_TRUE(store->SetMailFlags(id, flags));
      model[id].flags = flags;
    } else if (op < 72) {
      uint32_t id = pick();
      uint32_t f = folders[rng() % 6];
      ASSERT_TRUE(store->MoveMail(id, f));
      model[id].folder = f;
    } else if (op < 82) {
      uint32_t id = pick();
      ASSERT_TRUE(store->DeleteMail(id));
      model.erase(id);
    } else if (op < 88) {
      std::vector<uint32_t> ids;
      for (int i = 0; i < 3 && !model.empty(); ++i) {
        uint32_t id = pick();
        ids.push_back(id);
        model.erase(id);
      }
      store->BeginBatch();
      ASSERT_TRUE(store->DeleteMails(ids, nullptr));
      store->EndBatch();
    } else if (op < 91) {
      // A batch of adds, a flag change and a delete, checked before it ends.
      store->BeginBatch();
      for (int i = 0; i < 4; ++i) {
        MailRecord m = ServiceMail(next_sid++, folders[rng() % 6], rng() % 50, rng() % 2);
        uint32_t id = store->AddOrUpdateMail(&m);
        ASSERT_NE(id, 0u);
        model[id] = {m.server_id(), m.folder(), m.date(), m.flags(), 0};
      }
      uint32_t id = pick();
      ASSERT_TRUE(store->SetMailFlags(id, 1));
      model[id].flags = 1;
      if (step % check_every == 0) {
        ASSERT_NO_FATAL_FAILURE(ExpectIndexesMatch(*store, model));
      }
      id = pick();
      ASSERT_TRUE(store->DeleteMails({id}, nullptr));
      model.erase(id);
      store->EndBatch();
    } else if (op < 95) {
      uint32_t id = pick();
      MailRecord m;
      ASSERT_TRUE(store->ReadMail(id, &m));
      m.set_date(rng() % 50);
      m.set_flags(rng() % 2);
      ASSERT_TRUE(store->WriteMail(id, &m));
      model[id].date = m.date();
      model[id].flags = m.flags();
    } else {
      store = std::make_unique<MailStore>(&fs);
      ASSERT_TRUE(store->Open(Dir()));
      EXPECT_TRUE(store->report().problems.empty());
      ASSERT_NO_FATAL_FAILURE(ExpectIndexesMatch(*store, model)) << "step " << step;
    }
    if (step % check_every == 0) {
      ASSERT_NO_FATAL_FAILURE(ExpectIndexesMatch(*store, model)) << "step " << step;
    }
  }
}

// A batch of adds and deletes whose commit meets the Nth write failing (and
// all later ones), for every N; then a crash that drops what was not
// synced. Reopening finds every mail that was committed before, no mail
// twice, and counters that match.
TEST_F(MailStoreTest, CrashDuringBatchKeepsFlushedMails) {
  for (uint64_t n = 1;; ++n) {
    std::system(("rm -rf " + Dir()).c_str());
    FaultInjectingFileSystem fault(DefaultFileSystem());
    Model flushed;
    bool failed = false;
    {
      MailStore store(&fault);
      ASSERT_TRUE(store.Open(Dir()));
      store.BeginBatch();
      for (uint32_t i = 1; i <= 12; ++i) {
        MailRecord m = ServiceMail(i, 1, i, i % 2);
        uint32_t id = store.AddOrUpdateMail(&m);
        ASSERT_NE(id, 0u);
        flushed[id] = {i, 1, i, i % 2, 0};
      }
      store.EndBatch();
      fault.FailWrite(n, true);
      store.BeginBatch();
      for (uint32_t i = 13; i <= 24 && !failed; ++i) {
        MailRecord m = ServiceMail(i, 3, i, 1);
        failed = store.AddOrUpdateMail(&m) == 0;
      }
      std::vector<uint32_t> del = {2, 4, 6};
      if (!failed) failed = !store.DeleteMails(del, nullptr);
      failed = !store.EndBatch() || failed;
    }
    fault.SimulateCrash();
    MailStore again(DefaultFileSystem());
    ASSERT_TRUE(again.Open(Dir()));
    SCOPED_TRACE("failing write " + std::to_string(n));
    for (const auto& [id, m] : flushed) {
      if (id == 2 || id == 4 || id == 6) continue;  // being deleted: either way
      ASSERT_TRUE(again.Contains(id)) << id;
      EXPECT_EQ(again.FindByServerID(m.server_id), id);
    }
    Model now;
    std::map<uint32_t, int> per_server_id;
    for (const ViewEntry& e : again.View(0)) {
      MailRecord m;
      ASSERT_TRUE(again.ReadMail(e.mail_id, &m));
      now[e.mail_id] = {m.server_id(), m.folder(), m.date(), m.flags(), 0};
      EXPECT_EQ(++per_server_id[m.server_id()], 1) << "mail " << m.server_id() << " twice";
    }
    ExpectIndexesMatch(again, now);
    if (!failed) break;
  }
}

// The mails a store shows, read back record by record.
Model ModelOf(MailStore* store) {
  Model m;
  for (const ViewEntry& e : store->View(0)) {
    MailRecord r;
    EXPECT_TRUE(store->ReadMail(e.mail_id, &r)) << "mail " << e.mail_id << " listed but unreadable";
    m[e.mail_id] = {r.server_id(), r.folder(), r.date(), r.flags(), r.local_kind()};
  }
  return m;
}

std::u16string BriefOf(MailStore* store, uint32_t id) {
  MailFiles files;
  store->files()->LoadMailFiles(id, &files);
  return files.brief;
}

// A delete whose write fails, at every write it makes, is rolled back
// whole: the mail stays counted, listed and readable (no ghost), also when
// the store is opened again, and its files stay; a delete that succeeds
// takes them.
TEST_F(MailStoreTest, FailedDeleteLeavesNoGhost) {
  for (bool single : {true, false}) {
    for (uint64_t n = 1; n <= 6; ++n) {
      SCOPED_TRACE(std::string(single ? "DeleteMail" : "DeleteMails") + ", failing write " +
                   std::to_string(n));
      std::system(("rm -rf " + Dir()).c_str());
      FaultInjectingFileSystem fault(DefaultFileSystem());
      uint32_t a = 0, b = 0;
      bool deleted = false;
      {
        MailStore store(&fault);
        ASSERT_TRUE(store.Open(Dir()));
        MailRecord ma = ServiceMail(10, 1, 5, true), mb = ServiceMail(11, 3, 6, false);
        a = store.AddOrUpdateMail(&ma);
        b = store.AddOrUpdateMail(&mb);
        MailFiles files;
        files.brief = u"kept";
        ASSERT_TRUE(store.files()->SaveMailFiles(a, files));
        fault.FailWrite(n);
        deleted = single ? store.DeleteMail(a) : store.DeleteMails({a, b}, nullptr);
        fault.FailWrite(0);
        const Model now = ModelOf(&store);
        ExpectIndexesMatch(store, now);
        EXPECT_EQ(now.count(a) == 0, deleted);
        EXPECT_EQ(BriefOf(&store, a), deleted ? u"" : u"kept");
      }
      MailStore again(&fault);
      ASSERT_TRUE(again.Open(Dir()));
      EXPECT_EQ(again.Contains(a), !deleted);
      EXPECT_EQ(again.Contains(b), single || !deleted);
      ExpectIndexesMatch(again, ModelOf(&again));
    }
  }
}

// The files of a deleted mail go only once the deletion is committed: a
// crash before that brings the mail back with its files.
TEST_F(MailStoreTest, DeletedMailsFilesWaitForTheCommit) {
  FaultInjectingFileSystem fault(DefaultFileSystem());
  uint32_t a = 0, b = 0;
  {
    MailStore store(&fault);
    ASSERT_TRUE(store.Open(Dir()));
    MailRecord ma = ServiceMail(20, 1, 5, true), mb = ServiceMail(21, 1, 6, true);
    a = store.AddOrUpdateMail(&ma);
    b = store.AddOrUpdateMail(&mb);
    MailFiles files;
    files.brief = u"kept";
    ASSERT_TRUE(store.files()->SaveMailFiles(a, files));
    ASSERT_TRUE(store.files()->SaveMailFiles(b, files));
    store.BeginBatch();
    ASSERT_TRUE(store.DeleteMail(a));
    ASSERT_TRUE(store.DeleteMails({b}, nullptr));
    EXPECT_EQ(BriefOf(&store, a), u"kept");
    EXPECT_EQ(BriefOf(&store, b), u"kept");
  }  // the power goes before the batch ends
  fault.SimulateCrash();
  MailStore store(&fault);
  ASSERT_TRUE(store.Open(Dir()));
  ASSERT_TRUE(store.Contains(a));
  ASSERT_TRUE(store.Contains(b));
  EXPECT_EQ(BriefOf(&store, a), u"kept");
  EXPECT_EQ(BriefOf(&store, b), u"kept");
  store.BeginBatch();
  ASSERT_TRUE(store.DeleteMail(a));
  EXPECT_EQ(BriefOf(&store, a), u"kept");
  ASSERT_TRUE(store.EndBatch(/*flush=*/true));
  EXPECT_EQ(BriefOf(&store, a), u"");
  ASSERT_TRUE(store.DeleteMails({b}, nullptr));  // outside a batch: committed at once
  EXPECT_EQ(BriefOf(&store, b), u"");
}

// A MailID is never handed out again, even when the record that had it
// was never committed (a crash rolled it back) but its files were written:
// the next mail gets a new id and none of those files.
TEST_F(MailStoreTest, MailIdsOfLostRecordsAreNotReused) {
  FaultInjectingFileSystem fault(DefaultFileSystem());
  uint32_t lost = 0;
  {
    MailStore store(&fault);
    ASSERT_TRUE(store.Open(Dir()));
    MailRecord first = ServiceMail(1, 1, 1, false);
    ASSERT_EQ(store.AddOrUpdateMail(&first), 1u);
    store.BeginBatch();
    MailRecord m = ServiceMail(2, 1, 2, true);
    lost = store.AddOrUpdateMail(&m);
    MailFiles files;
    files.brief = u"brief of mail 2";
    ASSERT_TRUE(store.files()->SaveMailFiles(lost, files));
  }  // the power goes before the batch is committed
  fault.SimulateCrash();
  MailStore store(&fault);
  ASSERT_TRUE(store.Open(Dir()));
  EXPECT_FALSE(store.Contains(lost));
  MailRecord m = ServiceMail(3, 1, 3, true);
  const uint32_t id = store.AddOrUpdateMail(&m);
  EXPECT_GT(id, lost);
  EXPECT_EQ(BriefOf(&store, id), u"");
  EXPECT_EQ(BriefOf(&store, lost), u"");  // the stray files are gone
}

// A mailbox filled in date order loads with the chain running newest
// first; the views still come out oldest first.
TEST_F(MailStoreTest, ReopenKeepsDateOrderBothWays) {
  for (bool in_order : {true, false}) {
    const std::string dir = Dir() + (in_order ? "a/" : "b/");
    Model model;
    {
      MailStore store(DefaultFileSystem());
      ASSERT_TRUE(store.Open(dir));
      for (uint32_t i = 1; i <= 30; ++i) {
        const uint64_t date = in_order ? 100 + i : (i < 20 ? 100 + i : 50 - i);
        MailRecord m = ServiceMail(i, 1 + i % 2, date, i % 3 == 0);
        uint32_t id = store.AddOrUpdateMail(&m);
        model[id] = {i, m.folder(), m.date(), m.flags(), 0};
      }
    }
    MailStore store(DefaultFileSystem());
    ASSERT_TRUE(store.Open(dir));
    ExpectIndexesMatch(store, model);
    EXPECT_EQ(store.View(0).front().mail_id, in_order ? 1u : 30u);
    EXPECT_EQ(store.View(0).back().mail_id, in_order ? 30u : 19u);
  }
}

TEST_F(MailStoreTest, InvalidIndexStartsEmpty) {
  ASSERT_TRUE(DefaultFileSystem()->ReplaceAtomically(Dir() + "mails.idx", ByteView(std::string("NX"))));
  MailStore store(DefaultFileSystem());
  ASSERT_TRUE(store.Open(Dir()));
  EXPECT_TRUE(store.report().reset);
  EXPECT_EQ(store.mail_count(), 0u);
  EXPECT_TRUE(DefaultFileSystem()->Exists(Dir() + "mails.idx.bad"));
}

TEST_F(MailStoreTest, FolderStoreOperations) {
  const std::string path = Dir() + "folders.idx";
  {
    FolderStore fs(DefaultFileSystem());
    ASSERT_TRUE(fs.Open(path));
    EXPECT_FALSE(fs.AddFolder(0, u"all"));
    EXPECT_TRUE(fs.AddFolder(1, u"Inbox"));
    EXPECT_FALSE(fs.AddFolder(1, u"again"));
    EXPECT_TRUE(fs.AddFolder(9, u""));  // listed, not stored
    EXPECT_TRUE(fs.AddFolder(12, std::u16string(120, u'x')));
    EXPECT_TRUE(fs.SetFolderExcluded(12, true));
    EXPECT_FALSE(fs.SetFolderExcluded(1, true));
    EXPECT_TRUE(fs.UpdateFolder(1, 1, u"In"));
    EXPECT_TRUE(fs.UpdateFolder(9, 0, u"ignored"));
    EXPECT_EQ(fs.folders().size(), 3u);
    EXPECT_EQ(fs.excluded(), (std::vector<uint32_t>{12}));
  }
  FolderStore fs(DefaultFileSystem());
  ASSERT_TRUE(fs.Open(path));
  ASSERT_EQ(fs.folders().size(), 2u);
  EXPECT_EQ(fs.Find(1)->name(), u"In");
  EXPECT_EQ(fs.Find(12)->name().size(), 99u);
  EXPECT_EQ(fs.excluded(), (std::vector<uint32_t>{12}));
  EXPECT_TRUE(fs.DeleteFolder(12));
  EXPECT_TRUE(fs.excluded().empty());
  FolderStore third(DefaultFileSystem());
  ASSERT_TRUE(third.Open(path));
  EXPECT_EQ(third.folders().size(), 1u);
}

}  // namespace
}  // namespace store
}  // namespace quill
