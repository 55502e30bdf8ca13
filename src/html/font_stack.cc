#include "html/font_stack.h"

namespace quill {
namespace html {

void FontStack::Reset() {
  records_.clear();
  records_.emplace_back();
  overflow_ = 0;
}

void FontStack::Push() {
  if (records_.size() < kMaxDepth) {
    records_.emplace_back();
  } else if (overflow_ < UINT32_MAX) {
    ++overflow_;
  }
}

void FontStack::Pop() {
  if (overflow_ > 0) {
    --overflow_;
  } else if (records_.size() > 1) {
    records_.pop_back();
  }
}

}  // namespace html
}  // namespace quill
