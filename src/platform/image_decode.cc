#include "platform/image_decode.h"

#include <cstring>

namespace quill {
namespace gfx {

namespace {

bool StartsWith(ByteView data, const char* sig, size_t n) {
  return data.size >= n && std::memcmp(data.data, sig, n) == 0;
}

}  // namespace

ImageFormat SniffImageFormat(ByteView data) {
  if (StartsWith(data, "\x89PNG\r\n\x1a\n", 8)) return ImageFormat::kPng;
  if (StartsWith(data, "\xFF\xD8\xFF", 3)) return ImageFormat::kJpeg;
  if (StartsWith(data, "GIF87a", 6) || StartsWith(data, "GIF89a", 6)) return ImageFormat::kGif;
  if (StartsWith(data, "BM", 2)) return ImageFormat::kBmp;
  return ImageFormat::kUnknown;
}

bool ImageSizeAllowed(int64_t width, int64_t height) {
  return width > 0 && height > 0 && width <= kMaxCanvasSide && height <= kMaxCanvasSide &&
         width * height <= kMaxCanvasPixels;
}

ImageStatus DecodeImage(ByteView data, Canvas* out) {
  switch (SniffImageFormat(data)) {
    case ImageFormat::kPng: return DecodePng(data, out);
    case ImageFormat::kJpeg: return DecodeJpeg(data, out);
    case ImageFormat::kGif: return DecodeGif(data, out);
    case ImageFormat::kBmp: return DecodeBmp(data, out);
    case ImageFormat::kUnknown: break;
  }
  *out = Canvas();
  return ImageStatus::kUnknownFormat;
}

}  // namespace gfx
}  // namespace quill
