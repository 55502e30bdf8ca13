// Loading a document in chunks gives the same elements as loading it whole,
// wherever the chunks are cut.
#include <string>

#include "gtest/gtest.h"
#include "html/display_element.h"
#include "html/element_description.h"
#include "html/html_document_builder.h"
#include "tests/html/html_test_util.h"

namespace quill {
namespace html {
namespace {

using namespace std::string_literals;

// The document cut once at `cut`, the parts loaded one after the other.
std::string BuildSplit(std::u16string_view doc, size_t cut) {
  HtmlDocumentBuilder builder;
  ElementList elements;
  builder.LoadDocument(doc.substr(0, cut), &elements);
  builder.AppendChunk(doc.substr(cut), &elements);
  builder.FinishDocument(&elements);
  return DescribeElements(elements);
}

const char16_t kMixed[] =
    u"<!DOCTYPE html><html><head><style>p{color:red}</style><script>if(a<b)x='</p>'</script>"
    u"</head><body>你好，世界 &amp; &#x1F600; \U0001F600 tail<br/>"
    u"<font color=\"#102030\" size=3 face='宋体'>彩色<font size=2>小</font></font>"
    u"<a href=\"http://example.com/?q=1&amp;r=2\">链接<b>粗</b></a>"
    u"<img src='cid:abc' width=40 height=\"30\"><img src=x/> <hr>"
    u"<!-- 注释 -- - --->after comment\r\nline two\nline three"
    u"<p>para</p><li>item</li></table><div>d</div> a > b &lt; c &LT; d<";

TEST(HtmlChunkingTest, EverySplitPointGivesTheSameElements) {
  const std::u16string doc = kMixed;
  const std::string whole = BuildSplit(doc, doc.size());
  ASSERT_NE(whole.find("\xF0\x9F\x98\x80 tail"), std::string::npos) << whole;
  for (size_t cut = 0; cut <= doc.size(); ++cut) {
    ASSERT_EQ(BuildSplit(doc, cut), whole) << "cut at " << cut;
  }
}

TEST(HtmlChunkingTest, EveryChunkSizeGivesTheSameElements) {
  const std::u16string doc = kMixed;
  const std::string whole = BuildSplit(doc, doc.size());
  for (size_t chunk = 1; chunk <= doc.size(); ++chunk) {
    ASSERT_EQ(BuildChunked(doc, chunk), whole) << "chunk " << chunk;
  }
}

TEST(HtmlChunkingTest, ASurrogatePairCutByAChunkEndStaysOneCharacter) {
  const std::u16string doc = u"a\U0001F600b";  // a, high, low, b
  EXPECT_EQ(BuildSplit(doc, 2), "T\"a\xF0\x9F\x98\x80" "b\"");
  // A lone high surrogate at the very end is one replacement character.
  EXPECT_EQ(BuildSplit(u"x\xD83D", 2), "T\"x\xEF\xBF\xBD\"");
}

TEST(HtmlChunkingTest, NulsLoneSurrogatesAndRunsAtChunkEnds) {
  // Runs of CJK, ASCII and surrogates that chunks end inside and right after,
  // NULs in text and in a value, lone surrogates of both kinds, "<" before a
  // cut.
  const std::u16string doc =
      u"中文\0x<b>粗\xD83D</b>\xDE00<\0<a href=\"\0\xD800\">\U0001F600\U0001F600é</a>"s;
  const std::string whole = BuildSplit(doc, doc.size());
  EXPECT_EQ(whole,
            "T\"\xE4\xB8\xAD\xE6\x96\x87\0x\" T\"\xE7\xB2\x97\xEF\xBF\xBD\"{b} "
            "T\"\xEF\xBF\xBD\" T\"<\0\" L<\0\xEF\xBF\xBD>\"\xF0\x9F\x98\x80\xF0\x9F\x98\x80\xC3\xA9\"{u}"s);
  for (size_t chunk = 1; chunk <= doc.size(); ++chunk) {
    ASSERT_EQ(BuildChunked(doc, chunk), whole) << "chunk " << chunk;
  }
}

TEST(HtmlChunkingTest, LoaderSizedChunksOfALargeBody) {
  std::u16string doc;
  for (int i = 0; i < 300; ++i) {
    doc += u"<p>段落 " + std::u16string(1, static_cast<char16_t>(u'a' + i % 26)) +
           u" <a href=\"u" + std::u16string(1, static_cast<char16_t>(u'0' + i % 10)) +
           u"\">\U0001F600链接</a></p>";
  }
  EXPECT_EQ(BuildChunked(doc, 512), BuildSplit(doc, doc.size()));
  EXPECT_EQ(BuildChunked(doc, 511), BuildSplit(doc, doc.size()));
}

}  // namespace
}  // namespace html
}  // namespace quill
