#include "platform/png_write.h"

#include <png.h>

#include <cstdio>
#include <cstring>

namespace quill {
namespace gfx {

namespace {

void InitImage(const Canvas& canvas, png_image* image) {
  std::memset(image, 0, sizeof *image);
  image->version = PNG_IMAGE_VERSION;
  image->width = static_cast<png_uint_32>(canvas.width());
  image->height = static_cast<png_uint_32>(canvas.height());
  image->format = PNG_FORMAT_RGBA;
}

}  // namespace

bool EncodePng(const Canvas& canvas, Bytes* out) {
  out->clear();
  if (canvas.empty()) return false;
  png_image image;
  InitImage(canvas, &image);
  const png_int_32 stride = canvas.width() * 4;
  png_alloc_size_t size = 0;
  // First pass sizes the output, second writes it.
  if (png_image_write_to_memory(&image, nullptr, &size, 0, canvas.pixels(), stride, nullptr) == 0) {
    return false;
  }
  out->resize(size);
  InitImage(canvas, &image);
  if (png_image_write_to_memory(&image, out->data(), &size, 0, canvas.pixels(), stride,
                                nullptr) == 0) {
    out->clear();
    return false;
  }
  out->resize(size);
  return true;
}

bool WritePngFile(const Canvas& canvas, const std::string& path) {
  Bytes png;
  if (!EncodePng(canvas, &png)) return false;
  const std::string temp = path + ".temp";
  FILE* f = std::fopen(temp.c_str(), "wb");
  if (f == nullptr) return false;
  const bool written = std::fwrite(png.data(), 1, png.size(), f) == png.size();
  const bool closed = std::fclose(f) == 0;
  if (!written || !closed || std::rename(temp.c_str(), path.c_str()) != 0) {
    std::remove(temp.c_str());
    return false;
  }
  return true;
}

}  // namespace gfx
}  // namespace quill
