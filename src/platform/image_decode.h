// Decoding of the picture formats mail carries: PNG, JPEG (baseline and
// progressive), GIF (the first frame) and uncompressed BMP, into canvases.
//
// The input is untrusted. Every decoder checks the picture's dimensions
// against the canvas limits (kMaxCanvasSide per side, kMaxCanvasPixels in
// all) before it allocates pixel memory, bounds every length it reads, and
// reports failure as a status. Truncated input is rejected. On failure the
// output canvas is left empty.
//
// Thread safety: every function may be called from any thread.
#ifndef QUILL_PLATFORM_IMAGE_DECODE_H_
#define QUILL_PLATFORM_IMAGE_DECODE_H_

#include <cstdint>

#include "platform/bytes.h"
#include "platform/canvas.h"

namespace quill {
namespace gfx {

enum class ImageStatus {
  kOk,
  kUnknownFormat,  // no known signature at the start of the data
  kCorrupt,        // malformed or truncated data
  kTooLarge,       // dimensions beyond the canvas limits
  kUnsupported,    // a valid picture of a kind not handled (e.g. RLE BMP)
};

enum class ImageFormat { kUnknown, kPng, kJpeg, kGif, kBmp };

// The format named by the first bytes of data.
ImageFormat SniffImageFormat(ByteView data);

// Whether a picture of width x height may be decoded (both sides positive
// and within the canvas limits).
bool ImageSizeAllowed(int64_t width, int64_t height);

// Decodes by the sniffed format.
ImageStatus DecodeImage(ByteView data, Canvas* out);

// One decoder per format; each expects its own format's data. Alpha comes
// from the picture where it has one (PNG alpha and transparency, the GIF
// transparent index); every other pixel is opaque.
ImageStatus DecodePng(ByteView data, Canvas* out);
ImageStatus DecodeJpeg(ByteView data, Canvas* out);
ImageStatus DecodeGif(ByteView data, Canvas* out);
ImageStatus DecodeBmp(ByteView data, Canvas* out);

}  // namespace gfx
}  // namespace quill

#endif  // QUILL_PLATFORM_IMAGE_DECODE_H_
