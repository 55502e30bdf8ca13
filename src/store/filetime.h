// Stored times are Windows FILETIMEs: 100 ns units since 1601-01-01 UTC.
#ifndef QUILL_STORE_FILETIME_H_
#define QUILL_STORE_FILETIME_H_

#include <cstdint>

#include "platform/clock.h"

namespace quill {
namespace store {

inline uint64_t FiletimeFromSeconds(int64_t unix_seconds) {
  constexpr int64_t kEpochSeconds = 11644473600;  // 1601-01-01 to 1970-01-01
  return static_cast<uint64_t>(unix_seconds + kEpochSeconds) * 10000000ull;
}

inline uint64_t FiletimeNow() { return FiletimeFromSeconds(NowSeconds()); }

}  // namespace store
}  // namespace quill

#endif  // QUILL_STORE_FILETIME_H_
