// The local store against plain file I/O measured in the same run:
// - one batch of N inserts vs writing N slots' bytes sequentially with one
//   fsync;
// - reopening and loading "mails.idx" (index, counters, views) vs pread of
//   the same 60 bytes per record, warm cache;
// - deleting 1,000 mails from the middle vs as many small pwrites;
// - heap in use for the open store, and the process's resident memory;
// - AddUnknownAddresses per address with 10,000 contacts vs with 100.
// Times are wall clock (the work is I/O); each figure is one run.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <malloc.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_clock.h"
#include "tests/temp_dir.h"
#include "platform/file_system.h"
#include "store/address_book.h"
#include "store/mail_store.h"

namespace quill {
namespace {

store::MailRecord TypicalMail(uint32_t server_id) {
  store::MailRecord m;
  m.set_server_id(server_id);
  m.set_folder(1 + server_id % 5);
  m.set_date(130000000000000000ull + static_cast<uint64_t>(server_id % 977) * 10000000ull);
  m.set_flags(server_id % 3 == 0 ? store::kUnreadFlag : 0);
  m.sender = u"\"Zhang San\"<zhangsan@example.com>";
  m.subject = u"Weekly report and the minutes of Monday's meeting";
  m.MarkTextsChanged();
  return m;
}

// Inserts n mails in one batch into dir; seconds.
double InsertBatch(const std::string& dir, int n) {
  store::MailStore mails(DefaultFileSystem());
  auto start = Clock::now();
  if (!mails.Open(dir)) return -1;
  mails.BeginBatch();
  for (int i = 1; i <= n; ++i) {
    store::MailRecord m = TypicalMail(static_cast<uint32_t>(i));
    if (mails.AddOrUpdateMail(&m) == 0) return -1;
  }
  mails.EndBatch();
  return Seconds(start);
}

// Writes n slots' bytes sequentially and syncs once; seconds.
double SequentialWrite(const std::string& path, int n) {
  std::vector<uint8_t> slot(store::MailStore::kSlotSize, 0x5A);
  auto start = Clock::now();
  int fd = open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
  for (int i = 0; i < n; ++i) {
    if (write(fd, slot.data(), slot.size()) != static_cast<ssize_t>(slot.size())) return -1;
  }
  fdatasync(fd);
  close(fd);
  return Seconds(start);
}

// pread of header and summary (60 bytes) of every slot, newest first.
double PreadSummaries(const std::string& path, int n) {
  auto start = Clock::now();
  int fd = open(path.c_str(), O_RDONLY);
  uint8_t buf[60];
  uint64_t sum = 0;
  for (int slot = n; slot >= 1; --slot) {
    off_t at = 64 + static_cast<off_t>(slot - 1) * store::MailStore::kSlotSize;
    if (pread(fd, buf, sizeof buf, at) != static_cast<ssize_t>(sizeof buf)) return -1;
    sum += buf[0];
  }
  close(fd);
  benchmark::DoNotOptimize(sum);
  return Seconds(start);
}

void BM_InsertBatch(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  for (auto _ : state) {
    TempDir scratch;
    const std::string dir = scratch.path() + "/";
    const double store_s = InsertBatch(dir, n);
    const double base_s = SequentialWrite(dir + "plain", n);
    state.counters["store_s"] = store_s;
    state.counters["sequential_s"] = base_s;
    state.counters["ratio"] = store_s / base_s;
  }
}
BENCHMARK(BM_InsertBatch)->Arg(10000)->Arg(100000)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ReopenLoad(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  TempDir scratch;
  const std::string dir = scratch.path() + "/";
  InsertBatch(dir, n);
  for (auto _ : state) {
    // The best of five of each, alternating, so a busy machine hurts both alike.
    double store_s = 1e9, base_s = 1e9;
    std::unique_ptr<store::MailStore> mails;
    size_t heap_bytes = 0;
    for (int round = 0; round < 5; ++round) {
      base_s = std::min(base_s, PreadSummaries(dir + "mails.idx", n));
      mails.reset();
      const size_t heap_before = mallinfo2().uordblks;
      auto start = Clock::now();
      mails = std::make_unique<store::MailStore>(DefaultFileSystem());
      mails->Open(dir);
      store_s = std::min(store_s, Seconds(start));
      heap_bytes = mallinfo2().uordblks - heap_before;
    }
    state.counters["mails"] = static_cast<double>(mails->mail_count());
    state.counters["store_s"] = store_s;
    state.counters["pread_s"] = base_s;
    state.counters["ratio"] = store_s / base_s;
    state.counters["heap_mb"] = static_cast<double>(heap_bytes) / (1024.0 * 1024.0);
    state.counters["rss_mb"] = static_cast<double>(ResidentKb()) / 1024.0;

    // 1,000 mails from the middle of the views, one call.
    std::vector<uint32_t> middle;
    const std::vector<store::ViewEntry>& all = mails->View(0);
    for (size_t i = all.size() / 2 - 500; i < all.size() / 2 + 500; ++i) middle.push_back(all[i].mail_id);
    auto start = Clock::now();
    mails->DeleteMails(middle, nullptr);
    const double delete_s = Seconds(start);
    // As many small in-place writes as the deletes make (three each), one sync.
    int fd = open((dir + "mails.idx").c_str(), O_WRONLY);
    uint8_t word[8] = {};
    start = Clock::now();
    for (int i = 0; i < 3000; ++i) {
      if (pwrite(fd, word, 4, 64 + static_cast<off_t>(i % n) * 8192 + 4) != 4) break;
    }
    fdatasync(fd);
    const double pwrite_s = Seconds(start);
    close(fd);
    state.counters["delete1000_ms"] = delete_s * 1000;
    state.counters["delete_ratio"] = delete_s / pwrite_s;
  }
}
BENCHMARK(BM_ReopenLoad)->Arg(10000)->Arg(100000)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// 1,000 AddUnknownAddresses of known addresses; seconds per address.
double UnknownAddressSeconds(const std::string& dir, int contacts) {
  store::AddressBook book(DefaultFileSystem());
  book.Open(dir + "address.txt");
  book.BeginGroup();  // one commit for the set-up, not one per contact
  for (int i = 0; i < contacts; ++i) {
    std::u16string a = u"person" + std::u16string(1, u'a' + i % 26);
    for (char c : std::to_string(i)) a += static_cast<char16_t>(c);
    book.AddContact(u"P", a + u"@example.com", static_cast<uint32_t>(i), static_cast<uint32_t>(i + 1), u"", u"");
  }
  book.EndGroup();
  book.Flush();
  std::vector<std::u16string> seen;
  for (int i = 0; i < 1000; ++i) {
    const int k = (i * 7919) % contacts;
    std::u16string a = u"\"P\"<PERSON" + std::u16string(1, u'A' + k % 26);
    for (char c : std::to_string(k)) a += static_cast<char16_t>(c);
    seen.push_back(a + u"@EXAMPLE.com>");
  }
  size_t added = 0;
  auto start = Clock::now();
  for (const std::u16string& s : seen) {
    size_t n = 0;
    book.AddUnknownAddresses({s}, &n);
    added += n;
  }
  const double per = Seconds(start) / 1000;
  return added == 0 ? per : -1;  // every address was known
}

void BM_AddUnknownAddresses(benchmark::State& state) {
  for (auto _ : state) {
    TempDir small, large;
    const double per_small = UnknownAddressSeconds(small.path() + "/", 100);
    const double per_large = UnknownAddressSeconds(large.path() + "/", 10000);
    state.counters["us_per_address_10000"] = per_large * 1e6;
    state.counters["us_per_address_100"] = per_small * 1e6;
    state.counters["ratio"] = per_large / per_small;
  }
}
BENCHMARK(BM_AddUnknownAddresses)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace quill
