// Element type 1: an inline image, fetched later by its source.
#ifndef QUILL_HTML_IMAGE_ELEMENT_H_
#define QUILL_HTML_IMAGE_ELEMENT_H_

#include <cstdint>
#include <string>
#include <utility>

#include "html/display_element.h"

namespace quill {
namespace html {

class ImageElement final : public DisplayElement {
 public:
  ImageElement(std::u16string source, int32_t width, int32_t height)
      : DisplayElement(ElementType::kImage),
        source_(std::move(source)), width_(width), height_(height) {}

  bool CanTakeFocus() const override { return true; }

  const std::u16string& source() const { return source_; }
  int32_t width() const { return width_; }
  int32_t height() const { return height_; }
  // The layout replaces the size with the placeholder's, then the bitmap's.
  void set_size(int32_t width, int32_t height) {
    width_ = width;
    height_ = height;
  }

 private:
  std::u16string source_;  // SRC of the IMG tag, references decoded
  int32_t width_;          // WIDTH of the tag, -1 = not given, 0 = unreadable
  int32_t height_;         // HEIGHT of the tag, -1 = not given, 0 = unreadable
};

}  // namespace html
}  // namespace quill

#endif  // QUILL_HTML_IMAGE_ELEMENT_H_
