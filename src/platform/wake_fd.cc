#include "platform/wake_fd.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

namespace quill {

WakeFd::WakeFd() : fd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

WakeFd::~WakeFd() {
  if (fd_ >= 0) close(fd_);
}

void WakeFd::Signal() {
  const uint64_t one = 1;
  // EAGAIN means the counter is saturated: it is readable anyway.
  if (fd_ >= 0) (void)!write(fd_, &one, sizeof one);
}

void WakeFd::Drain() {
  uint64_t count = 0;
  if (fd_ >= 0) (void)!read(fd_, &count, sizeof count);
}

}  // namespace quill
