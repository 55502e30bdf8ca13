// A forgiving, resumable HTML tokenizer: a byte state machine over UTF-8 that
// never reports an error. Multi-byte sequences pass through untouched; every
// test is on ASCII bytes, and bytes are taken with explicit lengths, so a NUL
// is an ordinary byte.
//
// Feed a document as any number of chunks: a token cut by a chunk end is kept
// and completed by the next chunk, so every split of the same bytes yields the
// same tokens. Call Finish() at the end of the document for the character
// data still pending. The whole state is a copyable value. Not thread-safe.
//
// SCRIPT and STYLE content is skipped up to the matching end tag and yields no
// token. Token texts other than character data are capped at kMaxMarkupBytes;
// overflowed() tells that the rest of the token was dropped.
#ifndef QUILL_HTML_HTML_TOKENIZER_H_
#define QUILL_HTML_HTML_TOKENIZER_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace quill {
namespace html {

enum class TokenKind : uint8_t {
  kDelimiter = 0,       // "<", "</", "<!", or a tag's closing ">" / "/>"; also a declaration
  kStartTag = 1,        // start-tag name, without "<"
  kEndTag = 2,          // end-tag name, without "</"
  kComment = 3,         // complete comment, from the first dash to the closing ">"
  kAttributeName = 4,   // attribute name
  kAttributeValue = 5,  // attribute value, quotes included
  kText = 6,            // character data, references not yet decoded
  kIgnorable = 7,       // whitespace, "=" and separators inside a tag
};

class HtmlTokenizer {
 public:
  // Longest kept text of a token other than character data.
  static constexpr size_t kMaxMarkupBytes = 64 * 1024;

  HtmlTokenizer() = default;

  // Starts a new document.
  void Reset() { *this = HtmlTokenizer(); }

  // Reads data[*pos, size) until a token is complete: returns true with the
  // token in kind() and text() and *pos after the bytes it used. Returns false
  // with *pos == size when the bytes run out; an unfinished token is kept.
  bool NextToken(const char* data, size_t size, size_t* pos);

  // At the end of the document: returns true with the pending character data
  // (a lone trailing "<" included) as a kText token, false when there is none.
  // Markup left open stays open, so the document can still be continued.
  bool Finish();

  TokenKind kind() const { return kind_; }
  std::string_view text() const { return buffer_; }
  bool overflowed() const { return overflow_; }

 private:
  enum class Raw : uint8_t { kNone, kScript, kStyle };

  void StartNextToken();
  void Emit(TokenKind kind) {
    kind_ = kind;
    done_ = true;
  }
  // Appends markup bytes, dropping those beyond kMaxMarkupBytes. The one-byte
  // form is inline: names and unquoted values grow a byte at a time.
  void AppendMarkup(const char* bytes, size_t n);
  void AppendMarkup(char c) {
    if (buffer_.size() < kMaxMarkupBytes) {
      buffer_.push_back(c);
    } else {
      overflow_ = true;
    }
  }
  // The ">" that ends a tag: back to text, or into SCRIPT / STYLE content.
  void EndOfTag(bool self_closing);
  // One step of SCRIPT / STYLE content; returns the bytes used.
  size_t SkipRawText(const char* data, size_t size);

  uint8_t state_ = 0;            // 0-19: 0-16 the classic states, 17 tag end, 18 bogus markup, 19 raw text
  std::string buffer_;           // text of the token being built
  uint32_t quote_count_ = 0;     // quotes seen in a quoted value
  uint32_t dash_count_ = 0;      // dashes seen after "<!"
  char quote_ = 0;               // the quote that opened the value
  bool done_ = false;            // the token in buffer_ is complete
  bool overflow_ = false;        // buffer_ lost bytes to the cap
  TokenKind kind_ = TokenKind::kText;  // kind of the token in buffer_
  Raw raw_pending_ = Raw::kNone;  // the open start tag is SCRIPT or STYLE
  Raw raw_ = Raw::kNone;          // inside SCRIPT or STYLE content
  uint32_t raw_match_ = 0;        // bytes of "</script" or "</style" matched so far
};

}  // namespace html
}  // namespace quill

#endif  // QUILL_HTML_HTML_TOKENIZER_H_
