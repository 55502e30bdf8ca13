// Fault modes the gateway applies to chosen commands, so tests can drive
// every failing step of the client's exchange against a real server.
//
// Thread safety: every method may be called from any thread; request
// threads read the plan while a test or the control input changes it.
#ifndef QUILL_GATEWAY_FAULT_PLAN_H_
#define QUILL_GATEWAY_FAULT_PLAN_H_

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

namespace quill {
namespace gateway {

enum class FaultMode {
  kNone,
  kDrop,     // announce the whole body, send half of it, close the connection
  kGarbage,  // HTTP 200 with bytes that are no response wrapper
  kHttp500,  // HTTP 500 with an empty body
  kDelay,    // answer normally after `argument` milliseconds
  kExpire,   // the request's session expires now: wrapper result -3
  kResult,   // answer the command with result `argument`
  kCut,      // read the request, then close the connection before the command acts
  kRefuse,   // the command refuses in its own way with code `argument`
};

struct Fault {
  FaultMode mode = FaultMode::kNone;
  int32_t argument = 0;  // milliseconds for kDelay, the code for kResult and kRefuse
  bool once = false;     // cleared after the first request it applied to
};

// The name that applies a fault to every command.
constexpr char kAllCommands[] = "all";

// Parses "COMMAND=MODE[:ARG]" (MODE: drop, garbage, http500, delay:MS,
// expire, result:CODE, cut, refuse:CODE, none). False on anything else; a delay is at most
// 600000 ms.
bool ParseFaultSpec(std::string_view spec, std::string* command, Fault* fault);

class FaultPlan {
 public:
  // A kNone fault clears the command's entry.
  void Set(const std::string& command, const Fault& fault);
  void ClearAll();
  // The command's own fault, else the one set for kAllCommands, else none.
  // A fault set `once` is used up by this call.
  Fault For(const std::string& command);

 private:
  mutable std::mutex mu_;
  std::map<std::string, Fault> faults_;  // guarded by mu_; command name -> fault
};

}  // namespace gateway
}  // namespace quill

#endif  // QUILL_GATEWAY_FAULT_PLAN_H_
