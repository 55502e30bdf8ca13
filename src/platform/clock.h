// Clocks. GetTickCount is monotonic (it never goes back when the wall clock
// is set); NowSeconds is wall time for stored timestamps.
#ifndef QUILL_PLATFORM_CLOCK_H_
#define QUILL_PLATFORM_CLOCK_H_

#include <cstdint>

namespace quill {

// Milliseconds on the steady clock, wrapping at 2^32 like the system call.
uint32_t GetTickCount();

// Whole seconds since 1970-01-01 UTC from the system clock.
int64_t NowSeconds();

}  // namespace quill

#endif  // QUILL_PLATFORM_CLOCK_H_
