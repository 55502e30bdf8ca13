#include "html/html_document_builder.h"

#include <string>

#include "gtest/gtest.h"
#include "html/image_element.h"
#include "html/link_element.h"
#include "html/text_element.h"
#include "tests/html/html_test_util.h"

namespace quill {
namespace html {
namespace {

TEST(HtmlBuilderTextTest, RunsAndStyles) {
  EXPECT_EQ(Build("<p>Hello <b>world</b></p>"), "T\"Hello \" T\"world\"{b} |");
  EXPECT_EQ(Build("<strong>s</strong><em>e</em><i>i</i>"), "T\"s\"{b} T\"e\"{i} T\"i\"{i}");
  // Only the blank runs between tags are dropped.
  EXPECT_EQ(Build("<b>a</b> <i>b</i>\r\n<u>c</u>"), "T\"a\"{b} T\"b\"{i} T\"c\"");
}

TEST(HtmlBuilderTextTest, BoldAndItalicCountOnlyTheirOwnTags) {
  // BR, BODY, IMG and INPUT start tags are not bold or italic openers.
  EXPECT_EQ(Build("<body><br><img src=a><input>x"), "| I<a -1x-1> T\"x\"");
  // A stray end tag does not push the depth below zero.
  EXPECT_EQ(Build("</b></b><b>x</b>y"), "T\"x\"{b} T\"y\"");
  EXPECT_EQ(Build("<b><b>x</b>y</b>z"), "T\"x\"{b} T\"y\"{b} T\"z\"");
}

TEST(HtmlBuilderTextTest, TextOutsideTagsIsShown) {
  EXPECT_EQ(Build("just text"), "T\"just text\"");
  EXPECT_EQ(Build("<b>x</b>tail"), "T\"x\"{b} T\"tail\"");
  EXPECT_EQ(Build("a > b"), "T\"a > b\"");
  EXPECT_EQ(Build("x>y<br>"), "T\"x>y\" |");
  EXPECT_EQ(Build("<3 love"), "T\"<3 love\"");
  EXPECT_EQ(Build("end <"), "T\"end \" T\"<\"");
  EXPECT_EQ(Build(""), "");
}

TEST(HtmlBuilderTextTest, LineEndsAndReferences) {
  EXPECT_EQ(Build("one\ntwo\r\nthree\rfour"), "T\"one two three four\"");
  EXPECT_EQ(Build("&lt;b&gt; &amp;lt; &LT; &nbsp;&quot;&apos;&bull;"),
            "T\"<b> &lt; &LT;  \\\"'*\"");
  EXPECT_EQ(Build("&#65;&#x4e2d;&#X4E2D;&#0;&#xD800;&#1114112;&#x110000;"),
            "T\"A中中\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\"");
  EXPECT_EQ(Build("&#128512;&#39 &#; &#x;"), "T\"\xF0\x9F\x98\x80' &#; &#x;\"");
  EXPECT_EQ(Build("&nbsp;"), "T\" \"");  // a blank test is made on the raw text
}

TEST(HtmlBuilderTextTest, ScriptAndStyleNeverShow) {
  EXPECT_EQ(Build("<style>p{color:red}</style><script>document.write(\"<b>x</b>\")</script>"
                  "shown"),
            "T\"shown\"");
  EXPECT_EQ(Build("<SCRIPT type=\"text/javascript\"><!-- a<b --></SCRIPT>x"), "T\"x\"");
  EXPECT_EQ(Build("<script>unterminated <p>never"), "");
}

TEST(HtmlBuilderTextTest, CommentsAndDeclarationsAreHidden) {
  EXPECT_EQ(Build("<!DOCTYPE html><html>x<!-- hidden -->y<!--a--->z"),
            "T\"x\" T\"y\" T\"z\"");
  EXPECT_EQ(Build("<!--[if mso]><b>o</b><![endif]-->v"), "T\"v\"");
}

TEST(HtmlBuilderTextTest, BrokenMarkupDegradesToText) {
  EXPECT_EQ(Build("<a,b>c"), "T\"a,b>c\"");
  EXPECT_EQ(Build("<a href(x)>t</a>"), "T\"t\"");
  const std::string with_nul("abc\0def<br>ghi", 14);
  EXPECT_EQ(Build(with_nul), std::string("T\"abc\0def\" | T\"ghi\"", 19));
}

TEST(HtmlBuilderBlockTest, BreaksAndRules) {
  EXPECT_EQ(Build("a<br>b<hr>c<br/>d"), "T\"a\" | T\"b\" - T\"c\" | T\"d\"");
  EXPECT_EQ(Build("<div>a</div><li>b</li><tr></tr></table><p>c</p></pre></label>"),
            "T\"a\" | T\"b\" | | | | T\"c\" | | |");
  EXPECT_EQ(Build("<p/>x"), "| T\"x\"");
  EXPECT_EQ(Build("</span></ul></td>"), "");
}

TEST(HtmlBuilderBlockTest, CellsOfARowAreSeparatedByASpace) {
  EXPECT_EQ(Build("<table><tr><td>a</td><td>b</td><th>c</th></tr><tr><td>d</td><TD>e</TD></tr>"
                  "</table>"),
            "T\"a\" T\" \" T\"b\" T\" \" T\"c\" | T\"d\" T\" \" T\"e\" | |");
  // A row without TR tags still separates its cells; THEAD and TDX are no cells.
  EXPECT_EQ(Build("<table><thead><td>x<td>y</table><td>z<tdx>w"),
            "T\"x\" T\" \" T\"y\" | T\"z\" T\"w\"");
  // Chunk ends between the cells change nothing.
  const std::u16string doc = u"<table><tr><td>甲</td><td>乙</td></tr></table>";
  for (size_t chunk = 1; chunk < doc.size(); ++chunk) {
    EXPECT_EQ(BuildChunked(doc, chunk), "T\"\xE7\x94\xB2\" T\" \" T\"\xE4\xB9\x99\" | |") << chunk;
  }
}

TEST(HtmlBuilderLinkTest, Links) {
  EXPECT_EQ(Build("<a href=\"http://x/?a=1&amp;b=2\">go</a> on"),
            "L<http://x/?a=1&b=2>\"go\"{u} T\" on\"");
  EXPECT_EQ(Build("<a href='single'>s</a>"), "L<single>\"s\"{u}");
  EXPECT_EQ(Build("<a href=bare>b<b>c</b></a>d"), "L<bare>\"b\"{u} L<bare>\"c\"{b u} T\"d\"");
  EXPECT_EQ(Build("<a href='it\"s'>q</a>"), "L<it\"s>\"q\"{u}");
  // Attribute names match exactly; tags too.
  EXPECT_EQ(Build("<a hreflang=\"en\" href=\"h\">t</a>"), "L<h>\"t\"{u}");
  EXPECT_EQ(Build("<a hreflang=\"en\">t</a>"), "T\"t\"");
  EXPECT_EQ(Build("<area href=x>t"), "T\"t\"");
  EXPECT_EQ(Build("<a href=x>t<abbr>u</abbr>v</a>w"),
            "L<x>\"t\"{u} L<x>\"u\"{u} L<x>\"v\"{u} T\"w\"");
  EXPECT_EQ(Build("<a name=top>anchor</a>"), "T\"anchor\"");
}

TEST(HtmlBuilderFontTest, FontRecords) {
  EXPECT_EQ(Build("<font color=\"#FF0000\" size=3 face=\"Arial\">red</font>after"),
            "T\"red\"{c=0x000000FF face=Arial size=3} T\"after\"");
  // Nested records do not inherit.
  EXPECT_EQ(Build("<font color=#00FF00>a<font size=2>b</font>c</font>d"),
            "T\"a\"{c=0x0000FF00} T\"b\"{size=2} T\"c\"{c=0x0000FF00} T\"d\"");
  EXPECT_EQ(Build("<font color=red>x</font>"), "T\"x\"");
  EXPECT_EQ(Build("<font color=\"#000000\">k</font>"), "T\"k\"{c=0x00000000}");
  EXPECT_EQ(Build("<font size=big>x</font>"), "T\"x\"");
  // The base record is never popped.
  EXPECT_EQ(Build("</font></font><font color=#0000FF>x</font>y"), "T\"x\"{c=0x00FF0000} T\"y\"");
  EXPECT_EQ(Build("<a href=h><font color=#010203>l</font></a>"), "L<h>\"l\"{c=0x00030201 u}");
}

TEST(HtmlBuilderImageTest, AnImageNeedsNoClosingTag) {
  EXPECT_EQ(Build("<img src=\"a.png\" width=10 height=\"20\">x"), "I<a.png 10x20> T\"x\"");
  EXPECT_EQ(Build("<img src=x/>"), "I<x/ -1x-1>");
  EXPECT_EQ(Build("<img src=\"y\"/>"), "I<y -1x-1>");
  EXPECT_EQ(Build("<img src=z></img>"), "I<z -1x-1>");
  EXPECT_EQ(Build("<img src='q' width=abc height=0>"), "I<q 0x0>");
  EXPECT_EQ(Build("<IMG SRC=\"cid:1&amp;2\">"), "I<cid:1&2 -1x-1>");
  // SRCSET is not SRC.
  EXPECT_EQ(Build("<img srcset=\"big\" src=\"small\">"), "I<small -1x-1>");
  EXPECT_EQ(Build("<img src=\"a\" srcset=\"big\">"), "I<a -1x-1>");
  // An image whose tag never ends is not made.
  EXPECT_EQ(Build("<img src=a"), "");
}

TEST(HtmlBuilderStateTest, ACopyContinuesTheSameDocument) {
  const std::u16string head = u"<font color=#112233><a href=x>li";
  const std::u16string tail = u"nk</a> <b>b</b></font>t";
  HtmlDocumentBuilder builder;
  ElementList first;
  builder.LoadDocument(head, &first);
  HtmlDocumentBuilder copy = builder;
  ElementList from_copy;
  copy.AppendChunk(tail, &from_copy);
  copy.FinishDocument(&from_copy);
  ElementList from_original;
  builder.AppendChunk(tail, &from_original);
  builder.FinishDocument(&from_original);
  EXPECT_EQ(DescribeElements(from_copy), DescribeElements(from_original));
  EXPECT_EQ(DescribeElements(from_copy),
            "L<x>\"link\"{c=0x00332211 u} T\"b\"{c=0x00332211 b} T\"t\"");
  EXPECT_TRUE(first.empty());
}

TEST(HtmlBuilderStateTest, LoadDocumentStartsAfresh) {
  HtmlDocumentBuilder builder;
  ElementList elements;
  builder.LoadDocument(u"<b><a href=x><font color=#0000FF><img src=", &elements);
  elements.clear();
  builder.LoadDocument(u"plain", &elements);
  builder.FinishDocument(&elements);
  EXPECT_EQ(DescribeElements(elements), "T\"plain\"");
}

TEST(HtmlBuilderStateTest, ElementsCarryTheirFields) {
  HtmlDocumentBuilder builder;
  ElementList elements;
  builder.LoadDocument(u"<a href=\"t\">x</a><img src=s width=3 height=4>y", &elements);
  builder.FinishDocument(&elements);
  ASSERT_EQ(elements.size(), 3u);
  EXPECT_TRUE(elements[0]->CanTakeFocus());
  EXPECT_TRUE(elements[1]->CanTakeFocus());
  EXPECT_FALSE(elements[2]->CanTakeFocus());
  const auto& link = static_cast<const LinkElement&>(*elements[0]);
  EXPECT_EQ(link.target(), u"t");
  EXPECT_EQ(link.text(), u"x");
  EXPECT_EQ(link.colour(), kNoColour);
  EXPECT_TRUE(link.font().underline);
  const auto& image = static_cast<const ImageElement&>(*elements[1]);
  EXPECT_EQ(image.source(), u"s");
  EXPECT_EQ(image.width(), 3);
  EXPECT_EQ(image.height(), 4);
  EXPECT_EQ(elements[1]->first_box(), -1);
  EXPECT_FALSE(elements[1]->focused());
  EXPECT_EQ(static_cast<const TextElement&>(*elements[2]).text(), u"y");
}

}  // namespace
}  // namespace html
}  // namespace quill
