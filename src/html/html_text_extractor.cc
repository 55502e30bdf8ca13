#include "html/html_text_extractor.h"

#include <utility>

#include "html/html_entities.h"
#include "html/html_names.h"
#include "platform/utf.h"

namespace quill {
namespace html {

void HtmlTextExtractor::Append(std::string_view chunk) { parser_.Parse(chunk, this); }

std::u16string HtmlTextExtractor::Finish() {
  parser_.Finish(this);
  CloseLink();
  std::u16string text = Utf8ToUtf16(out_);
  *this = HtmlTextExtractor();
  return text;
}

void HtmlTextExtractor::CloseLink() {
  if (link_has_text_) {
    out_ += '[';
    out_ += link_target_;
    out_ += ']';
  }
  link_target_.clear();
  link_has_text_ = false;
}

void HtmlTextExtractor::StartTag(std::string_view name) {
  if (NameBegins(name, "BR") || NameBegins(name, "HR")) out_ += "\r\n";
  if (cells_.StartTag(name)) out_ += ' ';
}

void HtmlTextExtractor::EndTag(std::string_view name) {
  if (NameIs(name, "A")) CloseLink();
  cells_.EndTag(name);
  for (int i = BlockEndBreaks(name); i > 0; --i) out_ += "\r\n";
}

void HtmlTextExtractor::Attribute(std::string_view tag, std::string_view name,
                                  std::string_view value) {
  if (NameIs(tag, "A") && NameIs(name, "HREF")) {
    CloseLink();
    link_target_.assign(value);
  }
}

void HtmlTextExtractor::Text(std::string_view /*tag*/, std::string_view text) {
  if (IsBlank(text)) return;
  DecodeReferences(text, LineEnds::kToSpace, &out_);
  if (!link_target_.empty()) link_has_text_ = true;
}

std::u16string HtmlToText(std::u16string_view html) {
  HtmlTextExtractor extractor;
  extractor.Append(Utf16ToUtf8(html));
  return extractor.Finish();
}

}  // namespace html
}  // namespace quill
