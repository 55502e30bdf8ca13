// Picture previews: a picture scaled down to a display box, with libgd.
//
// Thread safety: any thread.
#ifndef QUILL_GATEWAY_IMAGE_SCALE_H_
#define QUILL_GATEWAY_IMAGE_SCALE_H_

#include <cstdint>

#include "platform/bytes.h"

namespace quill {
namespace gateway {

// Pictures larger than this many pixels are served as they are.
constexpr int64_t kMaxScaledPixels = 40 * 1000 * 1000;

struct ScaledPicture {
  Bytes data;       // the preview's bytes
  int width = 0;    // its size; 0 when the picture could not be read
  int height = 0;
  bool scaled = false;  // data was made anew (PNG, or JPEG for a JPEG)
};

// `picture` (PNG, JPEG, GIF or BMP) scaled down, keeping its proportions,
// to fit box_width x box_height (a side of 0 or less sets no limit). A
// picture that fits already, or that libgd cannot read, is returned as it
// is.
ScaledPicture ScaleToFit(const Bytes& picture, int box_width, int box_height);

}  // namespace gateway
}  // namespace quill

#endif  // QUILL_GATEWAY_IMAGE_SCALE_H_
