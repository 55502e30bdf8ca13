#include "html/line_breaks.h"

#include "platform/utf.h"

namespace quill {
namespace html {

bool IsClosingPunctuation(char16_t c) {
  switch (c) {
    case u'!': case u')': case u',': case u'.': case u':': case u';': case u'?':
    case u']': case u'}':
    case u'\u2019':  // ’
    case u'\u201D':  // ”
    case u'\u2025':  // ‥
    case u'\u2026':  // …
    case u'\u3001':  // 、
    case u'\u3002':  // 。
    case u'\u3009':  // 〉
    case u'\u300B':  // 》
    case u'\u300D':  // 」
    case u'\u300F':  // 』
    case u'\u3011':  // 】
    case u'\u3015':  // 〕
    case u'\u3017':  // 〗
    case u'\u3019':  // 〙
    case u'\u301B':  // 〛
    case u'\u301E':  // 〞
    case u'\u301F':  // 〟
    case u'\uFE50':  // ﹐ (small forms)
    case u'\uFE51':  // ﹑
    case u'\uFE52':  // ﹒
    case u'\uFE54':  // ﹔
    case u'\uFE55':  // ﹕
    case u'\uFE56':  // ﹖
    case u'\uFE57':  // ﹗
    case u'\uFF01':  // ！
    case u'\uFF09':  // ）
    case u'\uFF0C':  // ，
    case u'\uFF0E':  // ．
    case u'\uFF1A':  // ：
    case u'\uFF1B':  // ；
    case u'\uFF1F':  // ？
    case u'\uFF3D':  // ］
    case u'\uFF5D':  // ｝
    case u'\uFF60':  // ｠
    case u'\uFF61':  // ｡
    case u'\uFF63':  // ｣
    case u'\uFF64':  // ､
      return true;
    default:
      return false;
  }
}

bool InsidePair(std::u16string_view text, size_t at) {
  return at > 0 && at < text.size() && IsLowSurrogate(text[at]) && IsHighSurrogate(text[at - 1]);
}

size_t BreakBeforeClosing(std::u16string_view text, size_t begin, size_t taken) {
  for (size_t t = taken; t >= 1; --t) {
    const size_t at = begin + t;
    if (!IsClosingPunctuation(text[at]) && !InsidePair(text, at)) return t;
  }
  return 0;
}

}  // namespace html
}  // namespace quill
