// Numbers, colours, references and name tests.
#include <string>

#include "gtest/gtest.h"
#include "html/display_element.h"
#include "html/html_entities.h"
#include "html/html_names.h"
#include "html/html_number.h"

namespace quill {
namespace html {
namespace {

TEST(HtmlNumberTest, DecimalHexAndRejects) {
  struct Case {
    const char* text;
    bool accepted;
    int32_t value;
  };
  const Case cases[] = {
      {"12", true, 12},          {"  7px", true, 7},       {"-3", true, -3},
      {"+4", true, 4},           {"", true, 0},            {"000", true, 0},
      {"#1A", true, 26},         {"a#ff", true, 255},      {"#000000", true, 0},
      {"#0x10", true, 16},       {"x", false, 0},          {"0x10", false, 0},
      {"2147483647", false, 0},  {"99999999999", false, 0}, {"-2147483648", false, 0},
      {"2147483646", true, 2147483646}, {"#", true, 0},    {"#zz", false, 0},
  };
  for (const Case& c : cases) {
    int32_t value = -99;
    EXPECT_EQ(ParseHtmlNumber(c.text, &value), c.accepted) << c.text;
    if (c.accepted) {
      EXPECT_EQ(value, c.value) << c.text;
    }
  }
}

TEST(HtmlNumberTest, ColoursBecomeColorref) {
  EXPECT_EQ(ParseHtmlColour("#FF0000"), 0x000000FFu);
  EXPECT_EQ(ParseHtmlColour("#123456"), 0x00563412u);
  EXPECT_EQ(ParseHtmlColour("#000000"), 0u);
  EXPECT_EQ(ParseHtmlColour("red"), kNoColour);
  EXPECT_EQ(ParseHtmlColour("#gg0000"), kNoColour);
}

std::string Decode(std::string_view in, LineEnds ends) {
  std::string out = ">";
  DecodeReferences(in, ends, &out);
  return out;
}

TEST(HtmlEntitiesTest, OnePassDecoding) {
  EXPECT_EQ(Decode("&amp;lt;&lt&gt;&nbsp;&bull;&Amp;", LineEnds::kKeep), ">&lt;&lt> *&Amp;");
  EXPECT_EQ(Decode("a\r\nb\nc\rd\r\r", LineEnds::kToSpace), ">a b c d  ");
  EXPECT_EQ(Decode("a\r\nb", LineEnds::kKeep), ">a\r\nb");
  EXPECT_EQ(Decode("&#x41&#66;&#x10FFFF;", LineEnds::kKeep), ">AB\xF4\x8F\xBF\xBF");
  EXPECT_EQ(Decode("&#xDFFF;&#99999999999999;&#0000;", LineEnds::kKeep),
            ">\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_EQ(Decode("&#xg; & &&", LineEnds::kKeep), ">&#xg; & &&");
}

TEST(HtmlNamesTest, ExactAndPrefixTests) {
  EXPECT_TRUE(NameIs("href", "HREF"));
  EXPECT_FALSE(NameIs("hreflang", "HREF"));
  EXPECT_FALSE(NameIs("srcset", "SRC"));
  EXPECT_TRUE(NameBegins("Font", "FONT"));
  EXPECT_FALSE(NameBegins("FON", "FONT"));
  EXPECT_EQ(BlockEndBreaks("li"), 2);
  EXPECT_EQ(BlockEndBreaks("P"), 1);
  EXPECT_EQ(BlockEndBreaks("span"), 0);
  EXPECT_TRUE(IsBlank(" \t\r\n"));
  EXPECT_FALSE(IsBlank(std::string_view("\0", 1)));
}

}  // namespace
}  // namespace html
}  // namespace quill
