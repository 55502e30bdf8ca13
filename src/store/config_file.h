// The KEY:VALUE settings file of "global.cfg" and "account.cfg".
//
// Format: UTF-16LE without a byte-order mark; lines joined by CR LF with no
// break after the last one; the key is everything before the first colon,
// the value everything after it. Keys compare exactly; the first matching
// line wins; lines without a colon are kept but never match. Reading also
// accepts a leading byte-order mark and LF-only lines.
//
// Integers are written in decimal; reading accepts leading white space, a
// sign and a "0x" prefix, and gives the caller's default for anything else
// (including values out of range). An unsigned read takes a negative value
// as its two's complement ("-26815" is 0xFFFF9741), down to the signed
// minimum of its width.
//
// Durability: the file is loaded on first use. Every save replaces it
// atomically (mode 0600, it may hold a password digest). A file that exists
// but could not be read completely is never overwritten: gets return their
// defaults and sets fail. CR and LF are removed from values on set.
//
// Thread safety: none; settings are touched on the UI thread only.
#ifndef QUILL_STORE_CONFIG_FILE_H_
#define QUILL_STORE_CONFIG_FILE_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_system.h"

namespace quill {
namespace store {

class ConfigFile {
 public:
  // fs must outlive this object.
  explicit ConfigFile(FileSystem* fs);

  // Only before the first get or set; false afterwards.
  bool SetPath(const std::string& path);
  const std::string& path() const { return path_; }

  std::u16string GetText(std::string_view key, std::u16string_view def);
  int32_t GetInt(std::string_view key, int32_t def);
  uint32_t GetUInt(std::string_view key, uint32_t def);
  uint64_t GetUInt64(std::string_view key, uint64_t def);

  // Each returns false when save was asked and the file was not written (the
  // in-memory value is then still updated, the file unchanged), or when the
  // key is empty or holds ':', CR or LF.
  bool SetText(std::string_view key, std::u16string_view value, bool save = true);
  bool SetInt(std::string_view key, int32_t value, bool save = true);
  bool SetUInt(std::string_view key, uint32_t value, bool save = true);
  bool SetUInt64(std::string_view key, uint64_t value, bool save = true);

  // Writes every line.
  bool Save();

  // The file's bytes for the current lines.
  Bytes Serialize() const;
  // Splits a file's bytes into lines (exposed for tests and tools).
  static std::vector<std::u16string> Parse(ByteView bytes);

 private:
  void Load();
  const std::u16string* Find(std::string_view key);
  // The value of key as a sign and a magnitude of at most max_positive, or
  // max_negative when negative; false when absent or malformed.
  bool ParseInteger(std::string_view key, uint64_t max_positive,
                    uint64_t max_negative, bool* negative, uint64_t* magnitude);

  FileSystem* const fs_;
  std::string path_;
  bool loaded_ = false;      // Load ran
  bool unreadable_ = false;  // the file exists but could not be read
  std::vector<std::u16string> lines_;  // without line breaks
};

}  // namespace store
}  // namespace quill

#endif  // QUILL_STORE_CONFIG_FILE_H_
