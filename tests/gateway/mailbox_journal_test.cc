// The compacted journal: what supersedes what, pages of it, and putting it
// back from storage.
#include "gateway/mailbox_journal.h"

#include <gtest/gtest.h>

#include <string>

namespace quill {
namespace gateway {
namespace {

using E = JournalEntry;

// Entries as "seq:kind:id" words.
std::string Words(const std::vector<JournalEntry>& entries) {
  std::string out;
  for (const JournalEntry& e : entries) {
    out += (out.empty() ? "" : " ") + std::to_string(e.seq) + ":" + std::to_string(e.kind) + ":" +
           std::to_string(e.id);
  }
  return out;
}

TEST(MailboxJournal, AnObjectKeepsItsAddAndItsLatestChangeAndADeleteEndsBoth) {
  MailboxJournal j;
  j.Append(E::kAddFolder, 1);  // 1
  j.Append(E::kAddMail, 7);    // 2
  j.Append(E::kAddMail, 8);    // 3
  j.Append(E::kUpdateMail, 7); // 4
  j.Append(E::kUpdateMail, 7); // 5: supersedes 4, the add stays
  j.Append(E::kDelMail, 8);    // 6: supersedes 3
  j.Append(E::kAddContact, 7); // 7: another kind of object, the same id
  j.Append(E::kUpdateContact, 7);
  EXPECT_EQ(Words(j.All()), "1:1:1 2:3:7 5:4:7 6:5:8 7:6:7 8:7:7");
  EXPECT_EQ(j.newest(), 8u);
  EXPECT_EQ(j.size(), 6u);
  EXPECT_EQ(Words(j.EntriesOf(E::kMail, 7)), "2:3:7 5:4:7");
  EXPECT_EQ(Words(j.EntriesOf(E::kMail, 8)), "6:5:8");
  EXPECT_EQ(Words(j.EntriesOf(E::kMail, 9)), "");
  // A client at 4 (it saw the first update) gets the newer one and the rest.
  uint32_t through = 0;
  EXPECT_EQ(Words(j.After(4, 100, &through)), "5:4:7 6:5:8 7:6:7 8:7:7");
  EXPECT_EQ(through, 8u);

  // A fixed folder deleted and made again: only its add is left.
  j.Append(E::kDelFolder, 1);
  j.Append(E::kAddFolder, 1);
  EXPECT_EQ(Words(j.EntriesOf(E::kFolder, 1)), "10:1:1");
  j.Append(E::kDelMail, 7);
  EXPECT_EQ(Words(j.All()), "6:5:8 7:6:7 8:7:7 10:1:1 11:5:7");
}

TEST(MailboxJournal, PagesAreReadAFewEntriesAtATime) {
  MailboxJournal j(1000);  // numbering continues above an earlier run's
  for (uint32_t id = 1; id <= 10; ++id) j.Append(E::kAddMail, id);
  j.Append(E::kUpdateMail, 3);  // 1010
  uint32_t through = 0;
  EXPECT_EQ(Words(j.After(0, 3, &through)), "1000:3:1 1001:3:2 1002:3:3");
  EXPECT_EQ(through, 1002u);
  EXPECT_EQ(Words(j.After(1007, 3, &through)), "1008:3:9 1009:3:10 1010:4:3");
  EXPECT_EQ(through, 1010u);
  EXPECT_TRUE(j.After(1010, 3, &through).empty());
  EXPECT_EQ(through, 1010u);
  EXPECT_TRUE(j.After(5000, 3, &through).empty());
  // Fewer than asked: the client is at the newest key.
  EXPECT_EQ(Words(j.After(1008, 3, &through)), "1009:3:10 1010:4:3");
  EXPECT_EQ(through, 1010u);
  j.SkipTo(2000);
  j.SkipTo(1500);  // never back
  j.Append(E::kDelMail, 1);
  EXPECT_EQ(j.newest(), 2000u);
  EXPECT_TRUE(j.After(1999, 3, &through).size() == 1 && through == 2000u);
}

TEST(MailboxJournal, ManyChangesOfFewObjectsStayShort) {
  MailboxJournal j;
  for (uint32_t id = 1; id <= 3; ++id) j.Append(E::kAddMail, id);
  for (int round = 0; round < 10000; ++round) j.Append(E::kUpdateMail, 1 + round % 3);
  EXPECT_EQ(j.size(), 6u);
  uint32_t through = 0;
  EXPECT_EQ(Words(j.After(3, 10, &through)), "10001:4:2 10002:4:3 10003:4:1");
  EXPECT_EQ(Words(j.After(10001, 10, &through)), "10002:4:3 10003:4:1");
  EXPECT_EQ(Words(j.After(0, 2, &through)), "1:3:1 2:3:2");
  EXPECT_EQ(through, 2u);
}

TEST(MailboxJournal, RestoredEntriesSupersedeAsAppendedOnesDo) {
  MailboxJournal j;
  // The first stored layout kept every entry: the same rules compact it.
  for (const JournalEntry& e : {E{1, E::kAddMail, 1}, E{2, E::kUpdateMail, 1},
                                E{5, E::kUpdateMail, 1}, E{6, E::kAddMail, 2},
                                E{9, E::kDelMail, 2}}) {
    ASSERT_TRUE(j.Restore(e));
  }
  EXPECT_EQ(Words(j.All()), "1:3:1 5:4:1 9:5:2");
  EXPECT_EQ(j.next_seq(), 10u);
  EXPECT_FALSE(j.Restore(E{9, E::kAddMail, 3}));  // not above the last
  EXPECT_FALSE(j.Restore(E{10, static_cast<E::Kind>(0), 3}));
  EXPECT_FALSE(j.Restore(E{11, static_cast<E::Kind>(9), 3}));
  j.Append(E::kAddMail, 3);
  uint32_t through = 0;
  EXPECT_EQ(Words(j.After(9, 10, &through)), "10:3:3");
}

}  // namespace
}  // namespace gateway
}  // namespace quill
