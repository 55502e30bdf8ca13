#include "html/html_tokenizer.h"

#include <cstring>

#include "html/html_names.h"
#include "platform/ascii.h"

namespace quill {
namespace html {
namespace {

enum State : uint8_t {
  kTextState = 0,
  kAfterLt = 1,
  kAfterBang = 2,
  kCommentBody = 3,
  kCommentDash = 4,
  kCommentDashes = 5,
  kEndTagName = 6,
  kStartTagName = 7,
  kInsideTag = 8,
  kAttrName = 9,
  kAfterAttrName = 10,
  kAfterEquals = 11,
  kValue = 12,
  kQuotedValue = 14,
  kAfterValue = 16,
  kTagEnd = 17,      // at the ">" or "/>" that closes a tag
  kBogus = 18,       // a declaration or broken markup, skipped up to ">"
  kRawText = 19,     // SCRIPT or STYLE content, skipped up to its end tag
};

enum CharClass : uint8_t { kSpace = 1, kLetter = 2, kBreaker = 4 };

struct ClassTable {
  uint8_t bits[256] = {};
  constexpr ClassTable() {
    bits[static_cast<uint8_t>('\t')] = kSpace;
    bits[static_cast<uint8_t>(' ')] = kSpace;
    bits[static_cast<uint8_t>('\n')] = kSpace;
    bits[static_cast<uint8_t>('\r')] = kSpace;
    for (int c = 'A'; c <= 'Z'; ++c) bits[c] = kLetter;
    for (int c = 'a'; c <= 'z'; ++c) bits[c] = kLetter;
    for (char c : {',', ';', '(', ')', '{', '}', '*', '+', '[', ']'}) {
      bits[static_cast<uint8_t>(c)] = kBreaker;
    }
  }
};
constexpr ClassTable kClasses;

bool IsSpace(uint8_t c) { return kClasses.bits[c] & kSpace; }
bool IsLetter(uint8_t c) { return kClasses.bits[c] & kLetter; }
bool IsBreaker(uint8_t c) { return kClasses.bits[c] & kBreaker; }

constexpr std::string_view kScriptEnd = "</script";
constexpr std::string_view kStyleEnd = "</style";


}  // namespace

void HtmlTokenizer::StartNextToken() {
  buffer_.clear();
  quote_count_ = 0;
  dash_count_ = 0;
  quote_ = 0;
  done_ = false;
  overflow_ = false;
}

void HtmlTokenizer::AppendMarkup(const char* bytes, size_t n) {
  const size_t room = buffer_.size() < kMaxMarkupBytes ? kMaxMarkupBytes - buffer_.size() : 0;
  if (n > room) {
    overflow_ = true;
    n = room;
  }
  buffer_.append(bytes, n);
}

void HtmlTokenizer::EndOfTag(bool self_closing) {
  raw_ = self_closing ? Raw::kNone : raw_pending_;
  raw_pending_ = Raw::kNone;
  raw_match_ = 0;
  state_ = raw_ == Raw::kNone ? kTextState : kRawText;
}

size_t HtmlTokenizer::SkipRawText(const char* data, size_t size) {
  const std::string_view end = raw_ == Raw::kScript ? kScriptEnd : kStyleEnd;
  size_t i = 0;
  while (i < size) {
    if (raw_match_ == 0) {
      const void* lt = std::memchr(data + i, '<', size - i);
      if (lt == nullptr) return size;
      i = static_cast<const char*>(lt) - data;
    }
    const char c = data[i++];
    if (AsciiLower(c) == end[raw_match_]) {
      if (++raw_match_ == end.size()) {
        // The end tag's name continues as an ordinary end-tag name.
        buffer_.assign(end.substr(2));
        raw_ = Raw::kNone;
        raw_match_ = 0;
        state_ = kEndTagName;
        return i;
      }
    } else {
      raw_match_ = c == '<' ? 1 : 0;
    }
  }
  return i;
}

bool HtmlTokenizer::NextToken(const char* data, size_t size, size_t* pos) {
  if (done_) StartNextToken();
  size_t i = *pos;
  while (i < size && !done_) {
    const uint8_t c = static_cast<uint8_t>(data[i]);
    switch (state_) {
      case kTextState: {
        if (c == '<') {
          ++i;
          state_ = kAfterLt;
          if (!buffer_.empty()) Emit(TokenKind::kText);
          break;
        }
        // A bare ">" is text like any other byte.
        const void* lt = std::memchr(data + i, '<', size - i);
        const size_t end = lt == nullptr ? size : static_cast<const char*>(lt) - data;
        buffer_.append(data + i, end - i);
        kind_ = TokenKind::kText;
        i = end;
        break;
      }
      case kAfterLt:
        if (c == '/') {
          ++i;
          buffer_ = "</";
          state_ = kEndTagName;
          Emit(TokenKind::kDelimiter);
        } else if (c == '!') {
          ++i;
          buffer_ = "<!";
          state_ = kAfterBang;
          Emit(TokenKind::kDelimiter);
        } else if (IsLetter(c)) {
          buffer_ = "<";
          state_ = kStartTagName;
          Emit(TokenKind::kDelimiter);
        } else {
          buffer_ = "<";  // the "<" becomes text
          kind_ = TokenKind::kText;
          state_ = kTextState;
        }
        break;
      case kAfterBang:
        ++i;
        AppendMarkup(static_cast<char>(c));
        if (c == '-') {
          if (++dash_count_ == 2) state_ = kCommentBody;
        } else if (c == '>') {
          state_ = kTextState;  // "<!>" or "<!->"
          Emit(TokenKind::kDelimiter);
        } else {
          state_ = kBogus;  // a declaration such as DOCTYPE
        }
        break;
      case kCommentBody: {
        const void* dash = std::memchr(data + i, '-', size - i);
        const size_t end = dash == nullptr ? size : static_cast<const char*>(dash) - data;
        AppendMarkup(data + i, end - i);
        i = end;
        if (i < size) {
          ++i;
          AppendMarkup('-');
          dash_count_ = 1;
          state_ = kCommentDash;
        }
        break;
      }
      case kCommentDash:
        ++i;
        AppendMarkup(static_cast<char>(c));
        state_ = c == '-' ? kCommentDashes : kCommentBody;
        break;
      case kCommentDashes:
        ++i;
        AppendMarkup(static_cast<char>(c));
        if (c == '>') {
          state_ = kTextState;
          Emit(TokenKind::kComment);
        } else if (c != '-') {
          state_ = kCommentBody;
        }
        break;
      case kEndTagName:
        if (c == '>' || c == '\n' || c == '\r' || c == ' ') {  // tab does not end the name
          state_ = kTagEnd;
          raw_pending_ = Raw::kNone;
          Emit(TokenKind::kEndTag);
        } else {
          ++i;
          AppendMarkup(static_cast<char>(c));
        }
        break;
      case kStartTagName:
        if (c == '>' || c == '/' || IsSpace(c)) {
          state_ = c == '>' ? kTagEnd : kInsideTag;
          raw_pending_ = NameIs(buffer_, "SCRIPT")  ? Raw::kScript
                         : NameIs(buffer_, "STYLE") ? Raw::kStyle
                                                    : Raw::kNone;
          Emit(TokenKind::kStartTag);
        } else if (IsBreaker(c)) {
          kind_ = TokenKind::kText;  // the partial name continues as text
          state_ = kTextState;
        } else {
          ++i;
          AppendMarkup(static_cast<char>(c));
        }
        break;
      case kInsideTag:
        if (c == '>' || c == '/') {
          state_ = kTagEnd;
          Emit(TokenKind::kIgnorable);
        } else if (IsLetter(c)) {
          state_ = kAttrName;
          Emit(TokenKind::kIgnorable);
        } else {
          ++i;
          AppendMarkup(static_cast<char>(c));
        }
        break;
      case kAttrName:
        if (c == '=') {
          state_ = kAfterEquals;
          Emit(TokenKind::kAttributeName);
        } else if (c == '>' || c == '/') {
          // A valueless attribute right before the end keeps the tag's end.
          state_ = kTagEnd;
          if (!buffer_.empty()) Emit(TokenKind::kAttributeName);
        } else if (IsSpace(c)) {
          state_ = kAfterAttrName;
          Emit(TokenKind::kAttributeName);
        } else if (IsBreaker(c)) {
          state_ = kBogus;
        } else {
          ++i;
          AppendMarkup(static_cast<char>(c));
        }
        break;
      case kAfterAttrName:
        if (c == '=') {
          state_ = kAfterEquals;
          Emit(TokenKind::kIgnorable);
        } else if (c == '>' || c == '/') {
          state_ = kTagEnd;
          Emit(TokenKind::kIgnorable);
        } else if (IsBreaker(c)) {
          state_ = kBogus;
        } else if (IsLetter(c)) {
          state_ = kAttrName;
          Emit(TokenKind::kIgnorable);
        } else {
          ++i;
          AppendMarkup(static_cast<char>(c));
        }
        break;
      case kAfterEquals:
        if (IsSpace(c) || c == '=') {
          ++i;
          AppendMarkup(static_cast<char>(c));
        } else {
          state_ = kValue;
          Emit(TokenKind::kIgnorable);
        }
        break;
      case kValue:
        if (IsSpace(c)) {
          if (buffer_.empty()) {
            ++i;  // skip
          } else {
            state_ = kAfterValue;
            Emit(TokenKind::kAttributeValue);
          }
        } else if (c == '>') {
          state_ = kTagEnd;
          Emit(TokenKind::kAttributeValue);
        } else if (c == '"' || c == '\'') {
          ++i;
          AppendMarkup(static_cast<char>(c));
          quote_ = static_cast<char>(c);
          quote_count_ = 1;
          state_ = kQuotedValue;
        } else {
          ++i;
          AppendMarkup(static_cast<char>(c));  // an unquoted value may hold "/"
        }
        break;
      case kQuotedValue: {
        const void* q = std::memchr(data + i, quote_, size - i);
        const size_t end = q == nullptr ? size : static_cast<const char*>(q) - data;
        AppendMarkup(data + i, end - i);
        i = end;
        if (i < size) {
          ++i;
          AppendMarkup(quote_);
          if (++quote_count_ % 2 == 0) {
            state_ = kAttrName;
            Emit(TokenKind::kAttributeValue);
          }
        }
        break;
      }
      case kAfterValue:
        if (c == '>' || c == '/') {
          state_ = kTagEnd;
          Emit(TokenKind::kIgnorable);
        } else if (IsLetter(c)) {
          state_ = kAttrName;
          Emit(TokenKind::kIgnorable);
        } else {
          ++i;
          AppendMarkup(static_cast<char>(c));
        }
        break;
      case kTagEnd:
        if (c == '>') {
          ++i;
          const bool self_closing = !buffer_.empty();
          AppendMarkup('>');
          EndOfTag(self_closing);
          Emit(TokenKind::kDelimiter);
        } else if (c == '/' && buffer_.empty()) {
          ++i;
          AppendMarkup('/');
        } else {
          // A "/" not followed by ">" is a separator inside the tag.
          state_ = kInsideTag;
          if (!buffer_.empty()) Emit(TokenKind::kIgnorable);
        }
        break;
      case kBogus: {
        const void* gt = std::memchr(data + i, '>', size - i);
        const size_t end = gt == nullptr ? size : static_cast<const char*>(gt) - data;
        AppendMarkup(data + i, end - i);
        i = end;
        if (i < size) {
          ++i;
          AppendMarkup('>');
          EndOfTag(false);
          Emit(TokenKind::kDelimiter);
        }
        break;
      }
      case kRawText:
        i += SkipRawText(data + i, size - i);
        break;
    }
  }
  *pos = i;
  return done_;
}

bool HtmlTokenizer::Finish() {
  if (done_) StartNextToken();
  if (state_ == kAfterLt) {
    buffer_ = "<";
    state_ = kTextState;
  } else if (state_ != kTextState || buffer_.empty()) {
    return false;
  }
  Emit(TokenKind::kText);
  return true;
}

}  // namespace html
}  // namespace quill
