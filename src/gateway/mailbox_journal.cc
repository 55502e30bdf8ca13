#include "gateway/mailbox_journal.h"

#include <algorithm>

namespace quill {
namespace gateway {
namespace {

// The hole left by a superseded entry.
constexpr JournalEntry::Kind kHole = static_cast<JournalEntry::Kind>(0);
// Holes are squeezed out once there are more than this many and they are
// more than half of the vector.
constexpr size_t kMinHolesToSqueeze = 64;

}  // namespace

JournalEntry::Object JournalEntry::ObjectOf(Kind kind) {
  switch (kind) {
    case kAddFolder:
    case kDelFolder:
      return kFolder;
    case kAddContact:
    case kUpdateContact:
    case kDelContact:
      return kContact;
    default:
      return kMail;
  }
}

MailboxJournal::MailboxJournal(uint32_t next_seq) { Reset(next_seq); }

void MailboxJournal::Reset(uint32_t next_seq) {
  entries_.clear();
  holes_ = 0;
  held_.clear();
  next_seq_ = std::max<uint32_t>(next_seq, 1);
}

size_t MailboxJournal::IndexOf(uint32_t seq) const {
  return static_cast<size_t>(
      std::lower_bound(entries_.begin(), entries_.end(), seq,
                       [](const JournalEntry& e, uint32_t s) { return e.seq < s; }) -
      entries_.begin());
}

void MailboxJournal::Drop(uint32_t seq) {
  JournalEntry& e = entries_[IndexOf(seq)];
  e.kind = kHole;
  e.id = 0;
  ++holes_;
}

void MailboxJournal::Place(const JournalEntry& entry) {
  Held& held = held_[KeyOf(JournalEntry::ObjectOf(entry.kind), entry.id)];
  if (held.change != 0) Drop(held.change);
  held.change = 0;
  if (JournalEntry::IsAdd(entry.kind) || JournalEntry::IsDelete(entry.kind)) {
    if (held.add != 0) Drop(held.add);
    held.add = 0;
  }
  (JournalEntry::IsAdd(entry.kind) ? held.add : held.change) = entry.seq;
  entries_.push_back(entry);
  next_seq_ = entry.seq + 1;
  if (holes_ > kMinHolesToSqueeze && holes_ * 2 > entries_.size()) {
    entries_.erase(std::remove_if(entries_.begin(), entries_.end(),
                                  [](const JournalEntry& e) { return e.kind == kHole; }),
                   entries_.end());
    holes_ = 0;
  }
}

void MailboxJournal::Append(JournalEntry::Kind kind, uint32_t id) {
  JournalEntry e;
  e.seq = next_seq_;
  e.kind = kind;
  e.id = id;
  Place(e);
}

bool MailboxJournal::Restore(const JournalEntry& entry) {
  if (entry.seq < next_seq_ || !JournalEntry::ValidKind(entry.kind)) return false;
  Place(entry);
  return true;
}

std::vector<JournalEntry> MailboxJournal::After(uint32_t after, size_t max,
                                                uint32_t* through) const {
  std::vector<JournalEntry> out;
  size_t i = after >= next_seq_ ? entries_.size() : IndexOf(after + 1);
  for (; i < entries_.size() && out.size() < max; ++i) {
    if (entries_[i].kind != kHole) out.push_back(entries_[i]);
  }
  *through = out.size() == max && max > 0 ? out.back().seq : newest();
  return out;
}

std::vector<JournalEntry> MailboxJournal::EntriesOf(JournalEntry::Object object,
                                                    uint32_t id) const {
  std::vector<JournalEntry> out;
  auto it = held_.find(KeyOf(object, id));
  if (it == held_.end()) return out;
  for (uint32_t seq : {it->second.add, it->second.change}) {
    if (seq != 0) out.push_back(entries_[IndexOf(seq)]);
  }
  return out;
}

std::vector<JournalEntry> MailboxJournal::All() const {
  uint32_t through = 0;
  return After(0, entries_.size(), &through);
}

}  // namespace gateway
}  // namespace quill
