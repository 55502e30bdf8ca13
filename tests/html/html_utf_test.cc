// The builder's conversions give exactly what the platform conversions give,
// within the room they are promised.
#include <cstdint>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "html/html_utf.h"
#include "platform/utf.h"

namespace quill {
namespace html {
namespace {

// Converted into room of exactly the promised size, so that a write beyond
// it is caught by the sanitizer build.
std::string Narrow(std::u16string_view utf16) {
  std::vector<char> room(3 * utf16.size() + 1);
  const size_t n = ToUtf8(utf16, room.data());
  EXPECT_LE(n, 3 * utf16.size());
  return std::string(room.data(), n);
}

std::u16string Widen(std::string_view utf8) {
  std::vector<char16_t> room(utf8.size() + 1);
  const size_t n = ToUtf16(utf8, room.data());
  EXPECT_LE(n, utf8.size());
  return std::u16string(room.data(), n);
}

class Lcg {
 public:
  uint32_t Below(uint32_t n) {
    state_ = state_ * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<uint32_t>(state_ >> 33) % n;
  }

 private:
  uint64_t state_ = 7;
};

TEST(HtmlUtfTest, EveryUnitAloneAndBetweenOthers) {
  for (uint32_t u = 0; u <= 0xFFFF; ++u) {
    const std::u16string alone(1, static_cast<char16_t>(u));
    ASSERT_EQ(Narrow(alone), Utf16ToUtf8(alone)) << u;
    const std::u16string between = u"a" + alone + u"\x4E2D";
    ASSERT_EQ(Narrow(between), Utf16ToUtf8(between)) << u;
  }
}

TEST(HtmlUtfTest, SurrogatesPairedAndLone) {
  const std::u16string cases[] = {
      u"\U0001F600",         u"x\xD83D",          u"\xDE00y",          u"\xDE00\xD83D",
      u"\xD83D\xD83D\xDE00", u"\xD83D\xDE00\xDE00", u"\xD83D" "a" "\xDE00", u"中\xD83D\xDE00文",
      u"\U0010FFFF\U00010000", std::u16string(u"\0\xD800\0", 3),
  };
  for (const std::u16string& c : cases) {
    EXPECT_EQ(Narrow(c), Utf16ToUtf8(c)) << Utf16ToUtf8(c);
  }
}

TEST(HtmlUtfTest, RandomUtf16) {
  const char16_t pool[] = {0, u'a', u'<', 0x7F, 0x80, 0x7FF, 0x800, 0x4E2D, 0xD7FF,
                           0xD800, 0xDBFF, 0xDC00, 0xDFFF, 0xE000, 0xFFFD, 0xFFFF};
  Lcg random;
  for (int round = 0; round < 20000; ++round) {
    std::u16string s(random.Below(12), u'\0');
    for (char16_t& u : s) u = pool[random.Below(sizeof(pool) / sizeof(pool[0]))];
    ASSERT_EQ(Narrow(s), Utf16ToUtf8(s)) << round;
  }
}

TEST(HtmlUtfTest, EveryLeadByteWithTelltaleFollowers) {
  const uint8_t followers[] = {0x00, 'a', 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF, 0xC0, 0xFF};
  for (uint32_t lead = 0; lead <= 0xFF; ++lead) {
    for (uint8_t b1 : followers) {
      for (uint8_t b2 : followers) {
        for (uint8_t b3 : followers) {
          const char bytes[] = {static_cast<char>(lead), static_cast<char>(b1),
                                static_cast<char>(b2), static_cast<char>(b3)};
          for (size_t n = 1; n <= 4; ++n) {
            const std::string_view s(bytes, n);
            ASSERT_EQ(Widen(s), Utf8ToUtf16(s)) << lead << " " << int{b1} << " " << int{b2};
          }
        }
      }
    }
  }
}

TEST(HtmlUtfTest, RandomUtf8) {
  const uint8_t pool[] = {0x00, 'a', '&', 0x7F, 0x80, 0x9F, 0xA0, 0xBF, 0xC0, 0xC2,
                          0xDF, 0xE0, 0xE4, 0xED, 0xEF, 0xF0, 0xF4, 0xF5, 0xFF};
  Lcg random;
  for (int round = 0; round < 20000; ++round) {
    std::string s(random.Below(16), '\0');
    for (char& b : s) b = static_cast<char>(pool[random.Below(sizeof(pool) / sizeof(pool[0]))]);
    ASSERT_EQ(Widen(s), Utf8ToUtf16(s)) << round;
  }
  const std::string text = "中文 text \xF0\x9F\x98\x80 混合 \xC3\xA9";
  EXPECT_EQ(Widen(text), Utf8ToUtf16(text));
}

}  // namespace
}  // namespace html
}  // namespace quill
