#include "html/html_tokenizer.h"

#include <string>

#include "gtest/gtest.h"

namespace quill {
namespace html {
namespace {

// Every token of `doc` as kind[text], in order, the end-of-document text included.
std::string Tokens(std::string_view doc, size_t chunk = 0) {
  HtmlTokenizer tokenizer;
  std::string out;
  auto add = [&] {
    if (!out.empty()) out += ' ';
    out += std::to_string(static_cast<int>(tokenizer.kind()));
    out += '[';
    out += tokenizer.text();
    out += ']';
  };
  if (chunk == 0) chunk = doc.size() + 1;
  for (size_t start = 0; start < doc.size(); start += chunk) {
    const std::string_view piece = doc.substr(start, chunk);
    size_t pos = 0;
    while (tokenizer.NextToken(piece.data(), piece.size(), &pos)) add();
    EXPECT_EQ(pos, piece.size());
  }
  if (tokenizer.Finish()) add();
  return out;
}

TEST(HtmlTokenizerTest, TagsAndText) {
  EXPECT_EQ(Tokens("a<b>c</b>"), "6[a] 0[<] 1[b] 0[>] 6[c] 0[</] 2[b] 0[>]");
  EXPECT_EQ(Tokens("a>b<br>"), "6[a>b] 0[<] 1[br] 0[>]");
  EXPECT_EQ(Tokens("a < b"), "6[a ] 6[< b]");
  EXPECT_EQ(Tokens("x<"), "6[x] 6[<]");
  EXPECT_EQ(Tokens("no tag at all"), "6[no tag at all]");
}

TEST(HtmlTokenizerTest, Attributes) {
  EXPECT_EQ(Tokens("<a href=\"x\" title='y'>"),
            "0[<] 1[a] 7[ ] 4[href] 7[=] 5[\"x\"] 4[] 7[ ] 4[title] 7[=] 5['y'] 0[>]");
  EXPECT_EQ(Tokens("<img src=x/>"), "0[<] 1[img] 7[ ] 4[src] 7[=] 5[x/] 0[>]");
  EXPECT_EQ(Tokens("<img src = \"a b\" >"),
            "0[<] 1[img] 7[ ] 4[src] 7[ ] 7[= ] 5[\"a b\"] 4[] 7[ ] 0[>]");
  EXPECT_EQ(Tokens("<a href=>"), "0[<] 1[a] 7[ ] 4[href] 7[=] 5[] 0[>]");
  EXPECT_EQ(Tokens("<td x=1 y=2>"),
            "0[<] 1[td] 7[ ] 4[x] 7[=] 5[1] 7[ ] 4[y] 7[=] 5[2] 0[>]");
}

TEST(HtmlTokenizerTest, SelfClosingAndValuelessAttributes) {
  EXPECT_EQ(Tokens("<br/>"), "0[<] 1[br] 7[] 0[/>]");
  // A valueless attribute right before "/>" keeps the self-closing end.
  EXPECT_EQ(Tokens("<input checked/>"), "0[<] 1[input] 7[ ] 4[checked] 0[/>]");
  EXPECT_EQ(Tokens("<input a b>"), "0[<] 1[input] 7[ ] 4[a] 7[ ] 4[b] 0[>]");
  // A "/" not followed by ">" is only a separator.
  EXPECT_EQ(Tokens("<a / b=1>"), "0[<] 1[a] 7[ ] 7[/] 7[ ] 4[b] 7[=] 5[1] 0[>]");
}

TEST(HtmlTokenizerTest, EndTags) {
  EXPECT_EQ(Tokens("</b >"), "0[</] 2[b] 7[ ] 0[>]");
  EXPECT_EQ(Tokens("</b\tx>"), "0[</] 2[b\tx] 0[>]");  // tab does not end the name
  EXPECT_EQ(Tokens("</>"), "0[</] 2[] 0[>]");
}

TEST(HtmlTokenizerTest, CommentsAndDeclarations) {
  EXPECT_EQ(Tokens("<!-- x -->y<"), "0[<!] 3[-- x -->] 6[y] 6[<]");
  EXPECT_EQ(Tokens("<!--a--->"), "0[<!] 3[--a--->]");
  EXPECT_EQ(Tokens("<!-- a > b -->c"), "0[<!] 3[-- a > b -->] 6[c]");
  EXPECT_EQ(Tokens("<!DOCTYPE html>t"), "0[<!] 0[DOCTYPE html>] 6[t]");
  EXPECT_EQ(Tokens("<!>t"), "0[<!] 0[>] 6[t]");
}

TEST(HtmlTokenizerTest, BreakersCutNames) {
  // A start-tag name cut by a breaker continues as text without its "<".
  EXPECT_EQ(Tokens("<a,b>"), "0[<] 6[a,b>]");
  // An attribute name cut by a breaker makes the rest of the tag skipped markup.
  EXPECT_EQ(Tokens("<a href(x)>t"), "0[<] 1[a] 7[ ] 0[href(x)>] 6[t]");
  EXPECT_EQ(Tokens("<a b +c>t"), "0[<] 1[a] 7[ ] 4[b] 0[ +c>] 6[t]");
}

TEST(HtmlTokenizerTest, ScriptAndStyleContentIsSkipped) {
  EXPECT_EQ(Tokens("<script>if (a<b) x=\"</p>\";</script>t"),
            "0[<] 1[script] 0[>] 2[script] 0[>] 6[t]");
  EXPECT_EQ(Tokens("<STYLE type=x>p{}</StYlE >t"),
            "0[<] 1[STYLE] 7[ ] 4[type] 7[=] 5[x] 0[>] 2[style] 7[ ] 0[>] 6[t]");
  EXPECT_EQ(Tokens("<script><</</script>t"), "0[<] 1[script] 0[>] 2[script] 0[>] 6[t]");
  // A self-closed script has no content.
  EXPECT_EQ(Tokens("<script/>t"), "0[<] 1[script] 7[] 0[/>] 6[t]");
  // Broken markup that ends a script start tag still opens its content.
  EXPECT_EQ(Tokens("<script a(b)>x</script>"), "0[<] 1[script] 7[ ] 0[a(b)>] 2[script] 0[>]");
}

TEST(HtmlTokenizerTest, NulIsAnOrdinaryByte) {
  const std::string doc("a\0b<i\0>c", 8);
  EXPECT_EQ(Tokens(doc), std::string("6[a\0b] 0[<] 1[i\0] 0[>] 6[c]", 27));
}

TEST(HtmlTokenizerTest, EveryChunkSizeGivesTheSameTokens) {
  const std::string doc =
      "<!DOCTYPE x><p class='a b' id=c>T&amp;x<!-- c - -- -->"
      "<script>a</scr</script><img src=\"q\"/>x < y > z</p ><a href=u,>q";
  const std::string whole = Tokens(doc);
  for (size_t chunk = 1; chunk <= doc.size(); ++chunk) {
    EXPECT_EQ(Tokens(doc, chunk), whole) << "chunk " << chunk;
  }
}

TEST(HtmlTokenizerTest, MarkupTokensAreCapped) {
  const std::string value(HtmlTokenizer::kMaxMarkupBytes + 10, 'v');
  const std::string doc = "<a href=\"" + value + "\">";
  HtmlTokenizer tokenizer;
  size_t pos = 0;
  bool saw_value = false;
  while (tokenizer.NextToken(doc.data(), doc.size(), &pos)) {
    if (tokenizer.kind() == TokenKind::kAttributeValue) {
      saw_value = true;
      EXPECT_TRUE(tokenizer.overflowed());
      EXPECT_EQ(tokenizer.text().size(), HtmlTokenizer::kMaxMarkupBytes);
    } else {
      EXPECT_FALSE(tokenizer.overflowed());
    }
  }
  EXPECT_TRUE(saw_value);
}

}  // namespace
}  // namespace html
}  // namespace quill
