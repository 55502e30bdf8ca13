#include "store/auto_start.h"

#include <cerrno>
#include <cstdlib>

#include "platform/last_error.h"

namespace quill {
namespace store {
namespace {

std::string EntryName(const std::string& program_path) {
  size_t slash = program_path.find_last_of('/');
  std::string name = slash == std::string::npos ? program_path : program_path.substr(slash + 1);
  size_t dot = name.find_last_of('.');
  if (dot != std::string::npos && dot > 0) name.resize(dot);
  return name.empty() ? "quillpost" : name;
}

}  // namespace

XdgAutoStart::XdgAutoStart(FileSystem* fs, std::string autostart_dir, std::string program_path)
    : fs_(fs),
      program_path_(std::move(program_path)),
      entry_path_(std::move(autostart_dir) + "/" + EntryName(program_path_) + ".desktop") {}

std::string XdgAutoStart::EntryText(const std::string& program_path) {
  // Exec takes a quoted argument: ", `, $ and \ get a backslash, % doubles;
  // then the value's own escaping doubles every backslash again.
  std::string arg;
  for (char c : program_path) {
    if (c == '\n' || c == '\r') return std::string();
    if (c == '"' || c == '`' || c == '$') {
      arg += "\\\\";
      arg += c;
    } else if (c == '\\') {
      arg += "\\\\\\\\";
    } else if (c == '%') {
      arg += "%%";
    } else {
      arg += c;
    }
  }
  return "[Desktop Entry]\nType=Application\nName=Quillpost\nExec=\"" + arg +
         "\"\nX-GNOME-Autostart-enabled=true\n";
}

bool XdgAutoStart::SetEnabled(bool on) {
  if (!on) return !fs_->Exists(entry_path_) || fs_->Delete(entry_path_);
  std::string text = EntryText(program_path_);
  if (text.empty()) {
    SetLastError(EINVAL);
    return false;
  }
  return fs_->ReplaceAtomically(entry_path_, ByteView(text), 0644);
}

bool XdgAutoStart::IsEnabled() { return fs_->Exists(entry_path_); }

std::string XdgAutoStart::DefaultDir() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg && *xdg) return std::string(xdg) + "/autostart";
  const char* home = std::getenv("HOME");
  return std::string(home && *home ? home : ".") + "/.config/autostart";
}

}  // namespace store
}  // namespace quill
