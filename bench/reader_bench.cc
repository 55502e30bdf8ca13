// The reader's first screen of a 1 MB mail (the generated HTML of
// html_bench, stored as a mail of the account) against the HTML engine's
// own first screen of the same body, measured in the same iterations:
//  - open: ReaderScreen::Open on a reader already shown (the record, the
//    header files and the beginning of the body read from the store, the
//    header built) until the view has laid out a page, then the viewport
//    painted through Qt;
//  - made and open: the same with the dialog made first (its widgets and
//    menu), which is what opening a mail costs a person in all.
// Ratios are of thread CPU time. Runs on Qt's offscreen platform.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <QApplication>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>

#include "app/application.h"
#include "bench/first_screen.h"
#include "bench/mail_html.h"
#include "platform/utf.h"
#include "store/global_settings.h"
#include "ui/body_font.h"
#include "ui/handheld_screen.h"
#include "ui/reader_screen.h"

namespace quill {
namespace {

constexpr size_t kMailBytes = 1u << 20;
constexpr uint32_t kUin = 10001;

// A data directory holding one signed-in account with the 1 MB mail.
struct ReaderRig {
  std::string dir;
  app::Application app;
  std::unique_ptr<ui::BodyFont> font;
  std::u16string body;
  uint32_t mail_id = 0;

  bool Start(std::string* why) {
    char tmpl[] = "/tmp/quill-reader-bench-XXXXXX";
    if (mkdtemp(tmpl) == nullptr) return false;
    dir = tmpl;
    if (!app.Start(dir, "", why)) return false;
    app.service()->settings().Set(store::global_keys::kUinNum, static_cast<uint64_t>(kUin));
    if (!app.service()->OpenSavedAccount()) return false;
    font = ui::BodyFont::Open();
    if (font == nullptr) {
      *why = "no CJK font through fontconfig";
      return false;
    }
    body = Utf8ToUtf16(bench::MailWriter().Write(kMailBytes));
    store::LocalMail mail;
    mail.to = {u"\"爱丽丝\"<alice@example.com>"};
    mail.subject = u"月度报告";
    mail.body = body;
    return app.service()->store()->SaveLocalMail(mail, &mail_id);
  }
  ~ReaderRig() {
    app.Shutdown();
    if (!dir.empty()) std::system(("rm -rf " + dir).c_str());
  }
};

// Opens the mail in `reader` and shows it as exec() does; returns the
// thread's CPU time when the first page has been painted.
double OpenFirstScreen(ReaderRig* rig, ui::ReaderScreen* reader) {
  double painted = 0;
  ui::BodyView* body = reader->body();
  const std::function<void()> reader_own = body->on_first_page;
  body->on_first_page = [&painted, reader_own] {
    painted = bench::ThreadSeconds();
    reader_own();
  };
  reader->Open(rig->mail_id);
  reader->show();
  while (painted == 0) QCoreApplication::processEvents();
  body->on_first_page = reader_own;
  return painted;
}

void BM_ReaderFirstScreen1MB(benchmark::State& state) {
  ReaderRig rig;
  std::string why;
  if (!rig.Start(&why)) return state.SkipWithError(why.c_str());
  const html::TextFont* font = rig.font->text_font();
  html::HtmlPainter painter(font, html::ViewColours());
  gfx::Canvas screen;
  screen.Reset(ui::kScreenWidth, ui::kScreenHeight);
  html::PaintTarget target;
  target.canvas = &screen;
  target.view_width = ui::kScreenWidth;
  double engine = 0, open = 0, made_and_open = 0;
  int viewport_width = 0, viewport_height = 0;
  for (auto _ : state) {
    // The engine at the reader's own geometry.
    ui::ReaderScreen sizing(rig.app.service(), rig.app.loop(), font, ui::ReaderHooks(), nullptr);
    sizing.show();
    viewport_width = sizing.body()->viewport()->width();
    viewport_height = sizing.body()->page();
    html::LayoutGeometry geometry;
    geometry.left_margin = ui::BodyView::kLeftMargin;
    geometry.line_width = viewport_width - ui::BodyView::kLeftMargin;
    const double t0 = bench::ThreadSeconds();
    bench::EngineFirstScreen(rig.body, font, painter, target, geometry, viewport_height, nullptr);
    const double t1 = bench::ThreadSeconds();
    const double t2 = OpenFirstScreen(&rig, &sizing);
    // Whatever the loop still has for the first reader is not counted.
    while (sizing.Busy()) QCoreApplication::processEvents();
    const double t3 = bench::ThreadSeconds();
    ui::ReaderScreen made(rig.app.service(), rig.app.loop(), font, ui::ReaderHooks(), nullptr);
    const double t4 = OpenFirstScreen(&rig, &made);
    while (made.Busy()) QCoreApplication::processEvents();
    engine += t1 - t0;
    open += t2 - t1;
    made_and_open += t4 - t3;
    benchmark::DoNotOptimize(screen.pixels());
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["engine_ms"] = engine / n * 1e3;
  state.counters["open_ms"] = open / n * 1e3;
  state.counters["open_x_engine"] = open / engine;  // goal: at most 1.5
  state.counters["made_open_ms"] = made_and_open / n * 1e3;
  state.counters["made_open_x_engine"] = made_and_open / engine;
  state.counters["viewport_w"] = viewport_width;
  state.counters["viewport_h"] = viewport_height;
}
BENCHMARK(BM_ReaderFirstScreen1MB)->Unit(benchmark::kMillisecond)->Iterations(20);

}  // namespace
}  // namespace quill

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  const std::string dir = "/tmp/quill-reader-bench-screen-" + std::to_string(getpid());
  quill::ui::PrepareOffscreenScreen(dir);
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::system(("rm -rf " + dir).c_str());
  return 0;
}
