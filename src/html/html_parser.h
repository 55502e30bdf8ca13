// Drives the tokenizer and turns its tokens into calls on a content handler.
// The only structure kept is the most recent start tag and the attribute
// whose value comes next. A copyable value that lives in its handler, so that
// parsing resumes with the next chunk. Not thread-safe.
#ifndef QUILL_HTML_HTML_PARSER_H_
#define QUILL_HTML_HTML_PARSER_H_

#include <string>
#include <string_view>

#include "html/html_content_handler.h"
#include "html/html_tokenizer.h"

namespace quill {
namespace html {

class HtmlParser {
 public:
  // Starts a new document.
  void Reset() { *this = HtmlParser(); }
  // Parses the next chunk of the document (UTF-8, any length, NULs allowed).
  void Parse(std::string_view chunk, HtmlContentHandler* handler);
  // Delivers the character data left at the end of the document.
  void Finish(HtmlContentHandler* handler);

 private:
  void Dispatch(HtmlContentHandler* handler);

  HtmlTokenizer tokenizer_;     // byte state, carried between chunks
  std::string tag_;             // most recent start tag; emptied by an end tag or "/>"
  std::string attribute_;       // attribute whose value comes next
  bool start_tag_open_ = false; // between a start-tag name and its ">"
  std::string value_;           // scratch for decoded attribute values
};

}  // namespace html
}  // namespace quill

#endif  // QUILL_HTML_HTML_PARSER_H_
