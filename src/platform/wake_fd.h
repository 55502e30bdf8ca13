// A descriptor that another event loop can watch for readability, made
// readable by Signal from any thread and quiet again by Drain. Signals
// coalesce: many before a Drain read as one.
//
// Thread safety: Signal from any thread; Drain on the watching thread.
#ifndef QUILL_PLATFORM_WAKE_FD_H_
#define QUILL_PLATFORM_WAKE_FD_H_

namespace quill {

class WakeFd {
 public:
  WakeFd();
  ~WakeFd();
  WakeFd(const WakeFd&) = delete;
  WakeFd& operator=(const WakeFd&) = delete;

  // -1 when the descriptor could not be made.
  int fd() const { return fd_; }
  void Signal();
  void Drain();

 private:
  int fd_;  // an eventfd, non-blocking
};

}  // namespace quill

#endif  // QUILL_PLATFORM_WAKE_FD_H_
