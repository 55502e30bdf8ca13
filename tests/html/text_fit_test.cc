// Fitting over prefix sums: the longest prefix within the room, zero-width
// units joining it, and one character taken on an empty line.
#include "html/text_fit.h"

#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace quill {
namespace html {
namespace {

std::vector<int64_t> Sums(const std::vector<int>& advances) {
  std::vector<int64_t> sums;
  PrefixSums(advances, &sums);
  return sums;
}

TEST(TextFitTest, PrefixSums) {
  EXPECT_EQ(Sums({}), (std::vector<int64_t>{0}));
  EXPECT_EQ(Sums({3, 0, 4}), (std::vector<int64_t>{0, 3, 3, 7}));
}

TEST(TextFitTest, TheLongestPrefixThatFitsExactly) {
  const std::u16string text = u"abcd";
  const auto sums = Sums({5, 5, 5, 5});
  EXPECT_EQ(FitUnits(sums, text, 0, 4, 15, false), 3u);  // exactly 15
  EXPECT_EQ(FitUnits(sums, text, 0, 4, 14, false), 2u);
  EXPECT_EQ(FitUnits(sums, text, 0, 4, 100, false), 4u);
  EXPECT_EQ(FitUnits(sums, text, 1, 3, 100, false), 2u);  // bounded by end
  EXPECT_EQ(FitUnits(sums, text, 2, 4, 5, false), 1u);    // from begin
  EXPECT_EQ(FitUnits(sums, text, 4, 4, 100, true), 0u);   // nothing left
}

TEST(TextFitTest, NothingFitsUnlessTheLineIsEmpty) {
  const std::u16string text = u"ab";
  const auto sums = Sums({9, 9});
  EXPECT_EQ(FitUnits(sums, text, 0, 2, 8, false), 0u);
  EXPECT_EQ(FitUnits(sums, text, 0, 2, -3, false), 0u);  // an overfull line
  EXPECT_EQ(FitUnits(sums, text, 0, 2, 8, true), 1u);
  EXPECT_EQ(FitUnits(sums, text, 0, 2, -3, true), 1u);
}

TEST(TextFitTest, SurrogatePairsAndZeroWidthUnitsStayWhole) {
  const std::u16string text = u"\U0001F600\U0001F600";
  const auto sums = Sums({7, 0, 7, 0});
  EXPECT_EQ(FitUnits(sums, text, 0, 4, 7, false), 2u);
  EXPECT_EQ(FitUnits(sums, text, 0, 4, 6, true), 2u);  // the whole pair
  EXPECT_EQ(FitUnits(sums, text, 0, 1, 6, true), 1u);  // a cut pair is not read past end
  const std::u16string controls = u"a\x01\x02" u"b";
  EXPECT_EQ(FitUnits(Sums({4, 0, 0, 4}), controls, 0, 4, 4, false), 3u);
}

}  // namespace
}  // namespace html
}  // namespace quill
