// Starting threads without exceptions. The standard thread constructor
// reports a refused thread by throwing; this wrapper turns that into false.
#ifndef QUILL_PLATFORM_THREAD_H_
#define QUILL_PLATFORM_THREAD_H_

#include <cstdint>
#include <functional>
#include <thread>

namespace quill {

// Starts body on a new thread into *out. False (and *out untouched) when the
// system refused the thread.
bool StartThread(std::function<void()> body, std::thread* out);

// A small number naming the calling thread, for trace lines.
uint32_t CurrentThreadNumber();

}  // namespace quill

#endif  // QUILL_PLATFORM_THREAD_H_
