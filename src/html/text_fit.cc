#include "html/text_fit.h"

#include <algorithm>

#include "platform/utf.h"

namespace quill {
namespace html {

void PrefixSums(const std::vector<int>& advances, std::vector<int64_t>* sums) {
  sums->resize(advances.size() + 1);
  int64_t total = 0;
  (*sums)[0] = 0;
  for (size_t i = 0; i < advances.size(); ++i) {
    total += advances[i];
    (*sums)[i + 1] = total;
  }
}

size_t FitUnits(const std::vector<int64_t>& sums, std::u16string_view text, size_t begin,
                size_t end, int64_t room, bool take_one) {
  if (begin >= end) return 0;
  size_t fitted = 0;
  if (room >= 0) {
    // Sums are non-decreasing: past is the first index beyond the limit, and
    // sums[begin] itself is within it.
    const int64_t limit = sums[begin] + room;
    const auto past = std::upper_bound(sums.begin() + begin, sums.begin() + end + 1, limit);
    fitted = static_cast<size_t>(past - sums.begin()) - 1 - begin;
  }
  if (fitted > 0 || !take_one) return fitted;
  const bool pair =
      begin + 1 < end && IsHighSurrogate(text[begin]) && IsLowSurrogate(text[begin + 1]);
  return pair ? 2 : 1;
}

}  // namespace html
}  // namespace quill
