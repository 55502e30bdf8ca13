// The handheld's screen: 240x320 device-independent pixels. Qt's offscreen
// platform defaults to 800x600; PrepareOffscreenScreen gives it one screen
// of that size through the platform's configuration file. Call it before
// the QApplication is made.
#ifndef QUILL_UI_HANDHELD_SCREEN_H_
#define QUILL_UI_HANDHELD_SCREEN_H_

#include <QSize>
#include <string>

namespace quill {
namespace ui {

inline constexpr int kScreenWidth = 240;
inline constexpr int kScreenHeight = 320;
inline QSize HandheldSize() { return QSize(kScreenWidth, kScreenHeight); }

// When QT_QPA_PLATFORM names the offscreen platform without options,
// writes the screen configuration to config_dir (made when missing) and
// points QT_QPA_PLATFORM at it. False when the file could not be written.
bool PrepareOffscreenScreen(const std::string& config_dir);

// Neither DISPLAY nor WAYLAND_DISPLAY is set.
bool NoDisplay();

}  // namespace ui
}  // namespace quill

#endif  // QUILL_UI_HANDHELD_SCREEN_H_
