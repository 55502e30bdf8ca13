#include "store/record_file.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <optional>
#include <random>

#include "platform/fault_file_system.h"
#include "store/le_bytes.h"
#include "tests/temp_dir.h"

namespace quill {
namespace store {
namespace {

class RecordFileTest : public ::testing::Test {
 protected:
  std::string Path() const { return dir_.path() + "/acct/mails.idx"; }
  Bytes Raw() {
    Bytes b;
    EXPECT_TRUE(DefaultFileSystem()->ReadFile(Path(), &b));
    return b;
  }
  void PutRaw(const Bytes& b) {
    ASSERT_TRUE(DefaultFileSystem()->ReplaceAtomically(Path(), ByteView(b)));
  }
  static Bytes Payload(uint32_t size, uint8_t fill) { return Bytes(size, fill); }

  TempDir dir_;
};

TEST_F(RecordFileTest, NewFileHeaderBytes) {
  RecordFile f(DefaultFileSystem(), 8192);
  ASSERT_TRUE(f.SetPath(Path()));
  ASSERT_TRUE(f.Open());
  EXPECT_TRUE(f.report().created);
  Bytes raw = Raw();
  ASSERT_EQ(raw.size(), 64u);
  EXPECT_EQ(raw[0], 'N');
  EXPECT_EQ(raw[1], 'X');
  EXPECT_EQ(raw[2], 0);
  EXPECT_EQ(raw[3], 1);
  // A FILETIME of this century: above 2000-01-01 (125911584000000000).
  EXPECT_GT(GetLe64(raw.data() + 4), 125911584000000000ull);
  for (size_t at : {12, 16, 20, 24, 28}) EXPECT_EQ(GetLe32(raw.data() + at), 0u) << at;
  EXPECT_EQ(GetLe32(raw.data() + 32), 8192u);
  for (size_t i = 36; i < 64; ++i) EXPECT_EQ(raw[i], 0) << i;
  EXPECT_FALSE(f.SetPath(Path() + "x"));
}

TEST_F(RecordFileTest, FirstRecordAndSlotReuse) {
  RecordFile f(DefaultFileSystem(), 8192);
  f.SetPath(Path());
  EXPECT_EQ(f.Insert(Payload(100, 0xAB)), 1u);
  Bytes raw = Raw();
  ASSERT_EQ(raw.size(), 64u + 8 * 8192);
  EXPECT_EQ(GetLe32(raw.data() + 12), 1u);  // last id
  EXPECT_EQ(GetLe32(raw.data() + 16), 2u);  // free head
  EXPECT_EQ(GetLe32(raw.data() + 20), 1u);  // first used
  EXPECT_EQ(GetLe32(raw.data() + 28), 1u);  // count
  EXPECT_EQ(GetLe32(raw.data() + 64), 1u);  // slot 1: id 1
  EXPECT_EQ(GetLe32(raw.data() + 68), 0u);  // no next
  EXPECT_EQ(raw[72], 0xAB);
  EXPECT_EQ(raw[72 + 100], 0);  // padded
  EXPECT_EQ(GetLe32(raw.data() + 64 + 8192 + 4), 3u);  // slot 2 links to slot 3
  EXPECT_EQ(GetLe32(raw.data() + 64 + 7 * 8192 + 4), 0u);

  ASSERT_TRUE(f.Delete(1));
  EXPECT_FALSE(f.Delete(1));
  EXPECT_EQ(f.Insert(Payload(8, 1)), 2u);
  raw = Raw();
  EXPECT_EQ(GetLe32(raw.data() + 64), 2u);  // id 2 took slot 1 again
  EXPECT_EQ(GetLe32(raw.data() + 20), 1u);
}

TEST_F(RecordFileTest, NinthRecordGrowsByEightSlots) {
  RecordFile f(DefaultFileSystem(), 8192);
  f.SetPath(Path());
  for (int i = 0; i < 9; ++i) ASSERT_NE(f.Insert(Payload(1, 1)), 0u);
  EXPECT_EQ(Raw().size(), 64u + 16 * 8192);
  RecordFile small(DefaultFileSystem(), 520);
  small.SetPath(dir_.path() + "/folders.idx");
  small.Insert(Payload(1, 1));
  Bytes b;
  ASSERT_TRUE(DefaultFileSystem()->ReadFile(dir_.path() + "/folders.idx", &b));
  EXPECT_EQ(b.size(), 64u + 52000);

  // A crash that left part of a slot at the end: the growth after it starts
  // on a slot boundary, and the new slots hold zeros, not the old bytes.
  {
    RecordFile g(DefaultFileSystem(), 8192);
    g.SetPath(Path());
    for (int i = 0; i < 7; ++i) ASSERT_NE(g.Insert(Payload(1, 1)), 0u);  // the 16 slots are full
  }
  Bytes raw = Raw();
  raw.resize(raw.size() + 3000, 0xEE);
  PutRaw(raw);
  RecordFile g(DefaultFileSystem(), 8192);
  g.SetPath(Path());
  const uint32_t id = g.Insert(Payload(100, 2));
  ASSERT_NE(id, 0u);
  EXPECT_EQ(Raw().size(), 64u + 24 * 8192);
  Bytes back(8184);
  ASSERT_TRUE(g.Read(id, 0, 8184, back.data()));
  EXPECT_EQ(std::count(back.begin(), back.end(), 0xEE), 0);
  EXPECT_EQ(std::count(back.begin(), back.end(), 2), 100);
}

TEST_F(RecordFileTest, ChainOrderAndDeleteNewest) {
  {
    RecordFile f(DefaultFileSystem(), 520);
    f.SetPath(Path());
    for (int i = 0; i < 5; ++i) f.Insert(Payload(4, static_cast<uint8_t>(i)));
    EXPECT_EQ(f.Ids(), (std::vector<uint32_t>{5, 4, 3, 2, 1}));
    ASSERT_TRUE(f.Delete(5));
    ASSERT_TRUE(f.Delete(3));
    EXPECT_EQ(f.Ids(), (std::vector<uint32_t>{4, 2, 1}));
  }
  Bytes raw = Raw();
  EXPECT_EQ(GetLe32(raw.data() + 20), 4u);  // id 4 lives in slot 4
  RecordFile again(DefaultFileSystem(), 520);
  again.SetPath(Path());
  std::vector<uint32_t> seen;
  auto obs = std::make_shared<RecordFile::LoadObserver>(
      [&](uint32_t id, ByteView prefix) {
        ASSERT_EQ(prefix.size, 2u);
        EXPECT_EQ(prefix.data[0], id - 1);
        seen.push_back(id);
      });
  again.SetLoadPrefix(2);
  again.AddLoadObserver(obs);
  ASSERT_TRUE(again.Open());
  EXPECT_EQ(seen, (std::vector<uint32_t>{4, 2, 1}));
  EXPECT_TRUE(again.report().problems.empty());
  EXPECT_EQ(again.report().free_slots, 97u);
  EXPECT_EQ(again.Insert(Payload(1, 9)), 6u);  // ids are never reused
}

TEST_F(RecordFileTest, PartialReadAndWriteAtPayloadEnd) {
  RecordFile f(DefaultFileSystem(), 8192);
  f.SetPath(Path());
  Bytes p(8184);
  for (size_t i = 0; i < p.size(); ++i) p[i] = static_cast<uint8_t>(i * 7);
  uint32_t id = f.Insert(p);
  Bytes buf(8184 + 20, 0);
  uint32_t done = 0;
  ASSERT_TRUE(f.Read(id, 8180, 20, buf.data(), &done));
  EXPECT_EQ(done, 4u);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(buf[8180 + i], p[8180 + i]);
  EXPECT_EQ(buf[8184], 0);
  Bytes w(8184, 0x5A);
  ASSERT_TRUE(f.Write(id, 40, 4, w.data(), &done));
  EXPECT_EQ(done, 4u);
  Bytes all;
  ASSERT_TRUE(f.ReadAll(id, &all));
  EXPECT_EQ(all[39], p[39]);
  EXPECT_EQ(all[40], 0x5A);
  EXPECT_EQ(all[44], p[44]);
  EXPECT_FALSE(f.Read(id, 8185, 1, buf.data()));
  EXPECT_FALSE(f.Read(id + 1, 0, 1, buf.data()));
  EXPECT_FALSE(f.Insert(Bytes(8185)));
}

// Files with a bad header are kept as ".bad" and start over empty.
TEST_F(RecordFileTest, InvalidHeadersStartOver) {
  auto header = [](uint32_t slot_size, uint32_t count) {
    Bytes h(64, 0);
    h[0] = 'N';
    h[1] = 'X';
    h[3] = 1;
    PutLe32(h.data() + 28, count);
    PutLe32(h.data() + 32, slot_size);
    return h;
  };
  Bytes big_count = header(8192, 2);
  big_count.resize(64 + 8192 + 100);
  Bytes magic = header(8192, 0);
  magic[1] = 'Y';
  for (const Bytes& bad : {Bytes(10, 'N'), magic, header(520, 0), big_count}) {
    PutRaw(bad);
    RecordFile f(DefaultFileSystem(), 8192);
    f.SetPath(Path());
    ASSERT_TRUE(f.Open());
    EXPECT_TRUE(f.report().reset);
    EXPECT_EQ(f.record_count(), 0u);
    EXPECT_EQ(Raw().size(), 64u);
    Bytes kept;
    ASSERT_TRUE(DefaultFileSystem()->ReadFile(Path() + ".bad", &kept));
    EXPECT_EQ(kept, bad);
  }
}

TEST_F(RecordFileTest, OpenFailureNeverCutsTheFile) {
  {
    RecordFile f(DefaultFileSystem(), 8192);
    f.SetPath(Path());
    f.Insert(Payload(3, 3));
  }
  Bytes before = Raw();
  FaultInjectingFileSystem fault(DefaultFileSystem());
  fault.SetFreeSpace(32768);
  RecordFile f(&fault, 8192);
  f.SetPath(Path());
  EXPECT_FALSE(f.Open());
  EXPECT_EQ(f.Insert(Payload(1, 1)), 0u);
  EXPECT_EQ(Raw(), before);
  fault.SetFreeSpace(std::nullopt);
  EXPECT_EQ(f.Insert(Payload(1, 1)), 2u);  // the next operation retries
}

TEST_F(RecordFileTest, ReadOnlyReportsAndWritesNothing) {
  {
    RecordFile f(DefaultFileSystem(), 520);
    f.SetPath(Path());
    f.Insert(Payload(3, 3));
  }
  Bytes raw = Raw();
  PutLe32(raw.data() + 28, 5);  // count says 5 records, the chain holds 1
  PutRaw(raw);
  RecordFile f(DefaultFileSystem(), 520, /*read_only=*/true);
  f.SetPath(Path());
  ASSERT_TRUE(f.Open());
  EXPECT_EQ(f.record_count(), 1u);
  EXPECT_FALSE(f.report().problems.empty());
  EXPECT_EQ(f.Insert(Payload(1, 1)), 0u);
  EXPECT_EQ(Raw(), raw);
}

// A chain with a cycle, a duplicate id or an out-of-range link is cut, the
// count fixed and the last id raised to the largest id seen.
TEST_F(RecordFileTest, BrokenChainsAreCut) {
  struct Case {
    const char* name;
    uint32_t next_of_oldest;  // slot 1's "next"
    uint32_t id_of_slot2;
  };
  for (const Case& c : {Case{"cycle", 3, 2}, Case{"range", 900, 2}, Case{"dup", 0, 3}}) {
    SCOPED_TRACE(c.name);
    DefaultFileSystem()->Delete(Path());
    {
      RecordFile f(DefaultFileSystem(), 520);
      f.SetPath(Path());
      for (int i = 0; i < 3; ++i) f.Insert(Payload(1, 1));  // slots 1..3, chain 3 -> 2 -> 1
    }
    Bytes raw = Raw();
    PutLe32(raw.data() + 64 + 4, c.next_of_oldest);
    PutLe32(raw.data() + 64 + 520, c.id_of_slot2);
    PutLe32(raw.data() + 12, 1);  // last id too low
    PutRaw(raw);
    RecordFile f(DefaultFileSystem(), 520);
    f.SetPath(Path());
    ASSERT_TRUE(f.Open());
    EXPECT_TRUE(f.report().repaired);
    EXPECT_EQ(f.Insert(Payload(1, 1)), 4u);
    RecordFile check(DefaultFileSystem(), 520, true);
    check.SetPath(Path());
    ASSERT_TRUE(check.Open());
    // The slots past the cut stay aside (they may hold records) and are
    // reported; the chain itself is sound now.
    for (const std::string& p : check.report().problems) {
      EXPECT_NE(p.find("neither list"), std::string::npos) << p;
    }
  }
}

TEST_F(RecordFileTest, FreeListIntoUsedChainIsRebuilt) {
  {
    RecordFile f(DefaultFileSystem(), 520);
    f.SetPath(Path());
    for (int i = 0; i < 3; ++i) f.Insert(Payload(1, static_cast<uint8_t>(i)));
  }
  Bytes raw = Raw();
  PutLe32(raw.data() + 16, 2);  // free head points at a live record
  PutRaw(raw);
  RecordFile f(DefaultFileSystem(), 520);
  f.SetPath(Path());
  ASSERT_TRUE(f.Open());
  EXPECT_EQ(f.report().free_slots, 97u);
  for (int i = 0; i < 97; ++i) ASSERT_NE(f.Insert(Payload(1, 0xEE)), 0u);
  for (uint32_t id = 1; id <= 3; ++id) {
    Bytes p;
    ASSERT_TRUE(f.ReadAll(id, &p));
    EXPECT_EQ(p[0], id - 1);
  }
}

// A commit that fails after writing the file leaves the journal hot: a
// read-only open shows the last commit without writing; opening for
// writing rolls the file back to it and cools the journal.
TEST_F(RecordFileTest, HotJournalRollsBack) {
  FaultInjectingFileSystem fault(DefaultFileSystem());
  uint32_t a = 0;
  {
    RecordFile f(&fault, 520);
    f.SetPath(Path());
    a = f.Insert(Payload(4, 1));
    ASSERT_NE(a, 0u);
    f.BeginGroup();
    const uint8_t two = 2;
    ASSERT_TRUE(f.Write(a, 0, 1, &two));
    ASSERT_NE(f.Insert(Payload(4, 3)), 0u);
    f.EndGroup();
    fault.FailSync(2);  // the journal's sync passes, the file's fails
    EXPECT_FALSE(f.Commit());
    EXPECT_EQ(f.failures(), 1u);
  }
  const Bytes written = Raw();
  EXPECT_EQ(written[64 + 8], 2);  // the change reached the file
  {
    RecordFile ro(DefaultFileSystem(), 520, /*read_only=*/true);
    ro.SetPath(Path());
    ASSERT_TRUE(ro.Open());
    EXPECT_TRUE(ro.report().rolled_back);
    EXPECT_EQ(ro.Ids(), (std::vector<uint32_t>{a}));
    Bytes p;
    ASSERT_TRUE(ro.ReadAll(a, &p));
    EXPECT_EQ(p[0], 1);
    EXPECT_EQ(Raw(), written);
  }
  for (bool rolled : {true, false}) {
    RecordFile f(DefaultFileSystem(), 520);
    f.SetPath(Path());
    ASSERT_TRUE(f.Open());
    EXPECT_EQ(f.report().rolled_back, rolled);
    EXPECT_EQ(f.Ids(), (std::vector<uint32_t>{a}));
    Bytes p;
    ASSERT_TRUE(f.ReadAll(a, &p));
    EXPECT_EQ(p[0], 1);
  }
}

// --- crash and fault injection -----------------------------------------

// The records a run believes are there, by id, with their first byte.
using Model = std::map<uint32_t, uint8_t>;

// Opens the file on the real file system (rolling a hot journal back) and
// checks that it holds exactly the model: a sound chain and free list,
// every record with its content, nothing else; and that filling the free
// slots touches no record.
void ExpectExactly(const std::string& path, uint32_t slot_size, const Model& model) {
  FaultInjectingFileSystem fs(DefaultFileSystem());  // no faults: spares the disk's syncs
  RecordFile f(&fs, slot_size);
  f.SetPath(path);
  ASSERT_TRUE(f.Open());
  EXPECT_TRUE(f.report().problems.empty()) << f.report().problems[0];
  std::vector<uint32_t> ids = f.Ids();
  std::vector<uint32_t> want;
  for (auto it = model.rbegin(); it != model.rend(); ++it) want.push_back(it->first);
  ASSERT_EQ(ids, want);
  for (const auto& [id, fill] : model) {
    Bytes p;
    ASSERT_TRUE(f.ReadAll(id, &p));
    EXPECT_EQ(p[0], fill) << "record " << id;
  }
  const uint32_t last = f.last_id();
  f.BeginGroup();
  for (int i = 0; i < 20; ++i) ASSERT_GT(f.Insert(Bytes(1, 0xFF)), last);
  f.EndGroup();
  ASSERT_TRUE(f.Commit());
  for (const auto& [id, fill] : model) {
    Bytes p;
    ASSERT_TRUE(f.ReadAll(id, &p));
    EXPECT_EQ(p[0], fill) << "record " << id;
  }
}

// One step of a random mix: an insert, or (with a few records) a delete or
// a rewrite of a record's first byte. Changes go to the file and the model.
void RandomStep(RecordFile* f, Model* live, std::mt19937* rng, uint8_t fill) {
  if (live->size() > 3 && (*rng)() % 3 == 0) {
    auto it = live->begin();
    std::advance(it, (*rng)() % live->size());
    if ((*rng)() % 2 == 0) {
      ASSERT_TRUE(f->Delete(it->first));
      live->erase(it);
    } else {
      ASSERT_TRUE(f->Write(it->first, 0, 1, &fill));
      it->second = fill;
    }
    return;
  }
  const uint32_t id = f->Insert(Bytes(1, fill));
  ASSERT_NE(id, 0u);
  (*live)[id] = fill;
}

void RemoveFiles(const std::string& path) {
  DefaultFileSystem()->Delete(path);
  DefaultFileSystem()->Delete(path + ".journal");
}

class RecordFileCrashTest : public ::testing::TestWithParam<uint32_t> {
 protected:
  TempDir dir_;
};

// Inserts, deletes and rewrites in one group, committed every four steps
// (enough inserts to grow twice at S = 8192), with the Nth write and every
// later one failing, for every N the run has. A failed commit closes the
// file; reopened, it holds exactly what the last commit held.
TEST_P(RecordFileCrashTest, FailNthWriteKeepsTheLastCommit) {
  const uint32_t s = GetParam();
  const std::string path = dir_.path() + "/f.idx";
  for (uint64_t n = 1;; ++n) {
    RemoveFiles(path);
    FaultInjectingFileSystem fault(DefaultFileSystem());
    Model committed, live;
    bool failed = false;
    {
      RecordFile f(&fault, s);
      f.SetPath(path);
      ASSERT_TRUE(f.Open());
      fault.FailWrite(n, /*sticky=*/true);
      std::mt19937 rng(static_cast<uint32_t>(n));
      f.BeginGroup();
      for (int step = 0; step < 40 && !failed; ++step) {
        ASSERT_NO_FATAL_FAILURE(RandomStep(&f, &live, &rng, static_cast<uint8_t>(1 + step)));
        if (step % 4 == 3) {
          failed = !f.Commit();
          if (!failed) committed = live;
        }
      }
      f.EndGroup();
      if (failed) {
        EXPECT_FALSE(f.is_open());
        EXPECT_EQ(f.failures(), 1u);
        EXPECT_EQ(f.Insert(Bytes(1, 1)), 0u);  // reopening needs writes too
      }
    }
    SCOPED_TRACE("failing write " + std::to_string(n));
    ExpectExactly(path, s, committed);
    if (!failed) break;
  }
}

// The power goes at a random moment of a run that commits every four
// steps; after the cut (each unsynced write lost, torn or kept, each
// unsynced entry change undone or kept) the file holds exactly the last
// commit, or the one that was under way. QUILL_STORE_LONG runs 50 times as
// many cuts.
TEST_P(RecordFileCrashTest, PowerCutLeavesOneCommitOrTheNext) {
  const uint32_t s = GetParam();
  const std::string path = dir_.path() + "/p.idx";
  const char* env = std::getenv("QUILL_STORE_LONG");
  const int cuts = env && *env ? 50000 : 1000;
  int mid_commit = 0;
  for (int cut = 0; cut < cuts; ++cut) {
    RemoveFiles(path);
    FaultInjectingFileSystem fault(DefaultFileSystem());
    std::mt19937 rng(static_cast<uint32_t>(cut * 2654435761u + s));
    Model committed, live;
    std::optional<Model> in_flight;
    {
      RecordFile f(&fault, s);
      f.SetPath(path);
      fault.FreezeAfter(rng() % 60);
      f.BeginGroup();
      for (int step = 0; step < 24 && !in_flight; ++step) {
        if (!f.is_open() && !f.Open()) break;  // the power went while opening
        ASSERT_NO_FATAL_FAILURE(RandomStep(&f, &live, &rng, static_cast<uint8_t>(1 + step)));
        if (step % 4 == 3) {
          if (f.Commit()) {
            committed = live;
          } else {
            in_flight = live;
          }
        }
      }
      f.EndGroup();
    }
    fault.CutPower(rng());
    SCOPED_TRACE("cut " + std::to_string(cut));
    RecordFile f(&fault, s);
    f.SetPath(path);
    ASSERT_TRUE(f.Open());
    Model now;
    for (uint32_t id : f.Ids()) {
      Bytes p;
      ASSERT_TRUE(f.ReadAll(id, &p));
      now[id] = p[0];
    }
    if (in_flight && now == *in_flight && now != committed) ++mid_commit;
    if (!in_flight || now != *in_flight) {
      ASSERT_NO_FATAL_FAILURE(ExpectExactly(path, s, committed));
    } else {
      ASSERT_NO_FATAL_FAILURE(ExpectExactly(path, s, *in_flight));
    }
  }
  EXPECT_GT(mid_commit, 0);  // some cuts fell after the file's sync
}

// Random inserts, deletes, partial writes and reopens against an in-memory
// model of every payload. QUILL_STORE_LONG runs 50 times as many steps.
TEST_P(RecordFileCrashTest, RandomOperationsMatchTheModel) {
  const uint32_t s = GetParam();
  const uint32_t payload = s - 8;
  const std::string path = dir_.path() + "/m.idx";
  const char* env = std::getenv("QUILL_STORE_LONG");
  const int steps = env && *env ? 100000 : 2000;
  std::mt19937 rng(s);
  std::map<uint32_t, Bytes> model;
  uint32_t last = 0;
  FaultInjectingFileSystem fs(DefaultFileSystem());  // no faults: only spares the disk's syncs
  auto file = std::make_unique<RecordFile>(&fs, s);
  file->SetPath(path);
  for (int step = 0; step < steps; ++step) {
    const uint32_t op = rng() % 100;
    if (op < 40 || model.empty()) {
      Bytes p(payload);
      for (auto& b : p) b = static_cast<uint8_t>(rng());
      const uint32_t id = file->Insert(p);
      ASSERT_EQ(id, last + 1);
      last = id;
      model[id] = p;
    } else if (op < 65) {
      auto it = model.begin();
      std::advance(it, rng() % model.size());
      ASSERT_TRUE(file->Delete(it->first));
      model.erase(it);
    } else if (op < 90) {
      auto it = model.begin();
      std::advance(it, rng() % model.size());
      const uint32_t off = rng() % payload, len = rng() % 64;
      Bytes buf(payload + 64);
      for (auto& b : buf) b = static_cast<uint8_t>(rng());
      uint32_t done = 0;
      ASSERT_TRUE(file->Write(it->first, off, len, buf.data(), &done));
      ASSERT_EQ(done, std::min(len, payload - off));
      std::copy(buf.begin() + off, buf.begin() + off + done, it->second.begin() + off);
    } else if (op < 97) {
      auto it = model.begin();
      std::advance(it, rng() % model.size());
      Bytes got;
      ASSERT_TRUE(file->ReadAll(it->first, &got));
      ASSERT_EQ(got, it->second);
    } else {
      file = std::make_unique<RecordFile>(&fs, s);
      file->SetPath(path);
      ASSERT_TRUE(file->Open());
      ASSERT_TRUE(file->report().problems.empty()) << file->report().problems[0];
      ASSERT_EQ(file->record_count(), model.size());
    }
  }
  std::vector<uint32_t> ids = file->Ids();
  std::vector<uint32_t> want;
  for (auto it = model.rbegin(); it != model.rend(); ++it) want.push_back(it->first);
  EXPECT_EQ(ids, want);  // newest first
}

INSTANTIATE_TEST_SUITE_P(SlotSizes, RecordFileCrashTest, ::testing::Values(8192u, 520u));

}  // namespace
}  // namespace store
}  // namespace quill
