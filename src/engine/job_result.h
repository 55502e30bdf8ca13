// Base of the objects a job hands from its worker to the UI thread: decoded
// responses (WM_CMD_DATA_COME) and progress reports (WM_CMD_DATA_PERCENT).
// The commands derive their response types from it.
#ifndef QUILL_ENGINE_JOB_RESULT_H_
#define QUILL_ENGINE_JOB_RESULT_H_

#include <cstdint>

namespace quill {
namespace engine {

class JobResult {
 public:
  virtual ~JobResult() = default;
  // The response's result code (0 success); 0 for progress without one.
  virtual int32_t ResultCode() const = 0;
};

}  // namespace engine
}  // namespace quill

#endif  // QUILL_ENGINE_JOB_RESULT_H_
