#include "gateway/image_scale.h"

#include <gd.h>

#include <algorithm>
#include <cstring>

namespace quill {
namespace gateway {
namespace {

enum class Format { kUnknown, kPng, kJpeg, kGif, kBmp };

Format Sniff(const Bytes& d) {
  if (d.size() >= 8 && std::memcmp(d.data(), "\x89PNG\r\n\x1a\n", 8) == 0) return Format::kPng;
  if (d.size() >= 3 && d[0] == 0xFF && d[1] == 0xD8 && d[2] == 0xFF) return Format::kJpeg;
  if (d.size() >= 6 && (std::memcmp(d.data(), "GIF87a", 6) == 0 ||
                        std::memcmp(d.data(), "GIF89a", 6) == 0)) {
    return Format::kGif;
  }
  if (d.size() >= 2 && d[0] == 'B' && d[1] == 'M') return Format::kBmp;
  return Format::kUnknown;
}

gdImagePtr Decode(const Bytes& d, Format format) {
  void* data = const_cast<uint8_t*>(d.data());
  const int size = static_cast<int>(std::min<size_t>(d.size(), INT32_MAX));
  switch (format) {
    case Format::kPng: return gdImageCreateFromPngPtr(size, data);
    case Format::kJpeg: return gdImageCreateFromJpegPtr(size, data);
    case Format::kGif: return gdImageCreateFromGifPtr(size, data);
    case Format::kBmp: return gdImageCreateFromBmpPtr(size, data);
    case Format::kUnknown: return nullptr;
  }
  return nullptr;
}

}  // namespace

ScaledPicture ScaleToFit(const Bytes& picture, int box_width, int box_height) {
  ScaledPicture out;
  out.data = picture;
  const Format format = Sniff(picture);
  gdImagePtr source = Decode(picture, format);
  if (source == nullptr) return out;
  const int w = gdImageSX(source), h = gdImageSY(source);
  out.width = w;
  out.height = h;
  const double fx = box_width > 0 && w > box_width ? static_cast<double>(box_width) / w : 1.0;
  const double fy = box_height > 0 && h > box_height ? static_cast<double>(box_height) / h : 1.0;
  const double f = std::min(fx, fy);
  if (f >= 1.0 || static_cast<int64_t>(w) * h > kMaxScaledPixels) {
    gdImageDestroy(source);
    return out;
  }
  const int nw = std::max(1, static_cast<int>(w * f));
  const int nh = std::max(1, static_cast<int>(h * f));
  gdImagePtr scaled = gdImageCreateTrueColor(nw, nh);
  if (scaled == nullptr) {
    gdImageDestroy(source);
    return out;
  }
  gdImageAlphaBlending(scaled, 0);
  gdImageSaveAlpha(scaled, 1);
  gdImageCopyResampled(scaled, source, 0, 0, 0, 0, nw, nh, w, h);
  int size = 0;
  void* bytes = format == Format::kJpeg ? gdImageJpegPtr(scaled, &size, 85)
                                         : gdImagePngPtr(scaled, &size);
  if (bytes != nullptr && size > 0) {
    const uint8_t* b = static_cast<const uint8_t*>(bytes);
    out.data.assign(b, b + size);
    out.width = nw;
    out.height = nh;
    out.scaled = true;
  }
  gdFree(bytes);
  gdImageDestroy(scaled);
  gdImageDestroy(source);
  return out;
}

}  // namespace gateway
}  // namespace quill
