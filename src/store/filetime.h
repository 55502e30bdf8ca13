// Stored times are Windows FILETIMEs: 100 ns units since 1601-01-01 UTC.
#ifndef QUILL_STORE_FILETIME_H_
#define QUILL_STORE_FILETIME_H_

#include <cstdint>

#include "platform/clock.h"

namespace quill {
namespace store {

constexpr int64_t kFiletimeEpochSeconds = 11644473600;  // 1601-01-01 to 1970-01-01
constexpr uint64_t kFiletimeTicksPerSecond = 10000000;

inline uint64_t FiletimeFromSeconds(int64_t unix_seconds) {
  return static_cast<uint64_t>(unix_seconds + kFiletimeEpochSeconds) * kFiletimeTicksPerSecond;
}

// Seconds since 1970 of a FILETIME; 0 for one before 1970.
inline int64_t SecondsFromFiletime(uint64_t filetime) {
  const int64_t seconds = static_cast<int64_t>(filetime / kFiletimeTicksPerSecond);
  return seconds > kFiletimeEpochSeconds ? seconds - kFiletimeEpochSeconds : 0;
}

inline uint64_t FiletimeNow() { return FiletimeFromSeconds(NowSeconds()); }

}  // namespace store
}  // namespace quill

#endif  // QUILL_STORE_FILETIME_H_
