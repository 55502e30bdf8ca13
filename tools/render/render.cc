#include "tools/render/render.h"

#include <algorithm>
#include <cstdlib>
#include <memory>

#include "html/html_layout.h"
#include "html/html_text_extractor.h"
#include "html/html_view.h"
#include "html/image_element.h"
#include "html/text_font.h"
#include "platform/bytes.h"
#include "platform/canvas.h"
#include "platform/file_system.h"
#include "platform/font.h"
#include "platform/font_face.h"
#include "platform/image_decode.h"
#include "platform/message_loop.h"
#include "platform/png_write.h"
#include "platform/utf.h"
#include "store/image_cache.h"

namespace quill {
namespace render {
namespace {

constexpr int kDefaultWidth = 240;
constexpr int kMaxScale = 4;

struct Options {
  std::string file;   // the HTML body
  std::string out;    // the PNG to write
  int width = kDefaultWidth;  // window width in pixels
  int scale = 1;      // enlargement of the picture
  bool text = false;  // print the plain text instead
  std::string mail_dir;  // shows the images cached there; empty: none
};

// A whole decimal number in [low, high].
bool ParseInt(const std::string& s, int low, int high, int* out) {
  if (s.empty() || s.size() > 6) return false;
  int value = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  if (value < low || value > high) return false;
  *out = value;
  return true;
}

// The usage error, or empty when the arguments are good.
std::string ParseArgs(const std::vector<std::string>& args, Options* options) {
  const int min_width = html::kMinLineWidth + kLeftMargin + kRightMargin;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool has_value = i + 1 < args.size();
    if (a == "--text") {
      options->text = true;
    } else if (a == "--width") {
      if (!has_value || !ParseInt(args[++i], min_width, gfx::kMaxCanvasSide / kMaxScale,
                                  &options->width)) {
        return "--width takes a number from " + std::to_string(min_width) + " to " +
               std::to_string(gfx::kMaxCanvasSide / kMaxScale);
      }
    } else if (a == "--scale") {
      if (!has_value || !ParseInt(args[++i], 1, kMaxScale, &options->scale)) {
        return "--scale takes a number from 1 to " + std::to_string(kMaxScale);
      }
    } else if (a == "--mail-dir") {
      if (!has_value) return "--mail-dir takes the mail's directory";
      options->mail_dir = args[++i];
    } else if (a == "--out") {
      if (!has_value) return "--out takes a file name";
      options->out = args[++i];
    } else if (!a.empty() && a[0] == '-') {
      return "unknown option " + a;
    } else if (options->file.empty()) {
      options->file = a;
    } else {
      return "more than one input file";
    }
  }
  if (options->file.empty()) return "no input file";
  if (!options->text && options->out.empty()) return "--out PAGE.png (or --text) is needed";
  return "";
}

// Gives every image of the view the picture cached for its source in the
// mail's directory, where there is one that decodes.
void ShowCachedImages(const std::string& mail_dir, html::HtmlView* view, std::ostream& err) {
  const std::string dir = mail_dir.back() == '/' ? mail_dir : mail_dir + "/";
  FileSystem* fs = DefaultFileSystem();
  const html::HtmlLayout& layout = view->layout();
  for (size_t i = 0; i < layout.element_count(); ++i) {
    if (layout.element(i).type() != html::ElementType::kImage) continue;
    const auto& image = static_cast<const html::ImageElement&>(layout.element(i));
    const std::string path = store::FindCachedImageAnySize(fs, dir, image.source());
    Bytes bytes;
    auto picture = std::make_unique<gfx::Canvas>();
    if (path.empty() || !fs->ReadFile(path, &bytes)) continue;
    if (gfx::DecodeImage(ByteView(bytes), picture.get()) != gfx::ImageStatus::kOk) {
      err << "quillpost-render: " << path << " is no picture it can show\n";
      continue;
    }
    view->SetImage(i, std::move(picture));
  }
}

// Loads the body through the view's own loader and paints its whole height.
// On failure says why on err, in one line.
bool Paint(const std::u16string& body, const Options& options, gfx::Canvas* page,
           std::ostream& err) {
  std::unique_ptr<gfx::FontFace> face;
  if (gfx::FontFace::OpenCjk(&face) != gfx::FontStatus::kOk) {
    err << "quillpost-render: no CJK font found through fontconfig\n";
    return false;
  }
  gfx::Font font(face.get(), kTextPixels, false);
  html::GfxTextFont text_font(&font);
  MessageLoop loop;
  html::HtmlView view(&loop, &text_font);
  html::LayoutGeometry geometry;
  geometry.left_margin = kLeftMargin;
  geometry.line_width = options.width - kLeftMargin - kRightMargin;
  view.SetHtml(body, false, geometry);
  while (view.loading()) loop.PumpUntil([&view] { return !view.loading(); }, 1000);
  if (!options.mail_dir.empty()) ShowCachedImages(options.mail_dir, &view, err);

  const int64_t limit =
      std::min<int64_t>(gfx::kMaxCanvasSide, gfx::kMaxCanvasPixels / options.width) /
      options.scale;
  const int64_t document_height = std::max<int64_t>(view.GetDocumentHeight(), 1);
  const int height = static_cast<int>(std::min(document_height, limit));
  if (document_height > height) {
    err << "quillpost-render: the page is cut at " << height << " of " << document_height
        << " rows\n";
  }
  gfx::Canvas window;
  if (!window.Reset(options.width, height)) {
    err << "quillpost-render: cannot make a page of " << options.width << " x " << height << "\n";
    return false;
  }
  view.SetViewSize(options.width, height);
  view.SetScreenSize(options.width, height);
  view.Paint(gfx::Rect{0, 0, options.width, height}, &window);
  if (options.scale == 1) {
    *page = std::move(window);
    return true;
  }
  if (!page->Reset(options.width * options.scale, height * options.scale)) {
    err << "quillpost-render: cannot make a page of " << options.width * options.scale << " x "
        << height * options.scale << "\n";
    return false;
  }
  page->BlitScaled(window, gfx::Rect{0, 0, page->width(), page->height()});
  return true;
}

}  // namespace

int RunRender(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  Options options;
  const std::string usage_error = ParseArgs(args, &options);
  if (!usage_error.empty()) {
    err << "quillpost-render: " << usage_error << "\n"
        << "usage: quillpost-render FILE.html [--width 240] [--scale N] [--mail-dir DIR]\n"
        << "                       --out PAGE.png\n"
        << "       quillpost-render FILE.html --text\n";
    return 2;
  }
  Bytes raw;
  if (!DefaultFileSystem()->ReadFile(options.file, &raw)) {
    err << "quillpost-render: cannot read " << options.file << "\n";
    return 1;
  }
  const std::u16string body =
      Utf8ToUtf16(std::string_view(reinterpret_cast<const char*>(raw.data()), raw.size()));
  if (options.text) {
    out << Utf16ToUtf8(html::HtmlToText(body));
    return 0;
  }
  gfx::Canvas page;
  if (!Paint(body, options, &page, err)) return 1;
  if (!gfx::WritePngFile(page, options.out)) {
    err << "quillpost-render: cannot write " << options.out << "\n";
    return 1;
  }
  return 0;
}

}  // namespace render
}  // namespace quill
