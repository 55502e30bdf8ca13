// The stack of open FONT tags. A new record does not inherit from the one
// below it. The base record is never removed. Depth is capped: pushes beyond
// the cap are only counted, so that the matching pops still balance and the
// records below the cap are not disturbed. Copyable; not thread-safe.
#ifndef QUILL_HTML_FONT_STACK_H_
#define QUILL_HTML_FONT_STACK_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "html/font_record.h"

namespace quill {
namespace html {

class FontStack {
 public:
  // Most records kept, the base record included.
  static constexpr size_t kMaxDepth = 64;

  FontStack() { Reset(); }

  // Back to the base record alone.
  void Reset();
  // Opens a FONT: a fresh, all-unset record on top (or one more uncounted push).
  void Push();
  // Closes a FONT: undoes the latest Push; never removes the base record.
  void Pop();

  // The record that styles text now.
  const FontRecord& Top() const { return records_.back(); }
  // The record the attributes of the FONT just opened go to; nullptr when that
  // FONT was beyond the cap and has no record of its own.
  FontRecord* MutableTop() { return overflow_ > 0 ? nullptr : &records_.back(); }

  size_t depth() const { return records_.size(); }
  uint32_t overflow() const { return overflow_; }

 private:
  std::vector<FontRecord> records_;  // base at index 0, top at the back; never empty
  uint32_t overflow_ = 0;            // pushes beyond kMaxDepth not yet popped
};

}  // namespace html
}  // namespace quill

#endif  // QUILL_HTML_FONT_STACK_H_
