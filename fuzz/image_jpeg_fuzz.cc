// Fuzzes the JPEG decoder.
#include "image_fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return FuzzImageDecoder(quill::gfx::DecodeJpeg, data, size);
}
