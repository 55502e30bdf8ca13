// The start-with-device setting ("AUTORUN"): an entry that makes the
// desktop session start the program. On Linux it is an XDG autostart
// ".desktop" file named after the program.
//
// Thread safety: none; UI thread only.
#ifndef QUILL_STORE_AUTO_START_H_
#define QUILL_STORE_AUTO_START_H_

#include <string>

#include "platform/file_system.h"

namespace quill {
namespace store {

class AutoStart {
 public:
  virtual ~AutoStart() = default;
  // on: (re)writes the entry; off: removes it (a missing entry is fine).
  virtual bool SetEnabled(bool on) = 0;
  virtual bool IsEnabled() = 0;
};

class XdgAutoStart : public AutoStart {
 public:
  // The entry is autostart_dir + "/" + program file name without its
  // extension + ".desktop". fs must outlive this object.
  XdgAutoStart(FileSystem* fs, std::string autostart_dir, std::string program_path);

  // False for a program path that cannot be written into an entry (a line
  // break in it) or a failed write; the old entry is then unchanged.
  bool SetEnabled(bool on) override;
  bool IsEnabled() override;

  // The entry's text for program_path; empty when the path has a line break.
  static std::string EntryText(const std::string& program_path);
  // $XDG_CONFIG_HOME/autostart, else $HOME/.config/autostart.
  static std::string DefaultDir();
  const std::string& entry_path() const { return entry_path_; }

 private:
  FileSystem* const fs_;
  const std::string program_path_;
  const std::string entry_path_;
};

}  // namespace store
}  // namespace quill

#endif  // QUILL_STORE_AUTO_START_H_
