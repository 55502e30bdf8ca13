// Element type 1: an inline image, fetched later by its source.
#ifndef QUILL_HTML_IMAGE_ELEMENT_H_
#define QUILL_HTML_IMAGE_ELEMENT_H_

#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "html/display_element.h"
#include "platform/canvas.h"

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
  // The picture once it arrived; nullptr until then. The element owns it.
  const gfx::Canvas* bitmap() const { return bitmap_.get(); }
  void set_bitmap(std::unique_ptr<gfx::Canvas> bitmap) { bitmap_ = std::move(bitmap); }

 private:
  std::u16string source_;  // SRC of the IMG tag, references decoded
  int32_t width_;          // WIDTH of the tag, -1 = not given, 0 = unreadable
  int32_t height_;         // HEIGHT of the tag, -1 = not given, 0 = unreadable
  std::unique_ptr<gfx::Canvas> bitmap_;  // the fetched picture; null until SetImage
};

}  // namespace html
}  // namespace quill

#endif  // QUILL_HTML_IMAGE_ELEMENT_H_
