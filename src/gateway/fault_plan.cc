#include "gateway/fault_plan.h"

#include <charconv>

namespace quill {
namespace gateway {
namespace {

constexpr int32_t kMaxDelayMs = 600000;

bool ParseInt(std::string_view text, int32_t* out) {
  if (text.empty()) return false;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, *out);
  return ec == std::errc() && ptr == end;
}

}  // namespace

bool ParseFaultSpec(std::string_view spec, std::string* command, Fault* fault) {
  const size_t eq = spec.find('=');
  if (eq == std::string_view::npos || eq == 0) return false;
  *command = std::string(spec.substr(0, eq));
  std::string_view mode = spec.substr(eq + 1);
  std::string_view arg;
  const size_t colon = mode.find(':');
  const bool has_arg = colon != std::string_view::npos;
  if (has_arg) {
    arg = mode.substr(colon + 1);
    mode = mode.substr(0, colon);
  }
  *fault = Fault();
  if (mode == "delay" || mode == "result" || mode == "refuse") {
    if (!has_arg || !ParseInt(arg, &fault->argument)) return false;
    if (mode == "delay") {
      fault->mode = FaultMode::kDelay;
      return fault->argument >= 0 && fault->argument <= kMaxDelayMs;
    }
    fault->mode = mode == "result" ? FaultMode::kResult : FaultMode::kRefuse;
    return true;
  }
  if (has_arg) return false;
  if (mode == "drop") {
    fault->mode = FaultMode::kDrop;
  } else if (mode == "garbage") {
    fault->mode = FaultMode::kGarbage;
  } else if (mode == "http500") {
    fault->mode = FaultMode::kHttp500;
  } else if (mode == "expire") {
    fault->mode = FaultMode::kExpire;
  } else if (mode == "cut") {
    fault->mode = FaultMode::kCut;
  } else if (mode != "none") {
    return false;
  }
  return true;
}

void FaultPlan::Set(const std::string& command, const Fault& fault) {
  std::lock_guard<std::mutex> lock(mu_);
  if (fault.mode == FaultMode::kNone) {
    faults_.erase(command);
  } else {
    faults_[command] = fault;
  }
}

void FaultPlan::ClearAll() {
  std::lock_guard<std::mutex> lock(mu_);
  faults_.clear();
}

Fault FaultPlan::For(const std::string& command) {
  std::lock_guard<std::mutex> lock(mu_);
  auto it = faults_.find(command);
  if (it == faults_.end()) it = faults_.find(kAllCommands);
  if (it == faults_.end()) return Fault();
  const Fault fault = it->second;
  if (fault.once) faults_.erase(it);
  return fault;
}

}  // namespace gateway
}  // namespace quill
