// One folder's 512-byte record in "folders.idx": 0 FolderID, 4 the name
// (UTF-8, at most 99 bytes, cut at a character boundary, NUL-terminated),
// 104 the excluded flag (1 = the user chose not to fetch its mail), zero.
#ifndef QUILL_STORE_FOLDER_RECORD_H_
#define QUILL_STORE_FOLDER_RECORD_H_

#include <cstdint>
#include <string>

#include "platform/bytes.h"

namespace quill {
namespace store {

class FolderRecord {
 public:
  static constexpr uint32_t kSize = 512;
  static constexpr uint32_t kNameAt = 4;
  static constexpr uint32_t kNameRoom = 100;  // with the terminator
  static constexpr uint32_t kExcludedAt = 104;

  FolderRecord() : raw_(kSize, 0) {}
  FolderRecord(uint32_t folder_id, const std::u16string& name);

  // False unless raw has kSize bytes.
  bool Decode(ByteView raw);
  const Bytes& raw() const { return raw_; }

  uint32_t folder_id() const;
  std::u16string name() const;
  void set_name(const std::u16string& name);
  bool excluded() const { return raw_[kExcludedAt] == 1; }
  void set_excluded(bool v) { raw_[kExcludedAt] = v ? 1 : 0; }

  uint32_t record_id = 0;  // its record in folders.idx; 0 = not stored

 private:
  Bytes raw_;  // kSize bytes
};

}  // namespace store
}  // namespace quill

#endif  // QUILL_STORE_FOLDER_RECORD_H_
