// JPEG through libjpeg(-turbo). The library reports fatal errors through
// error_exit, which must not return: it longjmps back to the decoder's
// setjmp. Nothing with a destructor lives in the frame that calls setjmp.
#include <csetjmp>
#include <cstddef>
#include <cstdio>  // jpeglib.h needs size_t and FILE declared first

#include <jpeglib.h>
#include <jerror.h>

#include "platform/image_decode.h"

namespace quill {
namespace gfx {

namespace {

// Progressive files may carry any number of scans, each a full pass over the
// coefficients; real pictures have about ten.
constexpr int kMaxScans = 256;
// Corrupt-data warnings after which a stream is given up.
constexpr int kMaxWarnings = 100;

struct ErrorManager {
  jpeg_error_mgr pub;   // first member: libjpeg sees only this
  jmp_buf jump;         // where error_exit returns to
  int warnings = 0;     // corrupt-data warnings so far
};

struct ProgressMonitor {
  jpeg_progress_mgr pub;  // first member: libjpeg sees only this
};

[[noreturn]] void OnError(j_common_ptr cinfo) {
  longjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->jump, 1);
}

// Warnings are silent, except that a premature end of the data is fatal
// (the library would fill the rest of the picture with grey) and too many
// warnings end the decode.
void OnMessage(j_common_ptr cinfo, int level) {
  if (level >= 0) return;  // trace messages
  auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
  if (cinfo->err->msg_code == JWRN_JPEG_EOF || ++err->warnings > kMaxWarnings) OnError(cinfo);
}

void OnProgress(j_common_ptr cinfo) {
  if (cinfo->is_decompressor &&
      reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > kMaxScans) {
    OnError(cinfo);
  }
}

// CMYK as Adobe writes it (inverted, saw_Adobe_marker) or plain, in place
// into RGBA.
void CmykToRgba(uint8_t* p, int width, bool inverted) {
  for (int x = 0; x < width; ++x, p += 4) {
    uint32_t c = p[0], m = p[1], y = p[2], k = p[3];
    if (!inverted) { c = 255 - c; m = 255 - m; y = 255 - y; k = 255 - k; }
    p[0] = static_cast<uint8_t>(c * k / 255);
    p[1] = static_cast<uint8_t>(m * k / 255);
    p[2] = static_cast<uint8_t>(y * k / 255);
    p[3] = 255;
  }
}

// The libjpeg part; *canvas is only written through the pointer so its state
// is well defined after a longjmp.
ImageStatus Decode(ByteView data, Canvas* canvas) {
  jpeg_decompress_struct cinfo;
  ErrorManager err;
  ProgressMonitor progress;
  cinfo.err = jpeg_std_error(&err.pub);
  err.pub.error_exit = OnError;
  err.pub.emit_message = OnMessage;
  progress.pub.progress_monitor = OnProgress;
  if (setjmp(err.jump) != 0) {
    jpeg_destroy_decompress(&cinfo);
    return ImageStatus::kCorrupt;
  }
  jpeg_create_decompress(&cinfo);
  cinfo.progress = &progress.pub;
  jpeg_mem_src(&cinfo, data.data, static_cast<unsigned long>(data.size));
  if (jpeg_read_header(&cinfo, TRUE) != JPEG_HEADER_OK) {
    jpeg_destroy_decompress(&cinfo);
    return ImageStatus::kCorrupt;
  }
  // Nothing of the picture is allocated before this check.
  if (!ImageSizeAllowed(cinfo.image_width, cinfo.image_height)) {
    jpeg_destroy_decompress(&cinfo);
    return ImageStatus::kTooLarge;
  }
  const bool cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
  cinfo.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_RGBA;
  jpeg_start_decompress(&cinfo);
  if (cinfo.output_components != 4 ||
      !canvas->Reset(static_cast<int>(cinfo.output_width), static_cast<int>(cinfo.output_height))) {
    jpeg_destroy_decompress(&cinfo);
    return ImageStatus::kTooLarge;
  }
  while (cinfo.output_scanline < cinfo.output_height) {
    const int y = static_cast<int>(cinfo.output_scanline);
    JSAMPROW row = reinterpret_cast<JSAMPROW>(canvas->Row(y));
    if (jpeg_read_scanlines(&cinfo, &row, 1) != 1) break;
    if (cmyk) CmykToRgba(row, canvas->width(), cinfo.saw_Adobe_marker != 0);
  }
  // Every row is there; what follows the last one is not needed.
  const bool complete = cinfo.output_scanline == cinfo.output_height;
  jpeg_destroy_decompress(&cinfo);
  return complete ? ImageStatus::kOk : ImageStatus::kCorrupt;
}

}  // namespace

ImageStatus DecodeJpeg(ByteView data, Canvas* out) {
  *out = Canvas();
  if (data.size < 4) return ImageStatus::kCorrupt;
  Canvas canvas;
  const ImageStatus status = Decode(data, &canvas);
  if (status == ImageStatus::kOk) *out = std::move(canvas);
  return status;
}

}  // namespace gfx
}  // namespace quill
