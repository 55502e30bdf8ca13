// Turns HTML into display elements (text, link, image, line break, rule).
//
// A document is fed as chunks: LoadDocument with the first, AppendChunk with
// each further one, FinishDocument at the end (it shows the text after the
// last tag). Any split of the same text gives the same elements; a surrogate
// pair cut by a chunk end is joined again. Elements are appended to the list
// passed with each call; a document yields at most kMaxDocumentElements.
//
// The builder is a copyable value holding the whole parse state, so a loader
// can work on a copy and hand it back. Not thread-safe.
#ifndef QUILL_HTML_HTML_DOCUMENT_BUILDER_H_
#define QUILL_HTML_HTML_DOCUMENT_BUILDER_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "html/display_element.h"
#include "html/font_stack.h"
#include "html/html_content_handler.h"
#include "html/html_parser.h"
#include "html/table_cells.h"

namespace quill {
namespace html {

class HtmlDocumentBuilder final : public HtmlContentHandler {
 public:
  HtmlDocumentBuilder() = default;
  HtmlDocumentBuilder(const HtmlDocumentBuilder&) = default;
  HtmlDocumentBuilder& operator=(const HtmlDocumentBuilder&) = default;

  // Resets the builder and parses the first chunk of a new document.
  void LoadDocument(std::u16string_view chunk, ElementList* out);
  // Parses the next chunk of the current document.
  void AppendChunk(std::u16string_view chunk, ElementList* out);
  // The same for documents already in UTF-8.
  void LoadDocumentUtf8(std::string_view chunk, ElementList* out);
  void AppendChunkUtf8(std::string_view chunk, ElementList* out);
  // Ends the document: delivers the pending text. Markup still open stays
  // open, so AppendChunk may continue the same document afterwards.
  void FinishDocument(ElementList* out);

  // Elements dropped because the document reached kMaxDocumentElements.
  uint32_t dropped_elements() const { return dropped_; }

 private:
  void Reset();
  void Parse(std::u16string_view chunk);

  void StartTag(std::string_view name) override;
  void StartTagEnd(std::string_view name) override;
  void EndTag(std::string_view name) override;
  void Attribute(std::string_view tag, std::string_view name, std::string_view value) override;
  void Text(std::string_view tag, std::string_view text) override;

  // False (and counts the drop) once the document holds the most elements.
  bool HasRoom();
  void Add(std::unique_ptr<DisplayElement> element);

  HtmlParser parser_;              // tokenizer state and current tag, between chunks
  int32_t bold_depth_ = 0;         // open B / STRONG tags, never below 0
  int32_t italic_depth_ = 0;       // open I / EM tags, never below 0
  std::string link_target_;        // UTF-8 HREF of the open link; empty = no link
  bool in_image_ = false;          // an IMG start tag is being read
  std::string image_source_;       // UTF-8 SRC of the IMG being read
  int32_t image_width_ = -1;       // WIDTH of that IMG; -1 = not given
  int32_t image_height_ = -1;      // HEIGHT of that IMG; -1 = not given
  FontStack fonts_;                // open FONT tags
  TableCells cells_;               // the space between cells of a row
  uint32_t elements_made_ = 0;     // elements of this document so far
  uint32_t dropped_ = 0;           // elements not made because of the cap
  char16_t pending_high_ = 0;      // high surrogate that ended the last chunk; 0 = none
  ElementList* out_ = nullptr;     // where the current call appends; not owned
  std::string scratch_;            // decoded text of the current run
  std::string utf8_;               // room for the current chunk as UTF-8
  std::u16string wide_;            // room for the current run as UTF-16
};

}  // namespace html
}  // namespace quill

#endif  // QUILL_HTML_HTML_DOCUMENT_BUILDER_H_
