#include "platform/file_system.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>

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

TEST(DirNameTest, Cases) {
  EXPECT_EQ(DirName("/a/b/c"), "/a/b");
  EXPECT_EQ(DirName("/a"), "/");
  EXPECT_EQ(DirName("a"), "");
}

}  // namespace
}  // namespace quill
