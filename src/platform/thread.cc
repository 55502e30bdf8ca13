#include "platform/thread.h"

#include <atomic>
#include <system_error>

#include "platform/last_error.h"

namespace quill {

bool StartThread(std::function<void()> body, std::thread* out) {
  try {
    *out = std::thread(std::move(body));
  } catch (const std::system_error& e) {
    SetLastError(static_cast<uint32_t>(e.code().value()));
    return false;
  }
  return true;
}

uint32_t CurrentThreadNumber() {
  static std::atomic<uint32_t> next{1};
  thread_local uint32_t number = next.fetch_add(1);
  return number;
}

}  // namespace quill
