#include "html/html_document_builder.h"

#include <utility>

#include "html/font_request.h"
#include "html/html_entities.h"
#include "html/html_names.h"
#include "html/html_number.h"
#include "html/image_element.h"
#include "html/line_break_element.h"
#include "html/link_element.h"
#include "html/rule_element.h"
#include "html/text_element.h"
#include "platform/utf.h"

namespace quill {
namespace html {
void HtmlDocumentBuilder::Reset() { *this = HtmlDocumentBuilder(); }

void HtmlDocumentBuilder::LoadDocument(std::u16string_view chunk, ElementList* out) {
  Reset();
  AppendChunk(chunk, out);
}

void HtmlDocumentBuilder::AppendChunk(std::u16string_view chunk, ElementList* out) {
  out_ = out;
  Parse(chunk);
  out_ = nullptr;
}

void HtmlDocumentBuilder::LoadDocumentUtf8(std::string_view chunk, ElementList* out) {
  Reset();
  AppendChunkUtf8(chunk, out);
}

void HtmlDocumentBuilder::AppendChunkUtf8(std::string_view chunk, ElementList* out) {
  out_ = out;
  parser_.Parse(chunk, this);
  out_ = nullptr;
}

void HtmlDocumentBuilder::FinishDocument(ElementList* out) {
  out_ = out;
  if (pending_high_ != 0) {
    const char16_t lone = pending_high_;
    pending_high_ = 0;
    parser_.Parse(Utf16ToUtf8(std::u16string_view(&lone, 1)), this);
  }
  parser_.Finish(this);
  out_ = nullptr;
}

void HtmlDocumentBuilder::Parse(std::u16string_view chunk) {
  std::u16string joined;
  if (pending_high_ != 0 && !chunk.empty()) {
    joined.reserve(chunk.size() + 1);
    joined.push_back(pending_high_);
    joined.append(chunk);
    chunk = joined;
    pending_high_ = 0;
  }
  if (!chunk.empty() && IsHighSurrogate(chunk.back())) {
    pending_high_ = chunk.back();
    chunk.remove_suffix(1);
  }
  if (utf8_.size() < 3 * chunk.size()) utf8_.resize(3 * chunk.size());
  parser_.Parse(std::string_view(utf8_.data(), Utf16ToUtf8(chunk, utf8_.data())), this);
}

bool HtmlDocumentBuilder::HasRoom() {
  if (elements_made_ < kMaxDocumentElements) return true;
  if (dropped_ < UINT32_MAX) ++dropped_;
  return false;
}

void HtmlDocumentBuilder::Add(std::unique_ptr<DisplayElement> element) {
  ++elements_made_;
  out_->push_back(std::move(element));
}

void HtmlDocumentBuilder::StartTag(std::string_view name) {
  if (IsBoldTag(name)) ++bold_depth_;
  if (IsItalicTag(name)) ++italic_depth_;
  if (NameBegins(name, "FONT")) fonts_.Push();
  if (NameBegins(name, "BR") && HasRoom()) Add(std::make_unique<LineBreakElement>());
  if (NameBegins(name, "HR") && HasRoom()) Add(std::make_unique<RuleElement>());
  if (cells_.StartTag(name) && HasRoom()) {
    Add(std::make_unique<TextElement>(u" ", kNoColour, FontRequest()));
  }
  if (NameIs(name, "IMG")) {
    in_image_ = true;
    image_source_.clear();
    image_width_ = -1;
    image_height_ = -1;
  }
}

void HtmlDocumentBuilder::StartTagEnd(std::string_view name) {
  // An image needs no closing tag: it is made once, when its start tag ends.
  if (!in_image_ || !NameIs(name, "IMG")) return;
  in_image_ = false;
  if (HasRoom()) {
    Add(std::make_unique<ImageElement>(Utf8ToUtf16(image_source_), image_width_, image_height_));
  }
  image_source_.clear();
  image_width_ = -1;
  image_height_ = -1;
}

void HtmlDocumentBuilder::EndTag(std::string_view name) {
  if (NameIs(name, "A")) link_target_.clear();
  if (IsBoldTag(name) && bold_depth_ > 0) --bold_depth_;
  if (IsItalicTag(name) && italic_depth_ > 0) --italic_depth_;
  if (NameBegins(name, "FONT")) fonts_.Pop();
  cells_.EndTag(name);
  for (int i = BlockEndBreaks(name); i > 0 && HasRoom(); --i) {
    Add(std::make_unique<LineBreakElement>());
  }
}

void HtmlDocumentBuilder::Attribute(std::string_view tag, std::string_view name,
                                    std::string_view value) {
  if (NameIs(tag, "A")) {
    if (NameIs(name, "HREF")) link_target_.assign(value);
  } else if (NameBegins(tag, "FONT")) {
    FontRecord* top = fonts_.MutableTop();
    if (top == nullptr) return;
    if (NameIs(name, "FACE")) {
      top->face.assign(value);
    } else if (NameIs(name, "SIZE")) {
      if (!ParseHtmlNumber(value, &top->size)) top->size = -1;
    } else if (NameIs(name, "COLOR")) {
      top->colour = ParseHtmlColour(value);
    }
  } else if (NameIs(tag, "IMG") && in_image_) {
    if (NameIs(name, "SRC")) {
      image_source_.assign(value);
    } else if (NameIs(name, "WIDTH")) {
      if (!ParseHtmlNumber(value, &image_width_)) image_width_ = 0;
    } else if (NameIs(name, "HEIGHT")) {
      if (!ParseHtmlNumber(value, &image_height_)) image_height_ = 0;
    }
  }
}

void HtmlDocumentBuilder::Text(std::string_view /*tag*/, std::string_view text) {
  if (IsBlank(text) || !HasRoom()) return;
  scratch_.clear();
  DecodeReferences(text, LineEnds::kToSpace, &scratch_);
  const FontRecord& top = fonts_.Top();
  FontRequest font;
  font.face = Utf8ToUtf16(top.face);
  font.size = top.size;
  font.bold = bold_depth_ > 0;
  font.italic = italic_depth_ > 0;
  font.underline = !link_target_.empty();
  if (wide_.size() < scratch_.size()) wide_.resize(scratch_.size());
  std::u16string decoded(wide_.data(), Utf8ToUtf16(scratch_, wide_.data()));
  if (link_target_.empty()) {
    Add(std::make_unique<TextElement>(std::move(decoded), top.colour, std::move(font)));
  } else {
    Add(std::make_unique<LinkElement>(top.colour, Utf8ToUtf16(link_target_), std::move(decoded),
                                      std::move(font)));
  }
}

}  // namespace html
}  // namespace quill
