#include "html/plain_text_loader.h"

#include <memory>

#include "html/font_request.h"
#include "html/line_break_element.h"
#include "html/text_element.h"

namespace quill {
namespace html {
namespace {

bool IsTrimmed(char16_t c) { return c == u'\t' || c == u' ' || c == u'\r' || c == u'\n'; }

std::u16string_view Trim(std::u16string_view s) {
  while (!s.empty() && IsTrimmed(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsTrimmed(s.back())) s.remove_suffix(1);
  return s;
}

}  // namespace

bool PlainTextLoader::HasRoom() {
  if (elements_made_ < kMaxDocumentElements) return true;
  if (dropped_ < UINT32_MAX) ++dropped_;
  return false;
}

void PlainTextLoader::AddLine(std::u16string_view line, ElementList* out) {
  const std::u16string_view text = Trim(line);
  if (!text.empty() && HasRoom()) {
    ++elements_made_;
    out->push_back(std::make_unique<TextElement>(std::u16string(text), kNoColour, FontRequest()));
  }
}

void PlainTextLoader::Append(std::u16string_view chunk, ElementList* out) {
  size_t lf;
  while ((lf = chunk.find(u'\n')) != std::u16string_view::npos) {
    if (line_.empty()) {
      AddLine(chunk.substr(0, lf), out);
    } else {
      line_.append(chunk.substr(0, lf));
      AddLine(line_, out);
      line_.clear();
    }
    if (HasRoom()) {
      ++elements_made_;
      out->push_back(std::make_unique<LineBreakElement>());
    }
    chunk.remove_prefix(lf + 1);
  }
  line_.append(chunk);
}

void PlainTextLoader::Finish(ElementList* out) {
  AddLine(line_, out);
  line_.clear();
}

void LoadPlainText(std::u16string_view text, ElementList* out) {
  PlainTextLoader loader;
  loader.Append(text, out);
  loader.Finish(out);
}

}  // namespace html
}  // namespace quill
