// Small measuring helpers the benchmarks share: wall time since a point and
// the process's resident memory.
#ifndef QUILL_BENCH_BENCH_CLOCK_H_
#define QUILL_BENCH_BENCH_CLOCK_H_

#include <unistd.h>

#include <chrono>
#include <cstdio>

namespace quill {

using Clock = std::chrono::steady_clock;

// Wall-clock seconds since `since`.
inline double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

// The process's resident memory in KB; 0 when /proc cannot tell.
inline long ResidentKb() {
  FILE* f = fopen("/proc/self/statm", "r");
  long pages = 0, resident = 0;
  if (f) {
    if (fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    fclose(f);
  }
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

}  // namespace quill

#endif  // QUILL_BENCH_BENCH_CLOCK_H_
