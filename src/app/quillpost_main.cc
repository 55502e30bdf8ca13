// quillpost: the mail client's window.
//
//   quillpost [--data DIR] [--gateway-config FILE] [--script FILE] [--scale N]
//
// Without --data the data directory is this installation's choice (asked
// once when an earlier installation's data is found). Exit status: the
// window's (0 after "退出"), 1 when another copy already runs on the same
// data (it got this command line) or a script step failed, 2 for bad usage
// or an unusable data directory or gateway configuration, 3 when another
// copy holds the data but does not answer.
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QStandardPaths>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "app/application.h"
#include "app/data_dir_choice.h"
#include "app/script_runner.h"
#include "app/single_instance.h"
#include "platform/file_system.h"
#include "platform/registry_store.h"
#include "platform/utf.h"
#include "ui/body_font.h"
#include "ui/handheld_screen.h"
#include "ui/handheld_style.h"
#include "ui/main_window.h"
#include "ui/new_mail_alert.h"
#include "ui/reader_screen.h"
#include "ui/texts.h"

namespace {

using quill::Utf16ToUtf8;
using quill::Utf8ToUtf16;

const char kUsage[] =
    "usage: quillpost [--data DIR] [--gateway-config FILE] [--script FILE] [--scale N]\n";

struct Options {
  std::string data_dir;        // --data
  std::string gateway_config;  // --gateway-config
  std::string script;          // --script
  std::string scale;           // --scale
};

bool ParseOptions(int argc, char** argv, Options* o) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    std::string* target = a == "--data"             ? &o->data_dir
                          : a == "--gateway-config" ? &o->gateway_config
                          : a == "--script"         ? &o->script
                          : a == "--scale"          ? &o->scale
                                                    : nullptr;
    if (target == nullptr || i + 1 >= argc) return false;
    *target = argv[++i];
  }
  if (!o->scale.empty()) {
    char* end = nullptr;
    const double scale = std::strtod(o->scale.c_str(), &end);
    if (*end != '\0' || !(scale >= 1 && scale <= 8)) return false;
  }
  return true;
}

// $XDG_DATA_HOME/quillpost, else ~/.local/share/quillpost.
std::string DefaultDataDir() {
  const char* xdg = std::getenv("XDG_DATA_HOME");
  if (xdg != nullptr && *xdg == '/') return std::string(xdg) + "/quillpost";
  const char* home = std::getenv("HOME");
  return std::string(home != nullptr ? home : "/tmp") + "/.local/share/quillpost";
}

std::string RuntimeDir() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && *runtime == '/') return std::string(runtime) + "/quillpost";
  return "/tmp/quillpost-" + std::to_string(getuid());
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, &options)) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  if (!options.scale.empty()) setenv("QT_SCALE_FACTOR", options.scale.c_str(), 1);
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  if ((platform == nullptr || *platform == '\0') && quill::ui::NoDisplay()) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);  // no display: run headless
  }
  quill::ui::PrepareOffscreenScreen(RuntimeDir());

  QApplication qt(argc, argv);
  quill::ui::ApplyHandheldLook(&qt);

  // The script is read first: a bad one changes nothing.
  std::vector<quill::app::ScriptRunner::Step> steps;
  if (!options.script.empty()) {
    QFile file(QString::fromStdString(options.script));
    QString why;
    if (!file.open(QIODevice::ReadOnly)) {
      std::fprintf(stderr, "quillpost: cannot read %s\n", options.script.c_str());
      return 2;
    }
    if (!quill::app::ScriptRunner::Parse(QString::fromUtf8(file.readAll()), &steps, &why)) {
      std::fprintf(stderr, "quillpost: script %s\n", why.toUtf8().constData());
      return 1;
    }
  }

  int exit_code = 0;
  bool ended = false;
  auto quit = [&](int code) {
    if (!ended) exit_code = code;
    ended = true;
    QCoreApplication::exit(code);
  };
  // The runner starts now, so its first steps can answer start-up's boxes.
  std::unique_ptr<quill::app::ScriptRunner> runner;
  if (!options.script.empty()) {
    runner = std::make_unique<quill::app::ScriptRunner>(std::move(steps), quit);
    runner->Start();
  }

  quill::RegistryStore registry(quill::DefaultFileSystem(), quill::RegistryStore::DefaultDir());
  quill::app::DataDirInputs inputs;
  inputs.program_dir = quill::app::Application::ProgramDir();
  inputs.default_dir = Utf8ToUtf16(DefaultDataDir());
  inputs.explicit_dir = Utf8ToUtf16(options.data_dir);
  const std::string data_dir = Utf16ToUtf8(quill::app::ChooseDataDir(
      &registry, inputs, [](const std::u16string& last) {
        const QString dir = QString::fromStdString(Utf16ToUtf8(last));
        QMessageBox box(QMessageBox::Question, quill::ui::T(quill::ui::text::kProduct),
                        quill::ui::T(quill::ui::text::kKeepDataDir).arg(dir),
                        QMessageBox::Yes | QMessageBox::No);
        return box.exec() == QMessageBox::Yes;
      }));

  quill::app::SingleInstance instance(QString::fromStdString(data_dir));
  switch (instance.Take(QCoreApplication::arguments())) {
    case quill::app::SingleInstance::Claim::kFirst:
      break;
    case quill::app::SingleInstance::Claim::kHandedOver:
      return 1;
    case quill::app::SingleInstance::Claim::kNoAnswer:
      std::fprintf(stderr,
                   "quillpost: another copy uses %s but does not answer; not starting a second "
                   "one on the same data\n",
                   data_dir.c_str());
      return 3;
    case quill::app::SingleInstance::Claim::kError:
      std::fprintf(stderr, "quillpost: cannot lock %s\n", data_dir.c_str());
      return 2;
  }

  quill::app::Application app;
  std::string why;
  if (!app.Start(data_dir, options.gateway_config, &why)) {
    std::fprintf(stderr, "quillpost: %s\n", why.c_str());
    return 2;
  }

  quill::ui::DesktopAlert alert(QString::fromStdString(RuntimeDir()));
  quill::ui::MainWindowOptions window_options;
  window_options.destinations = app.Destinations();
  // Headless runs have nobody to hear or see an alert.
  if (QGuiApplication::platformName() != QLatin1String("offscreen")) window_options.alert = &alert;
  window_options.quit = quit;
  // Without a CJK font there is no reader: "打开邮件" stays disabled.
  const std::unique_ptr<quill::ui::BodyFont> body_font = quill::ui::BodyFont::Open();
  if (body_font != nullptr) {
    window_options.hooks.open_reader =
        quill::ui::ReaderOpener(app.service(), app.loop(), body_font->text_font());
  }
  auto window = std::make_unique<quill::ui::MainWindow>(app.service(), window_options);
  window->resize(quill::ui::HandheldSize());
  alert.on_clicked = [&window] {
    window->showNormal();
    window->raise();
    window->activateWindow();
  };
  instance.Listen([&window](const QStringList& arguments) {
    std::fprintf(stderr, "quillpost: another copy handed over: %s\n",
                 arguments.join(' ').toUtf8().constData());
    QWidget* top = QApplication::activeModalWidget();
    if (top == nullptr) top = window.get();
    window->showNormal();
    top->raise();
    top->activateWindow();
  });

  if (runner) runner->Attach(app.service(), window.get());
  // Signing in may show the login screen, whose event loop runs the
  // script's first steps.
  if (!ended && window->StartUp() && !ended) {
    window->show();
    window->activateWindow();
    qt.exec();
  }
  runner.reset();
  window.reset();
  app.Shutdown();
  return exit_code;
}
