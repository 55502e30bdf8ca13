// Hostile bodies finish with bounded state: nesting, element counts and token
// sizes are capped, and malformed input still gives sensible elements.
#include <string>

#include "gtest/gtest.h"
#include "html/display_element.h"
#include "html/element_description.h"
#include "html/html_document_builder.h"
#include "html/html_text_extractor.h"
#include "html/plain_text_loader.h"
#include "tests/html/html_test_util.h"

namespace quill {
namespace html {
namespace {

using namespace std::string_literals;

std::string Repeat(std::string_view s, size_t n) {
  std::string out;
  out.reserve(s.size() * n);
  for (size_t i = 0; i < n; ++i) out.append(s);
  return out;
}

TEST(HtmlPathologicalTest, AMillionNestedFontTagsStillBalance) {
  const size_t n = 1000000;
  const std::string doc = "<font color=#0000FF>blue" + Repeat("<font size=2>", n) + "deep" +
                          Repeat("</font>", n) + "again</font>plain";
  EXPECT_EQ(Build(doc), "T\"blue\"{c=0x00FF0000} T\"deep\"{size=2} T\"again\"{c=0x00FF0000} T\"plain\"");
}

TEST(HtmlPathologicalTest, ElementsPerDocumentAreCapped) {
  HtmlDocumentBuilder builder;
  ElementList elements;
  builder.LoadDocumentUtf8(Repeat("<br>", kMaxDocumentElements + 5), &elements);
  builder.AppendChunkUtf8("x", &elements);
  builder.FinishDocument(&elements);
  EXPECT_EQ(elements.size(), kMaxDocumentElements);
  EXPECT_EQ(builder.dropped_elements(), 6u);

  PlainTextLoader loader;
  ElementList lines;
  loader.Append(std::u16string(kMaxDocumentElements + 1, u'\n'), &lines);
  loader.Finish(&lines);
  EXPECT_EQ(lines.size(), kMaxDocumentElements);
  EXPECT_EQ(loader.dropped_elements(), 1u);
}

TEST(HtmlPathologicalTest, ATenMegabyteAttributeIsDropped) {
  const std::string huge(10 << 20, 'h');
  EXPECT_EQ(Build("<a href=\"" + huge + "\">t</a>u"), "T\"t\" T\"u\"");
  EXPECT_EQ(Build("<img src=" + huge + " width=5>x"), "I< 5x-1> T\"x\"");
  // Character data is not markup: a long run arrives whole.
  EXPECT_EQ(Build("<b>" + huge + "</b>").size(), huge.size() + 6);
}

TEST(HtmlPathologicalTest, UnterminatedMarkupSwallowsTheRest) {
  EXPECT_EQ(Build("a<!-- never closed <b>x</b>" + std::string(1 << 20, '-')), "T\"a\"");
  EXPECT_EQ(Build("a<a href=\"open <b>x</b>" + std::string(1 << 20, 'q')), "T\"a\"");
  EXPECT_EQ(Build("a<img src='open"), "T\"a\"");
  EXPECT_EQ(Build("a<script>" + std::string(1 << 20, '<')), "T\"a\"");
  EXPECT_EQ(Build("a<"), "T\"a\" T\"<\"");
}

TEST(HtmlPathologicalTest, NulAndBrokenUtf8) {
  const std::string nul_doc = "<b>\0</b>\0<a href=\"x\0y\">\0z</a>"s;
  EXPECT_EQ(Build(nul_doc), "T\"\0\"{b} T\"\0\" L<x\0y>\"\0z\"{u}"s);
  EXPECT_EQ(Build("\xFF\xC0\x80<b>\xE4\xBD</b>\xED\xA0\x80"),
            "T\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\" T\"\xEF\xBF\xBD\"{b} "
            "T\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\"");
  EXPECT_EQ(HtmlToText(u"a\0b<br>c"s), u"a\0b\r\nc"s);
}

}  // namespace
}  // namespace html
}  // namespace quill
