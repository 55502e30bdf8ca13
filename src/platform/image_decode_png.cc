// PNG through libpng's simplified reader, which keeps libpng's longjmp
// error handling inside the library and reports failure as 0.
#include <png.h>

#include <cstring>

#include "platform/image_decode.h"

namespace quill {
namespace gfx {

ImageStatus DecodePng(ByteView data, Canvas* out) {
  *out = Canvas();
  if (data.size < 8) return ImageStatus::kCorrupt;
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (png_image_begin_read_from_memory(&image, data.data, data.size) == 0) {
    return ImageStatus::kCorrupt;
  }
  // The header is read; nothing of the picture is allocated yet.
  if (!ImageSizeAllowed(image.width, image.height)) {
    png_image_free(&image);
    return ImageStatus::kTooLarge;
  }
  image.format = PNG_FORMAT_RGBA;
  Canvas canvas;
  if (!canvas.Reset(static_cast<int>(image.width), static_cast<int>(image.height))) {
    png_image_free(&image);
    return ImageStatus::kTooLarge;
  }
  // Background is unused for RGBA output; finish_read frees the image.
  if (png_image_finish_read(&image, nullptr, canvas.pixels(),
                            static_cast<png_int_32>(image.width * 4), nullptr) == 0) {
    return ImageStatus::kCorrupt;
  }
  *out = std::move(canvas);
  return ImageStatus::kOk;
}

}  // namespace gfx
}  // namespace quill
