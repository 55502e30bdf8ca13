// One contact's 512-byte record in "address.txt": 0 contact id of the
// service (0xFFFFFFFF for a contact added on the device), 4 rank, 9 name
// (40), 49 address (60), 259 first search text (40), 299 second search text
// (80); texts UTF-8, NUL-terminated, cut at a character boundary to their
// room minus one; every other byte zero.
#ifndef QUILL_STORE_CONTACT_RECORD_H_
#define QUILL_STORE_CONTACT_RECORD_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/bytes.h"

namespace quill {
namespace store {

inline constexpr uint32_t kLocalContactId = 0xFFFFFFFF;

struct ContactRecord {
  static constexpr uint32_t kSize = 512;
  static constexpr uint32_t kNameAt = 9, kNameRoom = 40;
  static constexpr uint32_t kAddressAt = 49, kAddressRoom = 60;
  static constexpr uint32_t kSearch1At = 259, kSearch1Room = 40;
  static constexpr uint32_t kSearch2At = 299, kSearch2Room = 80;

  uint32_t contact_id = kLocalContactId;  // the service's id
  uint32_t rank = 0;                      // the service's order for recent contacts
  std::string name;                       // UTF-8, at most 39 bytes
  std::string address;                    // UTF-8, at most 59 bytes
  std::string search1;                    // UTF-8, at most 39 bytes
  std::string search2;                    // UTF-8, at most 79 bytes

  // Cuts every text to its field.
  void Fit();
  Bytes Encode() const;
  // False unless raw has kSize bytes.
  bool Decode(ByteView raw);
};

}  // namespace store
}  // namespace quill

#endif  // QUILL_STORE_CONTACT_RECORD_H_
