// The journal of a mailbox's changes, numbered by sync key, compacted as it
// grows: it holds at most two entries per object (folder, mail or contact),
// the object's add and its latest change after it.
//
// A client at key K is sent the entries after K. An update supersedes the
// object's older update, and a delete everything before it: the later entry
// reaches every client the older one would have reached, and what an entry
// says is built from the object's state when it is sent. The add stays
// until a delete, for clients from before it. So the journal's length is
// bounded by the objects the mailbox ever held, not by how often they
// changed; every key it issued stays valid; and a client that was away for
// long receives each changed object once (twice when it is new to it). A
// deleted object keeps its delete entry (its tombstone): ids are never
// reused, so it tells a client that held the object to drop it, and costs
// nothing to one that did not.
//
// Thread safety: none; the Mailbox serialises its calls.
#ifndef QUILL_GATEWAY_MAILBOX_JOURNAL_H_
#define QUILL_GATEWAY_MAILBOX_JOURNAL_H_

#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

namespace quill {
namespace gateway {

struct JournalEntry {
  enum Kind : uint8_t {
    kAddFolder = 1,
    kDelFolder = 2,
    kAddMail = 3,
    kUpdateMail = 4,
    kDelMail = 5,
    kAddContact = 6,
    kUpdateContact = 7,  // the name changed
    kDelContact = 8,
  };
  // What kind of object an entry is about; ids are unique within one.
  enum Object : uint8_t { kFolder = 1, kMail = 2, kContact = 3 };

  uint32_t seq = 0;  // the sync key after this entry
  Kind kind = kAddMail;
  uint32_t id = 0;   // FolderID, ServerID or contact id

  static bool ValidKind(int64_t kind) { return kind >= kAddFolder && kind <= kDelContact; }
  static Object ObjectOf(Kind kind);
  static bool IsAdd(Kind kind) {
    return kind == kAddFolder || kind == kAddMail || kind == kAddContact;
  }
  static bool IsDelete(Kind kind) {
    return kind == kDelFolder || kind == kDelMail || kind == kDelContact;
  }
};

class MailboxJournal {
 public:
  // Empty; the first entry gets sequence number `next_seq` (at least 1).
  explicit MailboxJournal(uint32_t next_seq = 1);

  // Drops every entry; the next one is numbered `next_seq`.
  void Reset(uint32_t next_seq);

  // Numbers the next entry `next_seq` or above.
  void SkipTo(uint32_t next_seq) { next_seq_ = next_seq > next_seq_ ? next_seq : next_seq_; }

  // Journals a change of object (kind's object, id) at the next sequence
  // number, superseding older entries of the object as said above.
  void Append(JournalEntry::Kind kind, uint32_t id);

  // Puts back an entry read from storage, which holds entries in sequence
  // order; older entries of the same object are superseded as by Append.
  // False when the entry's number is not above every number used so far.
  bool Restore(const JournalEntry& entry);

  // Up to `max` entries numbered above `after`, in order. *through gets the
  // key a client holds once it has them: the last one's number when `max`
  // were returned, else the newest number.
  std::vector<JournalEntry> After(uint32_t after, size_t max, uint32_t* through) const;

  // The object's entries (none, one or two), in order.
  std::vector<JournalEntry> EntriesOf(JournalEntry::Object object, uint32_t id) const;

  // Every entry, in order.
  std::vector<JournalEntry> All() const;

  uint32_t newest() const { return next_seq_ - 1; }  // 0 before any number was used
  uint32_t next_seq() const { return next_seq_; }
  size_t size() const { return entries_.size() - holes_; }

 private:
  // The numbers of an object's entries; 0 for none.
  struct Held {
    uint32_t add = 0;     // its add
    uint32_t change = 0;  // its update or delete after the add, or a delete alone
  };

  static uint64_t KeyOf(JournalEntry::Object object, uint32_t id) {
    return (uint64_t{object} << 32) | id;
  }
  // Index in entries_ of the entry numbered `seq`, which must exist.
  size_t IndexOf(uint32_t seq) const;
  // Puts `entry` last, superseding older entries of its object.
  void Place(const JournalEntry& entry);
  // Turns the entry numbered `seq` (not 0) into a hole.
  void Drop(uint32_t seq);

  // Entries in sequence order, with holes where an entry was superseded
  // (seq kept, id 0 and kind 0) until more than half are holes.
  std::vector<JournalEntry> entries_;
  size_t holes_ = 0;
  std::unordered_map<uint64_t, Held> held_;  // by (object, id)
  uint32_t next_seq_ = 1;
};

}  // namespace gateway
}  // namespace quill

#endif  // QUILL_GATEWAY_MAILBOX_JOURNAL_H_
