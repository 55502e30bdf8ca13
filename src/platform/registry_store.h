// A small persistent store of text values under key paths, the
// counterpart of the user's registry hive. It lives in one file,
// "registry", in the configuration directory, and every change rewrites
// that file atomically (mode 0600).
//
// File format: one value per line, "key\tname\tvalue\n", all UTF-8, with
// backslash, tab, CR and LF inside a field written as "\\", "\t", "\r" and
// "\n" (key and value names are arbitrary paths, backslashes included).
// Unreadable lines are skipped.
//
// Thread safety: every member may be called from any thread.
#ifndef QUILL_PLATFORM_REGISTRY_STORE_H_
#define QUILL_PLATFORM_REGISTRY_STORE_H_

#include <mutex>
#include <string>

#include "platform/file_system.h"

namespace quill {

class RegistryStore {
 public:
  // Keeps its file in dir (created on the first write). fs must outlive it.
  RegistryStore(FileSystem* fs, std::string dir);

  // False (and *value untouched) when the value is absent or the file
  // cannot be read.
  bool GetString(const std::u16string& key, const std::u16string& name, std::u16string* value);
  // Creates the key when absent. False when the file could not be written;
  // the old file is then unchanged.
  bool SetString(const std::u16string& key, const std::u16string& name,
                 const std::u16string& value);
  bool Delete(const std::u16string& key, const std::u16string& name);

  // $XDG_CONFIG_HOME/quillpost, else $HOME/.config/quillpost.
  static std::string DefaultDir();

 private:
  FileSystem* const fs_;
  const std::string path_;  // dir + "/registry"
  std::mutex mu_;           // serialises read-modify-write cycles
};

}  // namespace quill

#endif  // QUILL_PLATFORM_REGISTRY_STORE_H_
