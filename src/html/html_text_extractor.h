// Turns HTML into plain text for the clipboard: text runs with references
// decoded, "\r\n" for BR, HR and the block ends, a space between the cells
// of a table row, and each link's target once, in square brackets, after
// the link's text. Not thread-safe.
#ifndef QUILL_HTML_HTML_TEXT_EXTRACTOR_H_
#define QUILL_HTML_HTML_TEXT_EXTRACTOR_H_

#include <string>
#include <string_view>

#include "html/html_content_handler.h"
#include "html/html_parser.h"
#include "html/table_cells.h"

namespace quill {
namespace html {

class HtmlTextExtractor final : public HtmlContentHandler {
 public:
  // Parses the next chunk of the document (UTF-8).
  void Append(std::string_view chunk);
  // Ends the document and returns its text; the extractor is then empty again.
  std::u16string Finish();

 private:
  void StartTag(std::string_view name) override;
  void StartTagEnd(std::string_view /*name*/) override {}
  void EndTag(std::string_view name) override;
  void Attribute(std::string_view tag, std::string_view name, std::string_view value) override;
  void Text(std::string_view tag, std::string_view text) override;

  // Ends the open link: its target follows its text, when it had any.
  void CloseLink();

  HtmlParser parser_;          // tokenizer state and current tag, between chunks
  std::string link_target_;    // UTF-8 HREF of the open link; empty = no link
  bool link_has_text_ = false; // some text was written inside the open link
  TableCells cells_;           // the space between cells of a row
  std::string out_;            // the text so far, UTF-8
};

// The plain text of a whole HTML document.
std::u16string HtmlToText(std::u16string_view html);

}  // namespace html
}  // namespace quill

#endif  // QUILL_HTML_HTML_TEXT_EXTRACTOR_H_
