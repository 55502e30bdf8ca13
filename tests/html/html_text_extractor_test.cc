#include "html/html_text_extractor.h"

#include <string>

#include "gtest/gtest.h"

namespace quill {
namespace html {
namespace {

TEST(HtmlTextExtractorTest, LineEndsFromBreaksAndBlocks) {
  EXPECT_EQ(HtmlToText(u"a<br>b<hr>c<br/>d"), u"a\r\nb\r\nc\r\nd");
  EXPECT_EQ(HtmlToText(u"<div>a</div><p>b</p><table><tr><td>c</td></tr></table><li>d</li>"),
            u"a\r\nb\r\nc\r\n\r\nd\r\n\r\n");
}

TEST(HtmlTextExtractorTest, CellsOfARowAreSeparatedByASpace) {
  EXPECT_EQ(HtmlToText(u"<table><tr><td>姓名</td><td>电话</td></tr><tr><th>a</th><th>b</th>"
                       u"</tr></table>"),
            u"姓名 电话\r\na b\r\n\r\n");
}

TEST(HtmlTextExtractorTest, TextAndReferences) {
  // A lone LF, a lone CR and CR LF each become one space.
  EXPECT_EQ(HtmlToText(u"one\ntwo\r\nthree\rfour"), u"one two three four");
  EXPECT_EQ(HtmlToText(u"&lt;&gt;&amp;lt;&nbsp;&quot;&apos;&bull;&#x4E2D;&#0;&LT;"),
            u"<>&lt; \"'*中\xFFFD&LT;");
  EXPECT_EQ(HtmlToText(u"<style>x{}</style><script>y</script>z"), u"z");
  EXPECT_EQ(HtmlToText(u"no tags at all"), u"no tags at all");
  EXPECT_EQ(HtmlToText(u"x > y <b>中文</b> tail"), u"x > y 中文 tail");
}

TEST(HtmlTextExtractorTest, LinkTargetOncePerLink) {
  EXPECT_EQ(HtmlToText(u"<a href=\"http://x\">go <b>here</b></a>."), u"go here[http://x].");
  EXPECT_EQ(HtmlToText(u"<a href=u>a</a><a href=u>b</a>"), u"a[u]b[u]");
  // A link left open ends with the document; an empty link gives no target.
  EXPECT_EQ(HtmlToText(u"<a href=v>open"), u"open[v]");
  EXPECT_EQ(HtmlToText(u"<a href=w></a>x"), u"x");
  // A second HREF before the end tag closes the first link.
  EXPECT_EQ(HtmlToText(u"<a href=p>1<a href=q>2</a>"), u"1[p]2[q]");
}

TEST(HtmlTextExtractorTest, ChunkedAppendMatchesWhole) {
  const std::string doc = "<p>段落<a href='h'>链接</a> &amp; more</p>tail";
  HtmlTextExtractor whole;
  whole.Append(doc);
  const std::u16string expected = whole.Finish();
  for (size_t cut = 0; cut <= doc.size(); ++cut) {
    HtmlTextExtractor split;
    split.Append(doc.substr(0, cut));
    split.Append(doc.substr(cut));
    EXPECT_EQ(split.Finish(), expected) << cut;
  }
}

}  // namespace
}  // namespace html
}  // namespace quill
