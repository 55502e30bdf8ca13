#include "html/element_description.h"

#include <cstdio>

#include "html/font_request.h"
#include "html/image_element.h"
#include "html/link_element.h"
#include "html/text_element.h"
#include "platform/utf.h"

namespace quill {
namespace html {
namespace {

void AppendQuoted(const std::u16string& text, std::string* out) {
  out->push_back('"');
  for (char c : Utf16ToUtf8(text)) {
    switch (c) {
      case '\n': *out += "\\n"; break;
      case '\r': *out += "\\r"; break;
      case '\t': *out += "\\t"; break;
      case '\\': *out += "\\\\"; break;
      case '"': *out += "\\\""; break;
      default: out->push_back(c);
    }
  }
  out->push_back('"');
}

void AppendStyle(uint32_t colour, const FontRequest& font, std::string* out) {
  std::string style;
  if (colour != kNoColour) {
    char hex[16];
    std::snprintf(hex, sizeof(hex), "c=0x%08X", colour);
    style += hex;
  }
  auto add = [&style](const std::string& part) {
    if (!style.empty()) style += ' ';
    style += part;
  };
  if (font.bold) add("b");
  if (font.italic) add("i");
  if (font.underline) add("u");
  if (!font.face.empty()) add("face=" + Utf16ToUtf8(font.face));
  if (font.size != -1) add("size=" + std::to_string(font.size));
  if (!style.empty()) *out += "{" + style + "}";
}

}  // namespace

std::string DescribeElements(const ElementList& elements) {
  std::string out;
  for (const auto& element : elements) {
    if (!out.empty()) out.push_back(' ');
    switch (element->type()) {
      case ElementType::kText: {
        const auto& text = static_cast<const TextElement&>(*element);
        out += 'T';
        AppendQuoted(text.text(), &out);
        AppendStyle(text.colour(), text.font(), &out);
        break;
      }
      case ElementType::kLink: {
        const auto& link = static_cast<const LinkElement&>(*element);
        out += "L<" + Utf16ToUtf8(link.target()) + ">";
        AppendQuoted(link.text(), &out);
        AppendStyle(link.colour(), link.font(), &out);
        break;
      }
      case ElementType::kImage: {
        const auto& image = static_cast<const ImageElement&>(*element);
        out += "I<" + Utf16ToUtf8(image.source()) + " " + std::to_string(image.width()) + "x" +
               std::to_string(image.height()) + ">";
        break;
      }
      case ElementType::kLineBreak: out += '|'; break;
      case ElementType::kRule: out += '-'; break;
      default: out += "#" + std::to_string(static_cast<uint32_t>(element->type()));
    }
  }
  return out;
}

}  // namespace html
}  // namespace quill
