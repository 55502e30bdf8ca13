#include "platform/utf.h"

#include <gtest/gtest.h>

#include <vector>

namespace quill {
namespace {

TEST(Utf, CutsNeverSplitACharacter) {
  EXPECT_EQ(CutUtf8("\xE4\xB8\xAD\xE6\x96\x87", 5), "\xE4\xB8\xAD");
  EXPECT_EQ(CutUtf8("\xE4\xB8\xAD", 3), "\xE4\xB8\xAD");
  EXPECT_EQ(CutUtf8("\xE4\xB8\xAD", 2), "");
  EXPECT_EQ(Utf8PrefixLength("ab\xF0\x9F\x98\x80", 5), 2u);
}

TEST(Utf, RoundTripsEveryPlane) {
  const std::u16string text = u"A\u00e9\u4e2d\u6587\U0001F600z";
  const std::string utf8 = Utf16ToUtf8(text);
  EXPECT_EQ(utf8, "A\xC3\xA9\xE4\xB8\xAD\xE6\x96\x87\xF0\x9F\x98\x80z");
  EXPECT_EQ(Utf8ToUtf16(utf8), text);
}

TEST(Utf, LoneSurrogatesBecomeReplacement) {
  EXPECT_EQ(Utf16ToUtf8(std::u16string(1, 0xD800)), "\xEF\xBF\xBD");
  EXPECT_EQ(Utf16ToUtf8(std::u16string(1, 0xDC00) + u"a"), "\xEF\xBF\xBD" "a");
  // A high surrogate followed by a non-surrogate keeps the second unit.
  EXPECT_EQ(Utf16ToUtf8(std::u16string{0xD83D, u'x'}), "\xEF\xBF\xBD" "x");
}

TEST(Utf, InvalidUtf8BecomesReplacement) {
  struct Case { std::string in; std::u16string out; };
  const Case cases[] = {
      {"\x80", u"\uFFFD"},                        // stray continuation
      {"\xC0\xAF", u"\uFFFD\uFFFD"},              // overlong lead is invalid on its own
      {"\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"},    // overlong three-byte form
      {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},    // encoded surrogate
      {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // above U+10FFFF
      {"\xE4\xB8", u"\uFFFD"},                    // truncated at the end
      {"\xE4\xB8" "a", u"\uFFFD" u"a"},           // truncated before ASCII
      {std::string("a\0b", 3), std::u16string(u"a\0b", 3)},  // NUL is data
  };
  for (const Case& c : cases) EXPECT_EQ(Utf8ToUtf16(c.in), c.out) << c.in;
}

}  // namespace
// Into room of exactly the promised size, on the heap, so that the
// sanitizer build catches a write past it.
TEST(Utf, BufferConversionsStayWithinTheirRoom) {
  for (uint32_t u = 0; u <= 0xFFFF; ++u) {
    const std::u16string unit(1, static_cast<char16_t>(u));
    std::vector<char> room(3);
    const size_t n = Utf16ToUtf8(unit, room.data());
    ASSERT_EQ(std::string(room.data(), n), Utf16ToUtf8(unit)) << u;
  }
  for (const std::string& utf8 : {std::string("\xF0\x9F\x98\x80"), std::string("\xFF\xFE\x80"),
                                 std::string("a\xE4\xB8"), std::string(1, '\0')}) {
    std::vector<char16_t> room(utf8.size());
    const size_t n = Utf8ToUtf16(utf8, room.data());
    EXPECT_EQ(std::u16string(room.data(), n), Utf8ToUtf16(utf8));
  }
}

}  // namespace quill
