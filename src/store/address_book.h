// The account's contacts in "address.txt" (a record file of 520-byte
// slots), with two orders that each hold every contact: by rank (ascending)
// and by display name (the name, or the address when it has none; exact,
// case-sensitive). A hash of lower-cased addresses makes
// AddUnknownAddresses constant time per address.
//
// Addresses are compared in their stored form (cut to their field), so an
// address too long for the field is known the second time it is seen.
// Contact id 0xFFFFFFFF marks contacts added on the device; the service can
// neither add, update nor delete one under that id.
//
// Durability (see record_file.h): outside a group every change is
// committed before it returns (AddUnknownAddresses once for all it adds).
// A change whose write fails rolls the file back to its last commit and
// the lists are read again from it.
//
// Thread safety: none; UI thread only.
#ifndef QUILL_STORE_ADDRESS_BOOK_H_
#define QUILL_STORE_ADDRESS_BOOK_H_

#include <cstdint>
#include <list>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/file_system.h"
#include "store/contact_record.h"
#include "store/record_file.h"

namespace quill {
namespace store {

// The text the address picker shows after the recent contacts.
inline constexpr char16_t kAllContactsEntry[] = u"全部联系人";

struct Contact {
  uint32_t record_id;   // in address.txt; 0 = not stored (empty address)
  ContactRecord record; // the stored fields, already cut to their fields
};

class AddressBook {
 public:
  static constexpr uint32_t kSlotSize = 520;
  static constexpr size_t kRecentCount = 20;

  // fs must outlive this object.
  explicit AddressBook(FileSystem* fs) : records_(fs, kSlotSize) {}

  // Sets the path and reads every contact. False when the file could not
  // be opened.
  bool Open(const std::string& path);
  const RecordFileReport& report() const { return records_.report(); }
  // Changes between BeginGroup and EndGroup wait for Flush.
  void BeginGroup() { records_.BeginGroup(); }
  void EndGroup() { records_.EndGroup(); }
  // Makes every change so far durable.
  bool Flush() { return Settled(records_.Commit()); }
  // How often a failed write rolled "address.txt" back.
  uint64_t failures() const { return records_.failures(); }

  // Ignored (false) unless the address holds "@", for ids 0xFFFFFFFF and
  // for an id already present.
  bool AddContact(const std::u16string& name, const std::u16string& address, uint32_t rank,
                  uint32_t contact_id, const std::u16string& search1, const std::u16string& search2);
  // mask bit 0 name, bit 1 address, bit 2 rank.
  bool UpdateContact(const std::u16string& name, const std::u16string& address, uint32_t rank,
                     uint32_t contact_id, uint32_t mask);
  bool DeleteContact(uint32_t contact_id);
  // True when the service's contact with this id is in the book.
  bool HasContact(uint32_t contact_id) const { return by_id_.count(contact_id) != 0; }
  // Adds a local contact for every display address whose address (without
  // regard to case) is not in the book yet; *added (if given) gets how many.
  // False when they could not be stored.
  bool AddUnknownAddresses(const std::vector<std::u16string>& display_addresses,
                           size_t* added = nullptr);

  // Every contact, by rank and by display name.
  std::vector<const Contact*> RankList() const;
  std::vector<const Contact*> NameList() const;
  size_t size() const { return contacts_.size(); }

  // The 20 highest ranks with valid addresses, highest first, as display
  // addresses, then kAllContactsEntry.
  std::vector<std::u16string> RecentView() const;
  // The name list's valid addresses as display addresses.
  std::vector<std::u16string> AllView() const;
  // Display addresses, in name order, of the contacts whose name, address
  // or search texts begin with typed (without regard to case).
  std::vector<std::u16string> Complete(const std::u16string& typed) const;

  // "\"name\"<address>", the name derived from the address when empty.
  static std::u16string DisplayAddress(const ContactRecord& c);
  // Splits "\"name\"<address>", "name <address>" or a bare address.
  static void SplitDisplayAddress(const std::u16string& display, std::u16string* name,
                                  std::u16string* address);
  static bool IsValidAddress(const std::string& address);

 private:
  using Handle = std::list<Contact>::iterator;

  void Index(Handle h);
  void Unindex(Handle h);
  bool Store(Handle h);
  // Stores and lists a new contact; false (nothing listed) when it could
  // not be stored.
  bool Insert(ContactRecord record);
  // Reads every record into the lists.
  bool Load();
  // After a record operation: a failure that closed the file reloads.
  bool Settled(bool ok);

  RecordFile records_;
  std::list<Contact> contacts_;                      // owns every contact
  std::multimap<uint32_t, Handle> by_rank_;          // rank list
  std::multimap<std::string, Handle> by_name_;       // name list (UTF-8 display names)
  std::unordered_map<uint32_t, Handle> by_id_;       // service contacts by contact id
  std::unordered_map<std::string, size_t> addresses_;  // lower-cased address -> contacts
};

}  // namespace store
}  // namespace quill

#endif  // QUILL_STORE_ADDRESS_BOOK_H_
