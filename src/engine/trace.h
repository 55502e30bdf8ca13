// Trace points of the network engine. Every significant step names a log
// file, a message and two numbers. By default nothing is formatted or
// written; a test or a diagnostic build may install a sink.
//
// Messages are plain ASCII; a parenthesised list at the end names the two
// numbers, e.g. "Job Got by thread (jobid,threadid)".
//
// Thread safety: every function may be called from any thread. A sink is
// called under one process-wide mutex, so it needs no lock of its own and
// is never called after SetTraceSink replaced it.
#ifndef QUILL_ENGINE_TRACE_H_
#define QUILL_ENGINE_TRACE_H_

#include <cstdint>
#include <string_view>

namespace quill {
namespace engine {

// Log files named by the trace points (relative names; nothing creates them).
inline constexpr char kNetworkLog[] = "Network.txt";  // facade, exchange, commands, pool
inline constexpr char kDialupLog[] = "dialup.txt";    // connection manager
inline constexpr char kMailLog[] = "maillog.txt";     // mailbox synchronisation
inline constexpr char kDeviceIdLog[] = "deviceid.txt";  // device identifier

// Failing steps, passed as value 2 of the step messages and reported to the
// UI thread as the step of WM_CMD_ERR.
enum FailStep : uint32_t {
  kStepInternetOpen = 1,   // "InternetOpen_Def err"
  kStepConnect = 2,        // "InternetConnect_Def err"
  kStepOpenRequest = 3,    // "HttpOpenRequest err"
  kStepSend = 4,           // "HttpSendRequest err"
  kStepReadBody = 5,       // "HttpGetResponseBody err"
  kStepDecodeBody = 6,     // "DecodeResponseBody err"
  kStepSyncKey = 100,      // "Sync Key err"
  kStepNoConnection = 101, // the dial-up failed before any exchange
  kStepFlowLimit = 200,    // "Reach net flow limit of the day"
};

// The trace message of a failing step; nullptr for a step without one.
const char* StepMessage(uint32_t step);

class TraceSink {
 public:
  virtual ~TraceSink() = default;
  virtual void Write(std::string_view file, std::string_view message, uint32_t value1,
                     uint32_t value2) = 0;
};

// Installs sink (nullptr switches tracing off, the default). The caller
// keeps the sink alive until it is replaced.
void SetTraceSink(TraceSink* sink);

// The trace point of everything but the connection manager. Returns 0.
int WriteLog(const char* file, const char* message, uint32_t value1, uint32_t value2);
// The trace point of the connection manager. Returns 0.
int WriteDialLog(const char* file, const char* message, uint32_t value1, uint32_t value2);

}  // namespace engine
}  // namespace quill

#endif  // QUILL_ENGINE_TRACE_H_
