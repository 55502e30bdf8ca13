// Thread-local code of the last failure of a platform call, the counterpart
// of the system's last-error word. Callers read it right after a call that
// reported failure; a successful call leaves it unchanged.
#ifndef QUILL_PLATFORM_LAST_ERROR_H_
#define QUILL_PLATFORM_LAST_ERROR_H_

#include <cstdint>

namespace quill {

// Codes used by the platform layer besides plain errno values.
enum : uint32_t {
  kErrorNone = 0,
  kErrorInvalidHandle = 6,      // closed endpoint, stopped loop, no connection
  kErrorTimeout = 1460,         // a bounded wait ran out
  kErrorDiskFull = 112,         // the free-space rule refused a write
};

uint32_t GetLastError();
void SetLastError(uint32_t code);

}  // namespace quill

#endif  // QUILL_PLATFORM_LAST_ERROR_H_
