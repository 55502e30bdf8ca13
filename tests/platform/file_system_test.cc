#include "platform/file_system.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>

#include "platform/fault_file_system.h"
#include "platform/last_error.h"

namespace quill {
namespace {

class FileSystemTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/quill_fs_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override { std::system(("rm -rf " + dir_).c_str()); }

  std::string Read(const std::string& path) {
    Bytes b;
    if (!fs_->ReadFile(path, &b)) return "<missing>";
    return std::string(b.begin(), b.end());
  }

  FileSystem* fs_ = DefaultFileSystem();
  std::string dir_;
};

TEST_F(FileSystemTest, CreateWriteReadTruncate) {
  std::string path = dir_ + "/a/b/c.bin";  // parents are made
  auto f = fs_->Open(path, FileSystem::OpenMode::kCreate);
  ASSERT_NE(f, nullptr);
  ASSERT_TRUE(f->WriteAt(0, "hello world", 11));
  ASSERT_TRUE(f->WriteAt(20, "!", 1));  // leaves a hole of zeros
  uint64_t size = 0;
  ASSERT_TRUE(f->Size(&size));
  EXPECT_EQ(size, 21u);
  char buf[32];
  size_t got = 0;
  ASSERT_TRUE(f->ReadAt(6, buf, sizeof buf, &got));
  EXPECT_EQ(got, 15u);  // short only at the end
  EXPECT_EQ(std::string(buf, 5), "world");
  EXPECT_EQ(buf[14], '!');
  ASSERT_TRUE(f->Truncate(5));
  ASSERT_TRUE(f->Sync());
  f.reset();
  EXPECT_EQ(Read(path), "hello");
  EXPECT_EQ(fs_->Open(dir_ + "/nope", FileSystem::OpenMode::kRead), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<uint32_t>(ENOENT));
}

TEST_F(FileSystemTest, ListPrefixDeleteExists) {
  for (const char* n : {"b2", "a1", "b1", "c"}) {
    ASSERT_TRUE(fs_->ReplaceAtomically(dir_ + "/" + n, ByteView(std::string("x"))));
  }
  std::vector<std::string> names;
  ASSERT_TRUE(fs_->ListPrefix(dir_, "b", &names));
  EXPECT_EQ(names, (std::vector<std::string>{"b1", "b2"}));
  ASSERT_TRUE(fs_->Delete(dir_ + "/b1"));
  EXPECT_FALSE(fs_->Exists(dir_ + "/b1"));
  EXPECT_FALSE(fs_->Delete(dir_ + "/b1"));
  ASSERT_TRUE(fs_->ListPrefix(dir_, "", &names));
  EXPECT_EQ(names, (std::vector<std::string>{"a1", "b2", "c"}));  // no temp files left
  EXPECT_FALSE(fs_->ListPrefix(dir_ + "/none", "", &names));
}

TEST_F(FileSystemTest, ReplaceAtomicallySetsModeAndContent) {
  std::string path = dir_ + "/cfg";
  ASSERT_TRUE(fs_->ReplaceAtomically(path, ByteView(std::string("old")), 0600));
  ASSERT_TRUE(fs_->ReplaceAtomically(path, ByteView(std::string("new!")), 0600));
  EXPECT_EQ(Read(path), "new!");
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(FileSystemTest, FreeSpaceOfMissingPathUsesAncestor) {
  uint64_t bytes = 0;
  EXPECT_TRUE(fs_->FreeSpace(dir_ + "/x/y/z", &bytes));
  EXPECT_GT(bytes, 0u);
}

TEST_F(FileSystemTest, FreeSpaceRuleRefusesWrites) {
  FaultInjectingFileSystem fault(fs_);
  std::string path = dir_ + "/f";
  fault.SetFreeSpace(FileSystem::kMinFreeBytes);  // "or less" refuses
  EXPECT_EQ(fault.Open(path, FileSystem::OpenMode::kCreate), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<uint32_t>(ENOSPC));
  EXPECT_FALSE(fault.ReplaceAtomically(path, ByteView(std::string("x"))));
  EXPECT_FALSE(fs_->Exists(path));
  fault.SetFreeSpace(FileSystem::kMinFreeBytes + 1);
  EXPECT_NE(fault.Open(path, FileSystem::OpenMode::kCreate), nullptr);
  fault.SetFreeSpace(0);
  EXPECT_NE(fault.Open(path, FileSystem::OpenMode::kRead), nullptr);  // reading is fine
}

TEST_F(FileSystemTest, FailedWriteOrSyncLeavesOldFileAndNoTemp) {
  FaultInjectingFileSystem fault(fs_);
  std::string path = dir_ + "/cfg";
  ASSERT_TRUE(fault.ReplaceAtomically(path, ByteView(std::string("old"))));
  fault.FailWrite(1);
  EXPECT_FALSE(fault.ReplaceAtomically(path, ByteView(std::string("new"))));
  EXPECT_EQ(GetLastError(), static_cast<uint32_t>(EIO));
  EXPECT_EQ(Read(path), "old");
  fault.FailSync(1);
  EXPECT_FALSE(fault.ReplaceAtomically(path, ByteView(std::string("new"))));
  EXPECT_EQ(Read(path), "old");
  std::vector<std::string> names;
  ASSERT_TRUE(fs_->ListPrefix(dir_, "", &names));
  EXPECT_EQ(names, std::vector<std::string>{"cfg"});
  EXPECT_TRUE(fault.ReplaceAtomically(path, ByteView(std::string("new"))));  // disarmed
  EXPECT_EQ(Read(path), "new");
}

TEST_F(FileSystemTest, FailWriteCountsAndSticks) {
  FaultInjectingFileSystem fault(fs_);
  auto f = fault.Open(dir_ + "/w", FileSystem::OpenMode::kCreate);
  ASSERT_NE(f, nullptr);
  fault.FailWrite(2, /*sticky=*/true);
  EXPECT_TRUE(f->WriteAt(0, "a", 1));
  EXPECT_FALSE(f->WriteAt(1, "b", 1));
  EXPECT_FALSE(f->WriteAt(1, "b", 1));
  fault.FailWrite(0);
  EXPECT_TRUE(f->WriteAt(1, "b", 1));
  EXPECT_EQ(fault.write_count(), 4u);
}

TEST_F(FileSystemTest, CrashDropsUnsyncedWrites) {
  FaultInjectingFileSystem fault(fs_);
  std::string synced = dir_ + "/synced", unsynced = dir_ + "/unsynced", fresh = dir_ + "/fresh";
  ASSERT_TRUE(fs_->ReplaceAtomically(unsynced, ByteView(std::string("before"))));
  {
    auto a = fault.Open(synced, FileSystem::OpenMode::kCreate);
    ASSERT_TRUE(a->WriteAt(0, "durable", 7) && a->Sync());
    ASSERT_TRUE(a->WriteAt(7, "+lost", 5));
    auto b = fault.Open(unsynced, FileSystem::OpenMode::kReadWrite);
    ASSERT_TRUE(b->WriteAt(0, "AFTER!", 6));
    auto c = fault.Open(fresh, FileSystem::OpenMode::kCreate);
    ASSERT_TRUE(c->WriteAt(0, "x", 1));
  }
  // An atomic replace survives the crash whole.
  ASSERT_TRUE(fault.ReplaceAtomically(dir_ + "/atomic", ByteView(std::string("whole"))));
  fault.SimulateCrash();
  EXPECT_EQ(Read(synced), "durable");
  EXPECT_EQ(Read(unsynced), "before");
  EXPECT_FALSE(fs_->Exists(fresh));
  EXPECT_EQ(Read(dir_ + "/atomic"), "whole");
}

// Each 512-byte sector of a write made since the last sync lands whole,
// not at all, or in part (a prefix of it), independently of the others;
// the synced content is never lost; a seed gives the same cut again.
TEST_F(FileSystemTest, PowerCutPicksEachSectorsFate) {
  const std::string path = dir_ + "/data";
  std::string old_text(2048, 'A'), new_text(2048, 'B');
  int whole = 0, lost = 0, torn = 0, mixed_cuts = 0;
  std::string first_of_seed_7;
  for (uint64_t seed = 1; seed <= 60; ++seed) {
    FaultInjectingFileSystem fault(fs_);
    {
      auto f = fault.Open(path, FileSystem::OpenMode::kCreate);
      ASSERT_TRUE(f->Truncate(0) && f->WriteAt(0, old_text.data(), old_text.size()) && f->Sync());
      ASSERT_TRUE(f->WriteAt(0, new_text.data(), new_text.size()));
    }
    ASSERT_TRUE(fault.SyncDir(dir_));
    fault.CutPower(seed % 7 == 0 ? 7 : seed);
    const std::string got = Read(path);
    ASSERT_EQ(got.size(), 2048u) << "seed " << seed;
    if (seed == 7) first_of_seed_7 = got;
    if (seed % 7 == 0 && seed != 7) {
      EXPECT_EQ(got, first_of_seed_7);  // reproducible
    }
    std::set<int> kinds;
    for (size_t sector = 0; sector < 4; ++sector) {
      const std::string s = got.substr(sector * 512, 512);
      const size_t b = s.find_first_not_of('B');
      const size_t a = b == std::string::npos ? 512 : s.find_first_not_of('A', b);
      ASSERT_EQ(a, std::string::npos == a ? a : 512u) << "sector " << sector << " is no prefix";
      if (b == std::string::npos) {
        ++whole;
        kinds.insert(0);
      } else if (b == 0) {
        ++lost;
        kinds.insert(1);
      } else {
        ++torn;
        kinds.insert(2);
      }
    }
    if (kinds.size() > 1) ++mixed_cuts;
  }
  EXPECT_GT(whole, 0);
  EXPECT_GT(lost, 0);
  EXPECT_GT(torn, 0);
  EXPECT_GT(mixed_cuts, 0);
}

// Entry changes since the directory's last sync may be undone, newest
// first: a new file may vanish, a rename may go back (the old file is then
// there again, and the renamed one under its old name), a deleted file may
// come back, a new directory may lose its files. Synced directories keep
// theirs, and an atomic replace survives whole.
TEST_F(FileSystemTest, PowerCutUndoesUnsyncedEntries) {
  std::map<std::string, int> seen;
  for (uint64_t seed = 1; seed <= 40; ++seed) {
    for (const char* name : {"/cfg", "/cfg.tmp", "/atomic", "/sub/deep/file"}) fs_->Delete(dir_ + name);
    for (const auto& [name, text] : {std::pair{"/cfg", "old"}, std::pair{"/gone", "here"}}) {
      auto f = fs_->Open(dir_ + name, FileSystem::OpenMode::kCreate);  // no sync: the wrapper adopts it
      ASSERT_TRUE(f && f->Truncate(0) && f->WriteAt(0, text, std::strlen(text)));
    }
    FaultInjectingFileSystem fault(fs_);
    ASSERT_TRUE(fault.ReplaceAtomically(dir_ + "/atomic", ByteView(std::string("whole"))));
    {
      auto t = fault.Open(dir_ + "/cfg.tmp", FileSystem::OpenMode::kCreate);
      ASSERT_TRUE(t->WriteAt(0, "new", 3) && t->Sync());
      auto n = fault.Open(dir_ + "/sub/deep/file", FileSystem::OpenMode::kCreate);
      ASSERT_TRUE(n->WriteAt(0, "x", 1) && n->Sync());
    }
    ASSERT_TRUE(fault.Rename(dir_ + "/cfg.tmp", dir_ + "/cfg"));
    ASSERT_TRUE(fault.Delete(dir_ + "/gone"));
    fault.CutPower(seed);
    EXPECT_EQ(Read(dir_ + "/atomic"), "whole");
    const std::string cfg = Read(dir_ + "/cfg"), tmp = Read(dir_ + "/cfg.tmp");
    if (cfg == "new") {
      EXPECT_EQ(tmp, "<missing>");
      ++seen["renamed"];
    } else {
      EXPECT_EQ(cfg, "old");
      EXPECT_TRUE(tmp == "new" || tmp == "<missing>") << tmp;
      ++seen[tmp == "new" ? "rename undone" : "create undone"];
    }
    ++seen[Read(dir_ + "/gone") == "here" ? "delete undone" : "deleted"];
    ++seen[Read(dir_ + "/sub/deep/file") == "x" ? "directory kept" : "directory undone"];
  }
  for (const char* what : {"renamed", "rename undone", "create undone", "delete undone", "deleted",
                           "directory kept", "directory undone"}) {
    EXPECT_GT(seen[what], 0) << what;
  }

}

// After FreezeAfter(n) the power is gone: every changing call fails and
// changes nothing, reads still work; a cut brings the power back.
TEST_F(FileSystemTest, FreezeAfterStopsEveryChange) {
  FaultInjectingFileSystem fault(fs_);
  auto f = fault.Open(dir_ + "/w", FileSystem::OpenMode::kCreate);
  ASSERT_NE(f, nullptr);
  ASSERT_TRUE(fault.SyncDir(dir_));
  const uint64_t before = fault.change_count();
  fault.FreezeAfter(2);
  EXPECT_TRUE(f->WriteAt(0, "ab", 2));
  EXPECT_TRUE(f->Sync());
  EXPECT_FALSE(fault.frozen());
  EXPECT_FALSE(f->WriteAt(2, "c", 1));
  EXPECT_EQ(GetLastError(), static_cast<uint32_t>(EIO));
  EXPECT_TRUE(fault.frozen());
  EXPECT_FALSE(f->Truncate(0));
  EXPECT_FALSE(f->Sync());
  EXPECT_FALSE(fault.Delete(dir_ + "/w"));
  EXPECT_FALSE(fault.Rename(dir_ + "/w", dir_ + "/v"));
  EXPECT_FALSE(fault.SyncDir(dir_));
  EXPECT_FALSE(fault.MakeDirs(dir_ + "/d"));
  EXPECT_EQ(fault.Open(dir_ + "/new", FileSystem::OpenMode::kCreate), nullptr);
  EXPECT_EQ(Read(dir_ + "/w"), "ab");
  EXPECT_EQ(fault.change_count(), before + 10);
  f.reset();
  fault.CutPower(1);
  EXPECT_FALSE(fault.frozen());
  EXPECT_EQ(Read(dir_ + "/w"), "ab");  // synced before the power went
  EXPECT_TRUE(fault.ReplaceAtomically(dir_ + "/v", ByteView(std::string("z"))));
}

TEST(DirNameTest, Cases) {
  EXPECT_EQ(DirName("/a/b/c"), "/a/b");
  EXPECT_EQ(DirName("/a"), "/");
  EXPECT_EQ(DirName("a"), "");
}

}  // namespace
}  // namespace quill
