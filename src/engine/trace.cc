#include "engine/trace.h"

#include <atomic>
#include <mutex>

namespace quill {
namespace engine {
namespace {

std::atomic<TraceSink*> g_sink{nullptr};

std::mutex& SinkMutex() {
  static std::mutex* mu = new std::mutex();  // lives for the process
  return *mu;
}

int Emit(const char* file, const char* message, uint32_t value1, uint32_t value2) {
  if (g_sink.load(std::memory_order_acquire) == nullptr) return 0;  // the usual case
  std::lock_guard<std::mutex> lock(SinkMutex());
  TraceSink* sink = g_sink.load(std::memory_order_acquire);
  if (sink) sink->Write(file ? file : "", message ? message : "", value1, value2);
  return 0;
}

}  // namespace

const char* StepMessage(uint32_t step) {
  switch (step) {
    case kStepInternetOpen: return "InternetOpen_Def err";
    case kStepConnect: return "InternetConnect_Def err";
    case kStepOpenRequest: return "HttpOpenRequest err";
    case kStepSend: return "HttpSendRequest err";
    case kStepReadBody: return "HttpGetResponseBody err";
    case kStepDecodeBody: return "DecodeResponseBody err";
    case kStepSyncKey: return "Sync Key err";
    case kStepFlowLimit: return "Reach net flow limit of the day";
    default: return nullptr;
  }
}

void SetTraceSink(TraceSink* sink) {
  std::lock_guard<std::mutex> lock(SinkMutex());
  g_sink.store(sink, std::memory_order_release);
}

int WriteLog(const char* file, const char* message, uint32_t value1, uint32_t value2) {
  return Emit(file, message, value1, value2);
}

int WriteDialLog(const char* file, const char* message, uint32_t value1, uint32_t value2) {
  return Emit(file, message, value1, value2);
}

}  // namespace engine
}  // namespace quill
