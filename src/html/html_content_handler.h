// What the HTML parser tells a handler, in document order. Names and values
// are UTF-8 byte strings as they appear in the document (any case); the views
// are valid only during the call.
#ifndef QUILL_HTML_HTML_CONTENT_HANDLER_H_
#define QUILL_HTML_HTML_CONTENT_HANDLER_H_

#include <string_view>

namespace quill {
namespace html {

class HtmlContentHandler {
 public:
  virtual ~HtmlContentHandler() = default;

  // A start tag's name was read; its attributes follow.
  virtual void StartTag(std::string_view name) = 0;
  // The start tag `name` ended with ">" or "/>", after all its attributes.
  virtual void StartTagEnd(std::string_view name) = 0;
  // An end tag, or the "/>" of the most recent start tag.
  virtual void EndTag(std::string_view name) = 0;
  // An attribute of `tag`; `value` has its enclosing quotes removed and its
  // character references decoded.
  virtual void Attribute(std::string_view tag, std::string_view name, std::string_view value) = 0;
  // Character data after the start tag `tag` (empty after an end tag);
  // references are not decoded yet.
  virtual void Text(std::string_view tag, std::string_view text) = 0;

  // Raw token notifications, one per token kind; empty unless a handler
  // wants the token stream itself.
  virtual void OnStartTagToken(std::string_view /*name*/) {}
  virtual void OnEndTagToken(std::string_view /*name*/) {}
  virtual void OnAttributeNameToken(std::string_view /*name*/) {}
  virtual void OnAttributeValueToken(std::string_view /*value*/) {}
  virtual void OnIgnorableToken(std::string_view /*comment_or_separator*/) {}
  virtual void OnDelimiterToken(std::string_view /*delimiter*/) {}
  virtual void OnTextToken(std::string_view /*text*/) {}
};

}  // namespace html
}  // namespace quill

#endif  // QUILL_HTML_HTML_CONTENT_HANDLER_H_
