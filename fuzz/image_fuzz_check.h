// The body shared by the image decoder fuzzers: decoding arbitrary bytes
// must never crash, hang or allocate beyond the canvas limits; a success
// gives a canvas within them and a failure an empty one.
#ifndef QUILL_FUZZ_IMAGE_FUZZ_CHECK_H_
#define QUILL_FUZZ_IMAGE_FUZZ_CHECK_H_

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "platform/image_decode.h"

inline int FuzzImageDecoder(quill::gfx::ImageStatus (*decode)(quill::ByteView, quill::gfx::Canvas*),
                            const uint8_t* data, size_t size) {
  quill::gfx::Canvas out;
  const quill::gfx::ImageStatus status = decode(quill::ByteView(data, size), &out);
  if (status == quill::gfx::ImageStatus::kOk) {
    if (!quill::gfx::ImageSizeAllowed(out.width(), out.height())) std::abort();
  } else if (!out.empty()) {
    std::abort();
  }
  return 0;
}

#endif  // QUILL_FUZZ_IMAGE_FUZZ_CHECK_H_
