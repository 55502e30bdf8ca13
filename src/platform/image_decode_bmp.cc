// A strict reader of uncompressed Windows bitmaps: the core (12-byte) and
// info (40, 52, 56, 108, 124-byte) headers, 1, 4 and 8 bits per pixel with a
// palette, 16 and 32 with bit fields, and 24. Every header field the picture
// depends on is checked (the file size field, often wrong, is not used) and
// the pixel rows must lie wholly inside the data. RLE and embedded
// JPEG/PNG are refused; alpha bits are ignored (pixels are opaque).
#include <cstdint>

#include "platform/image_decode.h"

namespace quill {
namespace gfx {

namespace {

constexpr size_t kFileHeaderSize = 14;
constexpr uint32_t kCoreHeaderSize = 12;
constexpr uint32_t kInfoHeaderSize = 40;
constexpr uint32_t kRgb = 0;        // BI_RGB
constexpr uint32_t kRle8 = 1;       // BI_RLE8
constexpr uint32_t kRle4 = 2;       // BI_RLE4
constexpr uint32_t kBitFields = 3;  // BI_BITFIELDS
constexpr uint32_t kJpeg = 4;       // BI_JPEG
constexpr uint32_t kPng = 5;        // BI_PNG

uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t U32(const uint8_t* p) {
  return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

// One colour channel held in a bit field of a 16- or 32-bit pixel.
struct Channel {
  uint32_t mask = 0;  // bits of the channel inside the pixel
  int shift = 0;      // position of the lowest mask bit
  int bits = 0;       // mask width

  // Validates a mask: not empty and contiguous.
  bool Set(uint32_t m) {
    if (m == 0) return false;
    mask = m;
    shift = __builtin_ctz(m);
    bits = __builtin_popcount(m);
    return ((m >> shift) & ((m >> shift) + 1)) == 0;  // 0...01...1 after the shift
  }
  // The channel of pixel v, scaled to 0..255.
  uint32_t Extract(uint32_t v) const {
    const uint32_t x = (v & mask) >> shift;
    if (bits >= 8) return x >> (bits - 8);
    return x * 255 / ((1u << bits) - 1);
  }
};

struct Header {
  int64_t width = 0;       // columns
  int64_t height = 0;      // rows, negative for a top-down picture
  int bpp = 0;             // bits per pixel
  uint32_t compression = kRgb;
  uint32_t colors_used = 0;  // palette entries stored (0 = the full 2^bpp)
  size_t palette_at = 0;     // offset of the palette (or of the bit fields)
  size_t palette_entry = 4;  // 3 for the core header, else 4
  Channel red, green, blue;  // bit fields of 16 and 32-bit pictures
};

ImageStatus ReadHeader(ByteView data, Header* h) {
  if (data.size < kFileHeaderSize + 4) return ImageStatus::kCorrupt;
  const uint32_t header_size = U32(data.data + kFileHeaderSize);
  if (header_size != kCoreHeaderSize && header_size != kInfoHeaderSize && header_size != 52 &&
      header_size != 56 && header_size != 108 && header_size != 124) {
    return ImageStatus::kCorrupt;
  }
  if (data.size < kFileHeaderSize + header_size) return ImageStatus::kCorrupt;
  const uint8_t* p = data.data + kFileHeaderSize;
  int planes = 0;
  if (header_size == kCoreHeaderSize) {
    h->width = U16(p + 4);
    h->height = U16(p + 6);
    planes = U16(p + 8);
    h->bpp = U16(p + 10);
    h->palette_entry = 3;
  } else {
    h->width = static_cast<int32_t>(U32(p + 4));
    h->height = static_cast<int32_t>(U32(p + 8));
    planes = U16(p + 12);
    h->bpp = U16(p + 14);
    h->compression = U32(p + 16);
    h->colors_used = U32(p + 32);
  }
  h->palette_at = kFileHeaderSize + header_size;
  if (planes != 1) return ImageStatus::kCorrupt;
  if (h->compression == kRle8 || h->compression == kRle4 || h->compression == kJpeg ||
      h->compression == kPng) {
    return ImageStatus::kUnsupported;
  }
  if (h->compression != kRgb && h->compression != kBitFields) return ImageStatus::kCorrupt;
  if (h->bpp != 1 && h->bpp != 4 && h->bpp != 8 && h->bpp != 16 && h->bpp != 24 && h->bpp != 32) {
    return ImageStatus::kCorrupt;
  }
  if (h->width <= 0 || h->height == 0) return ImageStatus::kCorrupt;
  if (!ImageSizeAllowed(h->width, h->height < 0 ? -h->height : h->height)) {
    return ImageStatus::kTooLarge;
  }
  if (h->bpp <= 8) {
    if (h->compression != kRgb || h->colors_used > (1u << h->bpp)) return ImageStatus::kCorrupt;
    return ImageStatus::kOk;
  }
  uint32_t masks[3];
  if (h->compression == kBitFields) {
    if (h->bpp == 24) return ImageStatus::kCorrupt;
    // The masks sit inside the longer headers, right after the 40-byte one.
    const size_t at = kFileHeaderSize + kInfoHeaderSize;
    if (data.size < at + 12) return ImageStatus::kCorrupt;
    for (int i = 0; i < 3; ++i) masks[i] = U32(data.data + at + 4 * i);
    if (header_size == kInfoHeaderSize) h->palette_at += 12;
    if (h->bpp == 16 && ((masks[0] | masks[1] | masks[2]) >> 16) != 0) return ImageStatus::kCorrupt;
    if ((masks[0] & masks[1]) != 0 || (masks[0] & masks[2]) != 0 || (masks[1] & masks[2]) != 0) {
      return ImageStatus::kCorrupt;
    }
  } else if (h->bpp == 16) {
    masks[0] = 0x7C00; masks[1] = 0x03E0; masks[2] = 0x001F;
  } else {
    masks[0] = 0xFF0000; masks[1] = 0xFF00; masks[2] = 0xFF;
  }
  if (!h->red.Set(masks[0]) || !h->green.Set(masks[1]) || !h->blue.Set(masks[2])) {
    return ImageStatus::kCorrupt;
  }
  return ImageStatus::kOk;
}

}  // namespace

ImageStatus DecodeBmp(ByteView data, Canvas* out) {
  *out = Canvas();
  if (data.size < kFileHeaderSize || data.data[0] != 'B' || data.data[1] != 'M') {
    return ImageStatus::kCorrupt;
  }
  Header h;
  const ImageStatus status = ReadHeader(data, &h);
  if (status != ImageStatus::kOk) return status;

  uint32_t palette[256] = {};
  size_t palette_end = h.palette_at;
  size_t palette_size = 0;
  if (h.bpp <= 8) {
    palette_size = h.colors_used != 0 ? h.colors_used : (1u << h.bpp);
    palette_end = h.palette_at + palette_size * h.palette_entry;
    if (palette_end > data.size) return ImageStatus::kCorrupt;
    for (size_t i = 0; i < palette_size; ++i) {
      const uint8_t* e = data.data + h.palette_at + i * h.palette_entry;  // B, G, R[, 0]
      palette[i] = uint32_t{e[2]} | (uint32_t{e[1]} << 8) | (uint32_t{e[0]} << 16) | 0xFF000000u;
    }
  }
  const size_t pixels_at = U32(data.data + 10);
  const int64_t rows = h.height < 0 ? -h.height : h.height;
  const int64_t stride = (h.width * h.bpp + 31) / 32 * 4;
  if (pixels_at < palette_end || pixels_at > data.size ||
      static_cast<uint64_t>(stride) * rows > data.size - pixels_at) {
    return ImageStatus::kCorrupt;
  }

  Canvas canvas;
  if (!canvas.Reset(static_cast<int>(h.width), static_cast<int>(rows))) return ImageStatus::kTooLarge;
  for (int64_t r = 0; r < rows; ++r) {
    const uint8_t* src = data.data + pixels_at + static_cast<size_t>(r * stride);
    uint32_t* dst = canvas.Row(static_cast<int>(h.height < 0 ? r : rows - 1 - r));
    for (int64_t x = 0; x < h.width; ++x) {
      uint32_t px = 0;
      switch (h.bpp) {
        case 1: case 4: case 8: {
          const int64_t bit = x * h.bpp;
          const uint32_t index =
              (src[bit / 8] >> (8 - h.bpp - bit % 8)) & ((1u << h.bpp) - 1);
          if (index >= palette_size) return ImageStatus::kCorrupt;
          px = palette[index];
          break;
        }
        case 24:
          px = uint32_t{src[3 * x + 2]} | (uint32_t{src[3 * x + 1]} << 8) |
               (uint32_t{src[3 * x]} << 16) | 0xFF000000u;
          break;
        default: {
          const uint32_t v = h.bpp == 16 ? U16(src + 2 * x) : U32(src + 4 * x);
          px = h.red.Extract(v) | (h.green.Extract(v) << 8) | (h.blue.Extract(v) << 16) |
               0xFF000000u;
          break;
        }
      }
      dst[x] = px;
    }
  }
  *out = std::move(canvas);
  return ImageStatus::kOk;
}

}  // namespace gfx
}  // namespace quill
