// PNG encoding of a canvas (8-bit RGBA), for screenshots and tests.
//
// Thread safety: every function may be called from any thread.
#ifndef QUILL_PLATFORM_PNG_WRITE_H_
#define QUILL_PLATFORM_PNG_WRITE_H_

#include <string>

#include "platform/bytes.h"
#include "platform/canvas.h"

namespace quill {
namespace gfx {

// Encodes canvas into *out (replaced). Fails for an empty canvas.
bool EncodePng(const Canvas& canvas, Bytes* out);

// Writes the PNG of canvas to path. The file is written under a temporary
// name beside it and renamed over path only when complete, so a failure
// never leaves a truncated picture behind.
bool WritePngFile(const Canvas& canvas, const std::string& path);

}  // namespace gfx
}  // namespace quill

#endif  // QUILL_PLATFORM_PNG_WRITE_H_
