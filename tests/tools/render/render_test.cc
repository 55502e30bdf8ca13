// quillpost-render end to end: the PNG of a body, its plain text, and one
// clear error line for a missing file or bad usage.
#include "tools/render/render.h"

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "platform/bytes.h"
#include "platform/canvas.h"
#include "platform/file_system.h"
#include "platform/font_face.h"
#include "platform/image_decode.h"

namespace quill {
namespace render {
namespace {

struct ToolRun {
  int status;       // exit status
  std::string out;  // what went to out
  std::string err;  // what went to err
};

ToolRun Render(const std::vector<std::string>& args) {
  std::ostringstream out, err;
  const int status = RunRender(args, out, err);
  return ToolRun{status, out.str(), err.str()};
}

std::string WriteTemp(const std::string& name, const std::string& contents) {
  const std::string path = ::testing::TempDir() + "/" + name;
  FILE* f = std::fopen(path.c_str(), "wb");
  EXPECT_NE(f, nullptr);
  std::fwrite(contents.data(), 1, contents.size(), f);
  std::fclose(f);
  return path;
}

bool HaveFont() {
  std::string path;
  int index = 0;
  return gfx::FontFace::FindCjkFont(&path, &index) == gfx::FontStatus::kOk;
}

int Lines(const std::string& s) {
  int n = 0;
  for (char c : s) n += c == '\n';
  return n;
}

TEST(RenderTool, PrintsThePlainText) {
  const std::string in = WriteTemp("render_text.html", "<p>你好</p><a href=\"u\">链接</a>");
  const ToolRun run = Render({in, "--text"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "你好\r\n链接[u]");
}

TEST(RenderTool, RendersTheWholeDocumentToAPng) {
  if (!HaveFont()) GTEST_SKIP() << "no CJK font found through fontconfig";
  std::string body = "<font color=#FF0000>红色的字</font><hr>";
  for (int i = 0; i < 40; ++i) body += "第" + std::to_string(i) + "行 <a href=\"x\">链接</a><br>";
  const std::string in = WriteTemp("render_page.html", body + "\xFF\xFE broken <b");
  const std::string out = ::testing::TempDir() + "/render_page.png";
  std::remove(out.c_str());
  const ToolRun run = Render({in, "--out", out});
  ASSERT_EQ(run.status, 0) << run.err;
  Bytes png;
  ASSERT_TRUE(DefaultFileSystem()->ReadFile(out, &png));
  gfx::Canvas page;
  ASSERT_EQ(gfx::DecodePng(png, &page), gfx::ImageStatus::kOk);
  EXPECT_EQ(page.width(), 240);
  EXPECT_GT(page.height(), 40 * 14);
  // Red ink of the first run, and the link colour further down.
  int red = 0, links = 0;
  for (int y = 0; y < page.height(); ++y) {
    for (int x = 0; x < page.width(); ++x) {
      const uint32_t p = page.PixelAt(x, y);
      red += p == gfx::PixelFromColor(0x000000FF);
      links += p == gfx::PixelFromColor(0x00FF3300);
    }
  }
  EXPECT_GT(red, 20);
  EXPECT_GT(links, 40 * 20);

  const std::string big = ::testing::TempDir() + "/render_page2.png";
  ASSERT_EQ(Render({in, "--width", "300", "--scale", "2", "--out", big}).status, 0);
  ASSERT_TRUE(DefaultFileSystem()->ReadFile(big, &png));
  ASSERT_EQ(gfx::DecodePng(png, &page), gfx::ImageStatus::kOk);
  EXPECT_EQ(page.width(), 600);
}

TEST(RenderTool, AMissingFileIsOneErrorLine) {
  const ToolRun run = Render({"/nonexistent/quill_render.html", "--out", "/tmp/x.png"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(Lines(run.err), 1) << run.err;
  EXPECT_NE(run.err.find("/nonexistent/quill_render.html"), std::string::npos);
}

TEST(RenderTool, AnUnwritableOutputIsOneErrorLine) {
  if (!HaveFont()) GTEST_SKIP() << "no CJK font found through fontconfig";
  const std::string in = WriteTemp("render_short.html", "x");
  const ToolRun run = Render({in, "--out", "/nonexistent/dir/page.png"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(Lines(run.err), 1) << run.err;
}

TEST(RenderTool, BadUsage) {
  const std::string in = WriteTemp("render_usage.html", "x");
  EXPECT_EQ(Render({}).status, 2);
  EXPECT_EQ(Render({in}).status, 2);
  EXPECT_EQ(Render({in, "--width", "64", "--out", "p.png"}).status, 2);
  EXPECT_EQ(Render({in, "--width", "24x", "--out", "p.png"}).status, 2);
  EXPECT_EQ(Render({in, "--scale", "5", "--out", "p.png"}).status, 2);
  EXPECT_EQ(Render({in, "--out"}).status, 2);
  EXPECT_EQ(Render({in, "--bogus", "--text"}).status, 2);
  EXPECT_EQ(Render({in, in, "--text"}).status, 2);
}

}  // namespace
}  // namespace render
}  // namespace quill
