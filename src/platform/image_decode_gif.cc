// GIF through giflib's low-level reader: records are read one at a time and
// decoding stops after the first image, so an animation costs no more than
// its first frame.
#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/image_decode.h"

namespace quill {
namespace gfx {

namespace {

// The input as giflib reads it.
struct Reader {
  ByteView data;   // the whole file
  size_t pos = 0;  // next byte to hand out
};

int Read(GifFileType* gif, GifByteType* buf, int n) {
  auto* r = static_cast<Reader*>(gif->UserData);
  const size_t take = std::min(static_cast<size_t>(std::max(n, 0)), r->data.size - r->pos);
  if (take == 0) return 0;  // the buffer may be null then
  std::memcpy(buf, r->data.data + r->pos, take);
  r->pos += take;
  return static_cast<int>(take);
}

// Closes the file on every path.
struct GifCloser {
  void operator()(GifFileType* gif) const {
    int err = 0;
    DGifCloseFile(gif, &err);
  }
};

// Reads one extension record; keeps the transparent index of a graphics
// control block in *transparent.
bool ReadExtension(GifFileType* gif, int* transparent) {
  int code = 0;
  GifByteType* block = nullptr;
  if (DGifGetExtension(gif, &code, &block) != GIF_OK) return false;
  if (code == GRAPHICS_EXT_FUNC_CODE && block != nullptr && block[0] >= 4) {
    *transparent = (block[1] & 1) != 0 ? block[4] : -1;
  }
  while (block != nullptr) {
    if (DGifGetExtensionNext(gif, &block) != GIF_OK) return false;
  }
  return true;
}

// Decodes the image whose descriptor was just read onto canvas (the logical
// screen, transparent where the frame does not cover it).
ImageStatus ReadFrame(GifFileType* gif, int transparent, Canvas* canvas) {
  const GifImageDesc& desc = gif->Image;
  if (!ImageSizeAllowed(desc.Width, desc.Height)) {
    return desc.Width <= 0 || desc.Height <= 0 ? ImageStatus::kCorrupt : ImageStatus::kTooLarge;
  }
  const ColorMapObject* map = desc.ColorMap != nullptr ? desc.ColorMap : gif->SColorMap;
  if (map == nullptr || map->Colors == nullptr) return ImageStatus::kCorrupt;
  // A broken screen size (0, as some encoders write) takes the frame's.
  int64_t screen_w = gif->SWidth, screen_h = gif->SHeight;
  int64_t left = desc.Left, top = desc.Top;
  if (screen_w <= 0 || screen_h <= 0) {
    screen_w = desc.Width;
    screen_h = desc.Height;
    left = top = 0;
  }
  if (!ImageSizeAllowed(screen_w, screen_h)) return ImageStatus::kTooLarge;
  if (!canvas->Reset(static_cast<int>(screen_w), static_cast<int>(screen_h))) {
    return ImageStatus::kTooLarge;
  }
  uint32_t palette[256] = {};  // indices beyond the map stay transparent
  const int colors = std::min(map->ColorCount, 256);
  for (int i = 0; i < colors; ++i) {
    const GifColorType& c = map->Colors[i];
    palette[i] = uint32_t{c.Red} | (uint32_t{c.Green} << 8) | (uint32_t{c.Blue} << 16) | 0xFF000000u;
  }
  if (transparent >= 0) palette[transparent] = 0;

  // Interlaced frames store rows in four passes.
  static const int kStart[4] = {0, 4, 2, 1};
  static const int kStep[4] = {8, 8, 4, 2};
  std::vector<GifPixelType> line(static_cast<size_t>(desc.Width));
  auto emit = [&](int row) {
    const int64_t y = top + row;
    if (y < 0 || y >= screen_h) return;
    uint32_t* dst = canvas->Row(static_cast<int>(y));
    for (int x = 0; x < desc.Width; ++x) {
      const int64_t cx = left + x;
      if (cx >= 0 && cx < screen_w) dst[cx] = palette[line[x]];
    }
  };
  const int passes = desc.Interlace ? 4 : 1;
  for (int pass = 0; pass < passes; ++pass) {
    const int start = desc.Interlace ? kStart[pass] : 0;
    const int step = desc.Interlace ? kStep[pass] : 1;
    for (int row = start; row < desc.Height; row += step) {
      if (DGifGetLine(gif, line.data(), desc.Width) != GIF_OK) return ImageStatus::kCorrupt;
      emit(row);
    }
  }
  return ImageStatus::kOk;
}

}  // namespace

ImageStatus DecodeGif(ByteView data, Canvas* out) {
  *out = Canvas();
  Reader reader;
  reader.data = data;
  int err = 0;
  std::unique_ptr<GifFileType, GifCloser> gif(DGifOpen(&reader, Read, &err));
  if (gif == nullptr) return ImageStatus::kCorrupt;
  int transparent = -1;
  for (;;) {
    GifRecordType type = UNDEFINED_RECORD_TYPE;
    if (DGifGetRecordType(gif.get(), &type) != GIF_OK) return ImageStatus::kCorrupt;
    switch (type) {
      case EXTENSION_RECORD_TYPE:
        if (!ReadExtension(gif.get(), &transparent)) return ImageStatus::kCorrupt;
        break;
      case IMAGE_DESC_RECORD_TYPE: {
        if (DGifGetImageDesc(gif.get()) != GIF_OK) return ImageStatus::kCorrupt;
        Canvas canvas;
        const ImageStatus status = ReadFrame(gif.get(), transparent, &canvas);
        if (status == ImageStatus::kOk) *out = std::move(canvas);
        return status;
      }
      default:  // the trailer (or garbage) before any image
        return ImageStatus::kCorrupt;
    }
  }
}

}  // namespace gfx
}  // namespace quill
