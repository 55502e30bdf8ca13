#include "platform/image_decode.h"

#include <gif_lib.h>
#include <gtest/gtest.h>
#include <zlib.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <jpeglib.h>  // after <cstdio>: needs FILE and size_t

#include "platform/png_write.h"

namespace quill {
namespace gfx {
namespace {

uint32_t Rgba(uint8_t r, uint8_t g, uint8_t b, uint8_t a = 255) {
  return r | (g << 8) | (b << 16) | (uint32_t{a} << 24);
}

// A picture with distinct pixels and varied alpha.
Canvas Pattern(int w, int h) {
  Canvas c;
  EXPECT_TRUE(c.Reset(w, h));
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      c.Row(y)[x] = Rgba(static_cast<uint8_t>(x * 37), static_cast<uint8_t>(y * 59),
                         static_cast<uint8_t>(x * y), static_cast<uint8_t>(255 - x - y));
    }
  }
  return c;
}

void ExpectSame(const Canvas& a, const Canvas& b) {
  ASSERT_EQ(a.width(), b.width());
  ASSERT_EQ(a.height(), b.height());
  for (int y = 0; y < a.height(); ++y) {
    for (int x = 0; x < a.width(); ++x) ASSERT_EQ(a.PixelAt(x, y), b.PixelAt(x, y)) << x << "," << y;
  }
}

// Every channel within tol of the expected pixel.
void ExpectNear(uint32_t got, uint32_t want, int tol, const std::string& where) {
  for (int s = 0; s < 32; s += 8) {
    const int g = (got >> s) & 0xFF, w = (want >> s) & 0xFF;
    EXPECT_LE(std::abs(g - w), tol) << where << " channel " << s / 8 << ": " << g << " vs " << w;
  }
}

void PutU32(Bytes* b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) (*b)[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
void PutU32Be(Bytes* b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) (*b)[at + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

// ---- Sniffing --------------------------------------------------------------

TEST(ImageDecode, SniffsAndDispatches) {
  EXPECT_EQ(SniffImageFormat(std::string_view("\x89PNG\r\n\x1a\n")), ImageFormat::kPng);
  EXPECT_EQ(SniffImageFormat(std::string_view("\xFF\xD8\xFF\xE0")), ImageFormat::kJpeg);
  EXPECT_EQ(SniffImageFormat(std::string_view("GIF89a")), ImageFormat::kGif);
  EXPECT_EQ(SniffImageFormat(std::string_view("GIF87a")), ImageFormat::kGif);
  EXPECT_EQ(SniffImageFormat(std::string_view("GIF88a")), ImageFormat::kUnknown);
  EXPECT_EQ(SniffImageFormat(std::string_view("BM")), ImageFormat::kBmp);
  EXPECT_EQ(SniffImageFormat(ByteView()), ImageFormat::kUnknown);
  Canvas c;
  ASSERT_TRUE(c.Reset(1, 1));
  EXPECT_EQ(DecodeImage(std::string_view("<html>"), &c), ImageStatus::kUnknownFormat);
  EXPECT_TRUE(c.empty());
  // Every decoder refuses empty and signature-only input and leaves the
  // output empty.
  for (auto decode : {DecodePng, DecodeJpeg, DecodeGif, DecodeBmp}) {
    ASSERT_TRUE(c.Reset(1, 1));
    EXPECT_EQ(decode(ByteView(), &c), ImageStatus::kCorrupt);
    EXPECT_TRUE(c.empty());
  }
  EXPECT_NE(DecodeImage(std::string_view("\x89PNG\r\n\x1a\n"), &c), ImageStatus::kOk);
  EXPECT_NE(DecodeImage(std::string_view("\xFF\xD8\xFF"), &c), ImageStatus::kOk);
  EXPECT_NE(DecodeImage(std::string_view("GIF89a"), &c), ImageStatus::kOk);
  EXPECT_NE(DecodeImage(std::string_view("BM"), &c), ImageStatus::kOk);
}

TEST(ImageDecode, SizeLimits) {
  EXPECT_TRUE(ImageSizeAllowed(1, 1));
  EXPECT_TRUE(ImageSizeAllowed(kMaxCanvasSide, kMaxCanvasPixels / kMaxCanvasSide));
  EXPECT_FALSE(ImageSizeAllowed(kMaxCanvasSide + 1, 1));
  EXPECT_FALSE(ImageSizeAllowed(1, kMaxCanvasSide + 1));
  EXPECT_FALSE(ImageSizeAllowed(kMaxCanvasSide, kMaxCanvasSide));
  EXPECT_FALSE(ImageSizeAllowed(0, 5));
  EXPECT_FALSE(ImageSizeAllowed(-1, -1));
}

// ---- PNG -------------------------------------------------------------------

// Rewrites the IHDR size of a PNG and fixes its CRC.
void SetPngSize(Bytes* png, uint32_t w, uint32_t h) {
  PutU32Be(png, 16, w);
  PutU32Be(png, 20, h);
  PutU32Be(png, 29, static_cast<uint32_t>(crc32(0, png->data() + 12, 17)));
}

TEST(ImagePng, RoundTripKeepsEveryPixelAndAlpha) {
  const Canvas src = Pattern(17, 9);
  Bytes png;
  ASSERT_TRUE(EncodePng(src, &png));
  EXPECT_EQ(SniffImageFormat(png), ImageFormat::kPng);
  Canvas out;
  ASSERT_EQ(DecodeImage(png, &out), ImageStatus::kOk);
  ExpectSame(src, out);

  EXPECT_FALSE(EncodePng(Canvas(), &png));
  EXPECT_TRUE(png.empty());
}

TEST(ImagePng, WriteFileReplacesWholeAndLeavesNoTemp) {
  const std::string path = ::testing::TempDir() + "/quill_canvas_shot.png";
  std::remove(path.c_str());
  const Canvas src = Pattern(5, 4);
  ASSERT_TRUE(WritePngFile(src, path));
  ASSERT_TRUE(WritePngFile(src, path));  // over an existing file
  FILE* f = std::fopen(path.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  Bytes data(4096);
  data.resize(std::fread(data.data(), 1, data.size(), f));
  std::fclose(f);
  Canvas out;
  ASSERT_EQ(DecodePng(data, &out), ImageStatus::kOk);
  ExpectSame(src, out);
  EXPECT_EQ(std::fopen((path + ".temp").c_str(), "rb"), nullptr);
  EXPECT_FALSE(WritePngFile(src, ::testing::TempDir() + "/no/such/dir/x.png"));
  std::remove(path.c_str());
}

TEST(ImagePng, TruncatedAndCorruptAreRejected) {
  Bytes png;
  ASSERT_TRUE(EncodePng(Pattern(20, 20), &png));
  Canvas out;
  // Up to the end of the image data (IEND is the last 12 bytes) every
  // prefix must fail.
  for (size_t n = 0; n + 12 < png.size(); ++n) {
    EXPECT_NE(DecodePng(ByteView(png.data(), n), &out), ImageStatus::kOk) << n;
    EXPECT_TRUE(out.empty());
  }
  for (size_t at : {size_t{18}, png.size() - 20}) {  // inside IHDR, inside IDAT
    Bytes bad = png;
    bad[at] ^= 0x5A;
    EXPECT_EQ(DecodePng(bad, &out), ImageStatus::kCorrupt) << at;
  }
}

TEST(ImagePng, OversizedDimensionsAreRejectedBeforeDecoding) {
  Bytes png;
  ASSERT_TRUE(EncodePng(Pattern(4, 4), &png));
  Canvas out;
  const uint32_t sizes[][2] = {{kMaxCanvasSide + 1, 1}, {1, kMaxCanvasSide + 1}, {8192, 8192},
                               {5000, 4000}};
  for (const auto& s : sizes) {
    Bytes big = png;
    SetPngSize(&big, s[0], s[1]);
    EXPECT_EQ(DecodePng(big, &out), ImageStatus::kTooLarge) << s[0] << "x" << s[1];
  }
  // Within the limits but with too little data: the decode fails cleanly.
  Bytes wide = png;
  SetPngSize(&wide, 4096, 4096);
  EXPECT_EQ(DecodePng(wide, &out), ImageStatus::kCorrupt);
}

// ---- JPEG ------------------------------------------------------------------

struct JpegSpec {
  int width = 16;
  int height = 8;
  int components = 3;             // 1 grey, 3 RGB, 4 CMYK
  bool progressive = false;
  std::vector<uint8_t> samples;  // width * height * components
};

Bytes EncodeJpeg(const JpegSpec& spec) {
  jpeg_compress_struct c;
  jpeg_error_mgr err;
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  unsigned char* buf = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &buf, &size);
  c.image_width = spec.width;
  c.image_height = spec.height;
  c.input_components = spec.components;
  c.in_color_space = spec.components == 1 ? JCS_GRAYSCALE : spec.components == 3 ? JCS_RGB : JCS_CMYK;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, 98, TRUE);
  c.comp_info[0].h_samp_factor = c.comp_info[0].v_samp_factor = 1;  // no chroma subsampling
  if (spec.progressive) jpeg_simple_progression(&c);
  jpeg_start_compress(&c, TRUE);
  while (c.next_scanline < c.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(spec.samples.data() +
                                        static_cast<size_t>(c.next_scanline) * spec.width * spec.components);
    jpeg_write_scanlines(&c, &row, 1);
  }
  jpeg_finish_compress(&c);
  Bytes out(buf, buf + size);
  std::free(buf);
  jpeg_destroy_compress(&c);
  return out;
}

// Left half red, right half blue (8 x 8 blocks keep the colours clean).
JpegSpec TwoColourJpeg() {
  JpegSpec s;
  for (int y = 0; y < s.height; ++y) {
    for (int x = 0; x < s.width; ++x) {
      const bool left = x < 8;
      s.samples.insert(s.samples.end(), {uint8_t(left ? 255 : 0), 0, uint8_t(left ? 0 : 255)});
    }
  }
  return s;
}

// Offset of the frame header (baseline or progressive SOF marker), 0 if none.
size_t FindSof(const Bytes& jpeg) {
  for (size_t i = 2; i + 9 < jpeg.size(); ++i) {
    if (jpeg[i] == 0xFF && (jpeg[i + 1] == 0xC0 || jpeg[i + 1] == 0xC2)) return i;
  }
  return 0;
}

void ExpectTwoColours(const Canvas& out) {
  ASSERT_EQ(out.width(), 16);
  ASSERT_EQ(out.height(), 8);
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < 16; ++x) {
      ExpectNear(out.PixelAt(x, y), x < 8 ? Rgba(255, 0, 0) : Rgba(0, 0, 255), 24,
                 std::to_string(x) + "," + std::to_string(y));
    }
  }
}

TEST(ImageJpeg, BaselineAndProgressiveDecode) {
  JpegSpec spec = TwoColourJpeg();
  Canvas out;
  ASSERT_EQ(DecodeImage(EncodeJpeg(spec), &out), ImageStatus::kOk);
  ExpectTwoColours(out);
  spec.progressive = true;
  ASSERT_EQ(DecodeJpeg(EncodeJpeg(spec), &out), ImageStatus::kOk);
  ExpectTwoColours(out);
}

TEST(ImageJpeg, GreyAndAdobeCmyk) {
  JpegSpec grey;
  grey.components = 1;
  for (int i = 0; i < grey.width * grey.height; ++i) grey.samples.push_back(i < 64 ? 40 : 200);
  Canvas out;
  ASSERT_EQ(DecodeJpeg(EncodeJpeg(grey), &out), ImageStatus::kOk);
  ExpectNear(out.PixelAt(3, 2), Rgba(40, 40, 40), 6, "grey dark");
  ExpectNear(out.PixelAt(12, 6), Rgba(200, 200, 200), 6, "grey light");

  // CMYK with the Adobe marker stores inverted values: red is C=255 M=0 Y=0 K=255.
  JpegSpec cmyk;
  cmyk.components = 4;
  for (int i = 0; i < cmyk.width * cmyk.height; ++i) cmyk.samples.insert(cmyk.samples.end(), {255, 0, 0, 255});
  ASSERT_EQ(DecodeJpeg(EncodeJpeg(cmyk), &out), ImageStatus::kOk);
  ExpectNear(out.PixelAt(5, 5), Rgba(255, 0, 0), 8, "cmyk");
}

TEST(ImageJpeg, TruncatedAndCorruptAreRejected) {
  for (bool progressive : {false, true}) {
    JpegSpec spec = TwoColourJpeg();
    spec.progressive = progressive;
    const Bytes jpeg = EncodeJpeg(spec);
    Canvas out;
    // Everything short of the end of the entropy data (EOI is the last two
    // bytes) must fail.
    for (size_t n = 0; n + 2 < jpeg.size(); ++n) {
      EXPECT_NE(DecodeJpeg(ByteView(jpeg.data(), n), &out), ImageStatus::kOk) << n << " " << progressive;
      EXPECT_TRUE(out.empty());
    }
    const size_t sof = FindSof(jpeg);
    ASSERT_NE(sof, 0u);
    Bytes bad = jpeg;
    bad[sof + 4] = 9;  // sample precision
    EXPECT_EQ(DecodeJpeg(bad, &out), ImageStatus::kCorrupt);
    bad = jpeg;
    bad[sof + 9] = 0;  // no components
    EXPECT_EQ(DecodeJpeg(bad, &out), ImageStatus::kCorrupt);
  }
}

TEST(ImageJpeg, OversizedDimensionsAreRejected) {
  const Bytes jpeg = EncodeJpeg(TwoColourJpeg());
  const size_t sof = FindSof(jpeg);
  ASSERT_NE(sof, 0u);
  const uint16_t sizes[][2] = {{9000, 8}, {16, 9000}, {8000, 8000}};
  for (const auto& s : sizes) {
    Bytes big = jpeg;
    big[sof + 5] = static_cast<uint8_t>(s[1] >> 8);  // height
    big[sof + 6] = static_cast<uint8_t>(s[1]);
    big[sof + 7] = static_cast<uint8_t>(s[0] >> 8);  // width
    big[sof + 8] = static_cast<uint8_t>(s[0]);
    Canvas out;
    EXPECT_EQ(DecodeJpeg(big, &out), ImageStatus::kTooLarge) << s[0] << "x" << s[1];
  }
}

// ---- GIF -------------------------------------------------------------------

int WriteToBytes(GifFileType* gif, const GifByteType* data, int n) {
  auto* out = static_cast<Bytes*>(gif->UserData);
  out->insert(out->end(), data, data + n);
  return n;
}

struct GifFrame {
  int left = 0, top = 0, width = 0, height = 0;  // frame placement on the screen
  bool interlace = false;                        // rows written in four passes
  int transparent = -1;                          // NO_TRANSPARENT_COLOR when -1
  std::vector<uint8_t> indices;                  // width * height palette indices
};

// A GIF89a with a 4-colour global palette: black, red, green, blue.
Bytes EncodeGif(int screen_w, int screen_h, const std::vector<GifFrame>& frames) {
  Bytes out;
  int err = 0;
  GifFileType* gif = EGifOpen(&out, WriteToBytes, &err);
  EXPECT_NE(gif, nullptr);
  EGifSetGifVersion(gif, true);
  const GifColorType colours[4] = {{0, 0, 0}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}};
  ColorMapObject* map = GifMakeMapObject(4, colours);
  EXPECT_EQ(EGifPutScreenDesc(gif, screen_w, screen_h, 8, 0, map), GIF_OK);
  for (const GifFrame& f : frames) {
    GraphicsControlBlock gcb = {DISPOSAL_UNSPECIFIED, false, 0, f.transparent};
    GifByteType ext[4];
    const size_t n = EGifGCBToExtension(&gcb, ext);
    EXPECT_EQ(EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, static_cast<int>(n), ext), GIF_OK);
    EXPECT_EQ(EGifPutImageDesc(gif, f.left, f.top, f.width, f.height, f.interlace, nullptr), GIF_OK);
    std::vector<int> order;
    if (f.interlace) {
      for (int pass = 0; pass < 4; ++pass) {
        static const int kStart[4] = {0, 4, 2, 1}, kStep[4] = {8, 8, 4, 2};
        for (int y = kStart[pass]; y < f.height; y += kStep[pass]) order.push_back(y);
      }
    } else {
      for (int y = 0; y < f.height; ++y) order.push_back(y);
    }
    for (int y : order) {
      std::vector<GifPixelType> line(f.indices.begin() + y * f.width, f.indices.begin() + (y + 1) * f.width);
      EXPECT_EQ(EGifPutLine(gif, line.data(), f.width), GIF_OK);
    }
  }
  EXPECT_EQ(EGifCloseFile(gif, &err), GIF_OK);
  GifFreeMapObject(map);
  return out;
}

const uint32_t kGifPalette[4] = {Rgba(0, 0, 0), Rgba(255, 0, 0), Rgba(0, 255, 0), Rgba(0, 0, 255)};

GifFrame Frame(int w, int h) {
  GifFrame f;
  f.width = w;
  f.height = h;
  for (int i = 0; i < w * h; ++i) f.indices.push_back(static_cast<uint8_t>((i * 7 + i / w) % 4));
  return f;
}

void ExpectFrame(const Canvas& out, const GifFrame& f) {
  for (int y = 0; y < f.height; ++y) {
    for (int x = 0; x < f.width; ++x) {
      const uint8_t index = f.indices[y * f.width + x];
      const uint32_t want = index == f.transparent ? 0u : kGifPalette[index];
      ASSERT_EQ(out.PixelAt(f.left + x, f.top + y), want) << x << "," << y;
    }
  }
}

TEST(ImageGif, FirstFrameWithTransparencyAndInterlace) {
  for (bool interlace : {false, true}) {
    GifFrame f = Frame(7, 11);
    f.interlace = interlace;
    f.transparent = 2;
    GifFrame second = Frame(7, 11);
    std::fill(second.indices.begin(), second.indices.end(), 3);
    Canvas out;
    ASSERT_EQ(DecodeImage(EncodeGif(7, 11, {f, second}), &out), ImageStatus::kOk);
    ASSERT_EQ(out.width(), 7);
    ASSERT_EQ(out.height(), 11);
    ExpectFrame(out, f);
  }
}

TEST(ImageGif, FrameIsPlacedOnTheScreenAndClipped) {
  GifFrame f = Frame(4, 3);
  f.left = 3;
  f.top = 1;
  Canvas out;
  ASSERT_EQ(DecodeGif(EncodeGif(5, 3, {f}), &out), ImageStatus::kOk);
  ASSERT_EQ(out.width(), 5);
  ASSERT_EQ(out.height(), 3);
  EXPECT_EQ(out.PixelAt(0, 0), 0u);  // not covered: transparent
  EXPECT_EQ(out.PixelAt(3, 1), kGifPalette[f.indices[0]]);
  EXPECT_EQ(out.PixelAt(4, 2), kGifPalette[f.indices[4 + 1]]);
}

TEST(ImageGif, TruncatedCorruptAndOversizedAreRejected) {
  const GifFrame f = Frame(9, 9);
  const Bytes gif = EncodeGif(9, 9, {f});
  Canvas out;
  for (size_t n = 0; n + 1 < gif.size(); ++n) {  // all but the trailer byte
    EXPECT_NE(DecodeGif(ByteView(gif.data(), n), &out), ImageStatus::kOk) << n;
    EXPECT_TRUE(out.empty());
  }
  // No image at all: header, screen, palette, trailer.
  Bytes empty(gif.begin(), gif.begin() + 13 + 12);
  empty.push_back(0x3B);
  EXPECT_EQ(DecodeGif(empty, &out), ImageStatus::kCorrupt);

  Bytes wide = gif;  // logical screen 65535 x 9
  wide[6] = wide[7] = 0xFF;
  EXPECT_EQ(DecodeGif(wide, &out), ImageStatus::kTooLarge);
  // The image descriptor follows the palette and the 8-byte control block.
  const size_t desc = 13 + 12 + 8;
  ASSERT_EQ(gif[desc], 0x2C);
  Bytes big_frame = gif;
  big_frame[desc + 5] = big_frame[desc + 6] = 0xFF;  // frame width 65535
  EXPECT_EQ(DecodeGif(big_frame, &out), ImageStatus::kTooLarge);
  Bytes zero_frame = gif;
  zero_frame[desc + 5] = zero_frame[desc + 6] = 0;
  EXPECT_NE(DecodeGif(zero_frame, &out), ImageStatus::kOk);
}

// ---- BMP -------------------------------------------------------------------

struct BmpSpec {
  uint32_t header_size = 40;
  int32_t width = 3;
  int32_t height = 2;
  uint16_t planes = 1;
  uint16_t bpp = 24;
  uint32_t compression = 0;
  uint32_t colors_used = 0;
  std::vector<uint32_t> palette;  // 0x00RRGGBB entries, written as B, G, R, 0
  std::vector<uint32_t> masks;    // written after a 40-byte header (bit fields)
  Bytes rows;                     // pixel rows, padded, in file order
};

Bytes MakeBmp(const BmpSpec& s) {
  Bytes b(14 + s.header_size, 0);
  b[0] = 'B';
  b[1] = 'M';
  PutU32(&b, 14, s.header_size);
  if (s.header_size == 12) {
    b[18] = static_cast<uint8_t>(s.width); b[19] = static_cast<uint8_t>(s.width >> 8);
    b[20] = static_cast<uint8_t>(s.height); b[21] = static_cast<uint8_t>(s.height >> 8);
    b[22] = static_cast<uint8_t>(s.planes);
    b[24] = static_cast<uint8_t>(s.bpp);
  } else {
    PutU32(&b, 18, static_cast<uint32_t>(s.width));
    PutU32(&b, 22, static_cast<uint32_t>(s.height));
    b[26] = static_cast<uint8_t>(s.planes);
    b[27] = static_cast<uint8_t>(s.planes >> 8);
    b[28] = static_cast<uint8_t>(s.bpp);
    PutU32(&b, 30, s.compression);
    PutU32(&b, 46, s.colors_used);
  }
  for (uint32_t m : s.masks) {
    b.resize(b.size() + 4);
    PutU32(&b, b.size() - 4, m);
  }
  for (uint32_t c : s.palette) {
    b.push_back(static_cast<uint8_t>(c));
    b.push_back(static_cast<uint8_t>(c >> 8));
    b.push_back(static_cast<uint8_t>(c >> 16));
    if (s.header_size != 12) b.push_back(0);
  }
  PutU32(&b, 10, static_cast<uint32_t>(b.size()));
  b.insert(b.end(), s.rows.begin(), s.rows.end());
  PutU32(&b, 2, static_cast<uint32_t>(b.size()));
  return b;
}

// 3 x 2, 24 bits: rows of 9 bytes padded to 12, bottom row first.
BmpSpec Bmp24() {
  BmpSpec s;
  s.rows = {0, 0, 255, 0, 255, 0, 255, 0, 0, 0, 0, 0,         // bottom: red green blue
            255, 255, 255, 0, 0, 0, 10, 20, 30, 0, 0, 0};  // top: white black (30,20,10)
  return s;
}

TEST(ImageBmp, TwentyFourBitBottomUpAndTopDown) {
  Canvas out;
  ASSERT_EQ(DecodeImage(MakeBmp(Bmp24()), &out), ImageStatus::kOk);
  ASSERT_EQ(out.width(), 3);
  ASSERT_EQ(out.height(), 2);
  EXPECT_EQ(out.PixelAt(0, 1), Rgba(255, 0, 0));
  EXPECT_EQ(out.PixelAt(1, 1), Rgba(0, 255, 0));
  EXPECT_EQ(out.PixelAt(2, 1), Rgba(0, 0, 255));
  EXPECT_EQ(out.PixelAt(0, 0), Rgba(255, 255, 255));
  EXPECT_EQ(out.PixelAt(2, 0), Rgba(30, 20, 10));

  BmpSpec down = Bmp24();
  down.height = -2;
  ASSERT_EQ(DecodeBmp(MakeBmp(down), &out), ImageStatus::kOk);
  EXPECT_EQ(out.PixelAt(0, 0), Rgba(255, 0, 0));
  EXPECT_EQ(out.PixelAt(2, 1), Rgba(30, 20, 10));

  BmpSpec core = Bmp24();
  core.header_size = 12;
  ASSERT_EQ(DecodeBmp(MakeBmp(core), &out), ImageStatus::kOk);
  EXPECT_EQ(out.PixelAt(2, 0), Rgba(30, 20, 10));
}

TEST(ImageBmp, PalettedDepths) {
  Canvas out;
  BmpSpec one;  // 10 x 1, bits MSB first
  one.width = 10;
  one.height = 1;
  one.bpp = 1;
  one.palette = {0x000000, 0xFFFFFF};
  one.rows = {0xA5, 0x80, 0, 0};  // 1010 0101 10
  ASSERT_EQ(DecodeBmp(MakeBmp(one), &out), ImageStatus::kOk);
  const int bits[10] = {1, 0, 1, 0, 0, 1, 0, 1, 1, 0};
  for (int x = 0; x < 10; ++x) {
    EXPECT_EQ(out.PixelAt(x, 0), bits[x] ? Rgba(255, 255, 255) : Rgba(0, 0, 0)) << x;
  }

  BmpSpec four;  // 3 x 1
  four.width = 3;
  four.height = 1;
  four.bpp = 4;
  four.colors_used = 3;
  four.palette = {0x112233, 0x445566, 0x778899};
  four.rows = {0x21, 0x00, 0, 0};
  ASSERT_EQ(DecodeBmp(MakeBmp(four), &out), ImageStatus::kOk);
  EXPECT_EQ(out.PixelAt(0, 0), Rgba(0x77, 0x88, 0x99));
  EXPECT_EQ(out.PixelAt(1, 0), Rgba(0x44, 0x55, 0x66));
  EXPECT_EQ(out.PixelAt(2, 0), Rgba(0x11, 0x22, 0x33));

  BmpSpec eight = four;
  eight.bpp = 8;
  eight.rows = {2, 0, 1, 0};
  ASSERT_EQ(DecodeBmp(MakeBmp(eight), &out), ImageStatus::kOk);
  EXPECT_EQ(out.PixelAt(0, 0), Rgba(0x77, 0x88, 0x99));
  EXPECT_EQ(out.PixelAt(1, 0), Rgba(0x11, 0x22, 0x33));

  eight.rows = {2, 3, 1, 0};  // index 3 is beyond the 3-entry palette
  EXPECT_EQ(DecodeBmp(MakeBmp(eight), &out), ImageStatus::kCorrupt);
  EXPECT_TRUE(out.empty());
}

TEST(ImageBmp, SixteenAndThirtyTwoBitFields) {
  Canvas out;
  BmpSpec s555;  // 2 x 1, default 5-5-5
  s555.width = 2;
  s555.height = 1;
  s555.bpp = 16;
  s555.rows = {0x00, 0x7C, 0x1F, 0x00};  // red, blue
  ASSERT_EQ(DecodeBmp(MakeBmp(s555), &out), ImageStatus::kOk);
  EXPECT_EQ(out.PixelAt(0, 0), Rgba(255, 0, 0));
  EXPECT_EQ(out.PixelAt(1, 0), Rgba(0, 0, 255));

  BmpSpec s565 = s555;
  s565.compression = 3;
  s565.masks = {0xF800, 0x07E0, 0x001F};
  s565.rows = {0xE0, 0x07, 0x10, 0x00};  // full green, blue 16/31
  ASSERT_EQ(DecodeBmp(MakeBmp(s565), &out), ImageStatus::kOk);
  EXPECT_EQ(out.PixelAt(0, 0), Rgba(0, 255, 0));
  EXPECT_EQ(out.PixelAt(1, 0), Rgba(0, 0, 16 * 255 / 31));

  BmpSpec s32;  // B, G, R, X
  s32.width = 1;
  s32.height = 1;
  s32.bpp = 32;
  s32.rows = {0x30, 0x20, 0x10, 0x00};
  ASSERT_EQ(DecodeBmp(MakeBmp(s32), &out), ImageStatus::kOk);
  EXPECT_EQ(out.PixelAt(0, 0), Rgba(0x10, 0x20, 0x30));

  BmpSpec gap = s565;  // a mask with a hole
  gap.masks = {0xF000 | 0x0100, 0x07E0, 0x001F};
  EXPECT_EQ(DecodeBmp(MakeBmp(gap), &out), ImageStatus::kCorrupt);
  BmpSpec overlap = s565;
  overlap.masks = {0xF800, 0x0FE0, 0x001F};
  EXPECT_EQ(DecodeBmp(MakeBmp(overlap), &out), ImageStatus::kCorrupt);
  BmpSpec zero = s565;
  zero.masks = {0xF800, 0, 0x001F};
  EXPECT_EQ(DecodeBmp(MakeBmp(zero), &out), ImageStatus::kCorrupt);
  BmpSpec beyond = s565;  // mask bits above a 16-bit pixel
  beyond.masks = {0xF8000, 0x07E0, 0x001F};
  EXPECT_EQ(DecodeBmp(MakeBmp(beyond), &out), ImageStatus::kCorrupt);
}

TEST(ImageBmp, EveryHeaderFieldIsChecked) {
  struct Case {
    const char* what;
    void (*mutate)(BmpSpec*);
    ImageStatus want;
  };
  const Case cases[] = {
      {"rle8", [](BmpSpec* s) { s->compression = 1; }, ImageStatus::kUnsupported},
      {"rle4", [](BmpSpec* s) { s->compression = 2; }, ImageStatus::kUnsupported},
      {"embedded png", [](BmpSpec* s) { s->compression = 5; }, ImageStatus::kUnsupported},
      {"unknown compression", [](BmpSpec* s) { s->compression = 77; }, ImageStatus::kCorrupt},
      {"bit fields on 24", [](BmpSpec* s) { s->compression = 3; s->masks = {0xFF0000, 0xFF00, 0xFF}; },
       ImageStatus::kCorrupt},
      {"two planes", [](BmpSpec* s) { s->planes = 2; }, ImageStatus::kCorrupt},
      {"2 bits", [](BmpSpec* s) { s->bpp = 2; }, ImageStatus::kCorrupt},
      {"64 bits", [](BmpSpec* s) { s->bpp = 64; }, ImageStatus::kCorrupt},
      {"zero width", [](BmpSpec* s) { s->width = 0; }, ImageStatus::kCorrupt},
      {"negative width", [](BmpSpec* s) { s->width = -3; }, ImageStatus::kCorrupt},
      {"zero height", [](BmpSpec* s) { s->height = 0; }, ImageStatus::kCorrupt},
      {"wide", [](BmpSpec* s) { s->width = kMaxCanvasSide + 1; }, ImageStatus::kTooLarge},
      {"tall", [](BmpSpec* s) { s->height = -(kMaxCanvasSide + 1); }, ImageStatus::kTooLarge},
      {"most negative height", [](BmpSpec* s) { s->height = INT32_MIN; }, ImageStatus::kTooLarge},
      {"area", [](BmpSpec* s) { s->width = 8000; s->height = 8000; }, ImageStatus::kTooLarge},
      {"rows missing", [](BmpSpec* s) { s->height = 3; }, ImageStatus::kCorrupt},
      {"header size 64", [](BmpSpec* s) { s->header_size = 64; }, ImageStatus::kCorrupt},
      {"palette too long", [](BmpSpec* s) { s->bpp = 1; s->colors_used = 3; s->palette = {0, 1, 2}; },
       ImageStatus::kCorrupt},
      {"palette outside file", [](BmpSpec* s) { s->bpp = 8; s->rows.resize(8); }, ImageStatus::kCorrupt},
  };
  for (const Case& c : cases) {
    BmpSpec s = Bmp24();
    c.mutate(&s);
    Canvas out;
    EXPECT_EQ(DecodeBmp(MakeBmp(s), &out), c.want) << c.what;
    EXPECT_TRUE(out.empty()) << c.what;
  }
  // The pixel offset may not point into the headers nor beyond the file.
  Bytes b = MakeBmp(Bmp24());
  Canvas out;
  for (uint32_t offset : {uint32_t{20}, uint32_t{53}, static_cast<uint32_t>(b.size() + 1), UINT32_MAX}) {
    Bytes bad = b;
    PutU32(&bad, 10, offset);
    EXPECT_EQ(DecodeBmp(bad, &out), ImageStatus::kCorrupt) << offset;
  }
  // Every truncation fails.
  for (size_t n = 0; n < b.size(); ++n) {
    EXPECT_NE(DecodeBmp(ByteView(b.data(), n), &out), ImageStatus::kOk) << n;
  }
}

}  // namespace
}  // namespace gfx
}  // namespace quill
