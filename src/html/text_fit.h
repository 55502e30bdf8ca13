// Width fitting of text over prefix sums of its advances. A text's width is
// the sum of its advances (no kerning), so one pass builds the sums and each
// line is then fitted with a binary search.
#ifndef QUILL_HTML_TEXT_FIT_H_
#define QUILL_HTML_TEXT_FIT_H_

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace quill {
namespace html {

// (*sums)[i] = sum of advances[0, i); sums has advances.size() + 1 entries.
void PrefixSums(const std::vector<int>& advances, std::vector<int64_t>* sums);

// The number of units of [begin, end) in the longest prefix whose width
// (by sums) is at most room. Units of zero advance after the prefix join it,
// so the second unit of a surrogate pair is never cut off its first. When
// nothing fits and take_one is set, the first character is taken anyway
// (both units of a surrogate pair of text), so an empty line always makes
// progress. Requires begin <= end < sums.size().
size_t FitUnits(const std::vector<int64_t>& sums, std::u16string_view text, size_t begin,
                size_t end, int64_t room, bool take_one);

}  // namespace html
}  // namespace quill

#endif  // QUILL_HTML_TEXT_FIT_H_
