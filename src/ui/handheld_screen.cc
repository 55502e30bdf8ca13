#include "ui/handheld_screen.h"

#include <cstdlib>

#include "platform/file_system.h"

namespace quill {
namespace ui {

bool NoDisplay() {
  const char* x = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  return (x == nullptr || *x == '\0') && (wayland == nullptr || *wayland == '\0');
}

bool PrepareOffscreenScreen(const std::string& config_dir) {
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  if (platform == nullptr || std::string(platform) != "offscreen") return true;
  const std::string path = config_dir + "/offscreen-screen.json";
  const std::string json =
      "{\"screens\":[{\"name\":\"handheld\",\"x\":0,\"y\":0,\"width\":" +
      std::to_string(kScreenWidth) + ",\"height\":" + std::to_string(kScreenHeight) +
      ",\"logicalDpi\":96,\"logicalBaseDpi\":96,\"dpr\":1}]}\n";
  FileSystem* fs = DefaultFileSystem();
  if (!fs->MakeDirs(config_dir) || !fs->ReplaceAtomically(path, ByteView(json), 0600)) {
    return false;
  }
  const std::string value = "offscreen:configfile=" + path;
  return setenv("QT_QPA_PLATFORM", value.c_str(), 1) == 0;
}

}  // namespace ui
}  // namespace quill
