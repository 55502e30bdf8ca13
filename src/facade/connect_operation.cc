#include "facade/connect_operation.h"

#include <memory>

#include "engine/dial_up_job.h"
#include "facade/facade_core.h"

namespace quill {
namespace facade {

bool ConnectOperation::DoConnect(int destination) {
  std::unique_ptr<engine::NetJob> job = std::make_unique<engine::DialUpJob>(
      &core_->connections(), destination, [this](engine::NetworkType type) { done_.Fire(type); });
  job->set_listener(this);
  return core_->runner().Queue(&job) > 0;
}

}  // namespace facade
}  // namespace quill
