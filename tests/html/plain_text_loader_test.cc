#include "html/plain_text_loader.h"

#include <string>

#include "gtest/gtest.h"
#include "html/element_description.h"

namespace quill {
namespace html {
namespace {

std::string Plain(std::u16string_view text) {
  ElementList elements;
  LoadPlainText(text, &elements);
  return DescribeElements(elements);
}

TEST(PlainTextLoaderTest, LinesTrimmedAndBroken) {
  EXPECT_EQ(Plain(u"  first \r\n\tsecond\n\nlast  "), "T\"first\" | T\"second\" | | T\"last\"");
  EXPECT_EQ(Plain(u"ends with break\n"), "T\"ends with break\" |");
  EXPECT_EQ(Plain(u"<b>not html</b> &amp;"), "T\"<b>not html</b> &amp;\"");
  EXPECT_EQ(Plain(u""), "");
  EXPECT_EQ(Plain(u"   "), "");
}

TEST(PlainTextLoaderTest, TrimmedOnlyAtRealLineEnds) {
  const std::u16string text = u" 第一行 有空格 \n second  line \nthird";
  const std::string whole = Plain(text);
  EXPECT_EQ(whole, "T\"第一行 有空格\" | T\"second  line\" | T\"third\"");
  for (size_t chunk = 1; chunk <= text.size(); ++chunk) {
    PlainTextLoader loader;
    ElementList elements;
    for (size_t start = 0; start < text.size(); start += chunk) {
      loader.Append(std::u16string_view(text).substr(start, chunk), &elements);
    }
    loader.Finish(&elements);
    EXPECT_EQ(DescribeElements(elements), whole) << "chunk " << chunk;
  }
}

}  // namespace
}  // namespace html
}  // namespace quill
