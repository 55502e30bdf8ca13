#include "platform/codepage.h"

#include <gtest/gtest.h>

namespace quill {
namespace {

TEST(CodepageTest, ChineseBytes) {
  EXPECT_EQ(Utf16ToCp936(u"中文"), "\xD6\xD0\xCE\xC4");
  EXPECT_EQ(Cp936ToUtf16("\xD6\xD0\xCE\xC4"), u"中文");
  EXPECT_EQ(Utf16ToCp936(u"C:\\程序\\a.exe"), "C:\\\xB3\xCC\xD0\xF2\\a.exe");
}

TEST(CodepageTest, UnmappableBecomesQuestionMark) {
  // A Hangul syllable, an emoji (surrogate pair: one "?") and a lone surrogate.
  std::u16string text = u"a\uAC00b";
  text += u"\U0001F600";
  text += static_cast<char16_t>(0xD800);
  text += u"z";
  EXPECT_EQ(Utf16ToCp936(text), "a?b??z");
}

TEST(CodepageTest, InvalidBytesBecomeReplacement) {
  // 0xFF is no character; "\xD6" at the end is truncated.
  EXPECT_EQ(Cp936ToUtf16("a\xFF" "b\xD6"), u"a\uFFFDb\uFFFD");
  EXPECT_EQ(Cp936ToUtf16(""), u"");
}

TEST(CodepageTest, LongTextRoundTrips) {
  std::u16string text;
  for (int i = 0; i < 1000; ++i) text += u"邮件mail";
  EXPECT_EQ(Cp936ToUtf16(Utf16ToCp936(text)), text);
}

}  // namespace
}  // namespace quill
