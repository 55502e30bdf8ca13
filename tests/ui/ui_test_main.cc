// The screens' tests run under Qt's offscreen platform on a 240x320 screen,
// in one QApplication for the whole program.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>
#include <ctime>
#include <string>

#include "ui/handheld_screen.h"
#include "ui/handheld_style.h"

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  setenv("TZ", "UTC", 1);  // date texts in pictures do not depend on the machine
  tzset();
  const std::string dir = "/tmp/quill-ui-tests-" + std::to_string(getpid());
  quill::ui::PrepareOffscreenScreen(dir);
  QApplication app(argc, argv);
  quill::ui::ApplyHandheldLook(&app);
  ::testing::InitGoogleTest(&argc, argv);
  const int result = RUN_ALL_TESTS();
  std::system(("rm -rf " + dir).c_str());
  return result;
}
