// Files for the attachment and image tests: pictures to attach, and what a
// download left at a path.
#ifndef QUILL_TESTS_E2E_ATTACHMENT_FILES_H_
#define QUILL_TESTS_E2E_ATTACHMENT_FILES_H_

#include <cstdint>
#include <string>

#include <gtest/gtest.h>

#include "platform/bytes.h"
#include "platform/canvas.h"
#include "platform/file_system.h"
#include "platform/png_write.h"

namespace quill {

// A PNG of one colour.
inline std::string Png(int width, int height, uint32_t colour) {
  gfx::Canvas canvas;
  EXPECT_TRUE(canvas.Reset(width, height, colour));
  Bytes png;
  EXPECT_TRUE(gfx::EncodePng(canvas, &png));
  return std::string(png.begin(), png.end());
}

// The file's bytes, or "<missing>" when it cannot be read.
inline std::string ReadAll(const std::string& path) {
  Bytes b;
  if (!DefaultFileSystem()->ReadFile(path, &b)) return "<missing>";
  return std::string(b.begin(), b.end());
}

}  // namespace quill

#endif  // QUILL_TESTS_E2E_ATTACHMENT_FILES_H_
