#include "store/address_book.h"

#include <gtest/gtest.h>

#include "store/le_bytes.h"
#include "tests/temp_dir.h"

namespace quill {
namespace store {
namespace {

class AddressBookTest : public ::testing::Test {
 protected:
  std::string Path() const { return dir_.path() + "/9/address.txt"; }
  TempDir dir_;
};

TEST(ContactRecordTest, GoldenBytesAndCuts) {
  ContactRecord c{0x0A0B0C0D, 0x01020304, std::string(50, 'n'), "a@b.c", "s1", std::string(90, 't')};
  Bytes raw = c.Encode();
  ASSERT_EQ(raw.size(), 512u);
  EXPECT_EQ(GetLe32(&raw[0]), 0x0A0B0C0Du);
  EXPECT_EQ(GetLe32(&raw[4]), 0x01020304u);
  EXPECT_EQ(raw[8], 0);
  EXPECT_EQ(std::string(raw.begin() + 9, raw.begin() + 48), std::string(39, 'n'));
  EXPECT_EQ(raw[48], 0);
  EXPECT_EQ(std::string(raw.begin() + 49, raw.begin() + 54), "a@b.c");
  EXPECT_EQ(std::string(raw.begin() + 259, raw.begin() + 261), "s1");
  EXPECT_EQ(std::string(raw.begin() + 299, raw.begin() + 378), std::string(79, 't'));
  EXPECT_EQ(raw[378], 0);
  for (size_t i = 109; i < 259; ++i) ASSERT_EQ(raw[i], 0);
  for (size_t i = 379; i < 512; ++i) ASSERT_EQ(raw[i], 0);
  ContactRecord back;
  ASSERT_TRUE(back.Decode(raw));
  EXPECT_EQ(back.name, std::string(39, 'n'));
  EXPECT_EQ(back.search2.size(), 79u);
  // A three-byte character is not split at the name's end.
  ContactRecord wide{1, 0, std::string(13, 'x') + "\xe4\xb8\xad\xe4\xb8\xad\xe4\xb8\xad\xe4\xb8\xad\xe4\xb8\xad\xe4\xb8\xad\xe4\xb8\xad\xe4\xb8\xad\xe4\xb8\xad", "a@b", "", ""};
  wide.Fit();
  EXPECT_EQ(wide.name.size(), 13u + 24);
}

TEST_F(AddressBookTest, AddUpdateDeleteAndReopen) {
  {
    AddressBook book(DefaultFileSystem());
    ASSERT_TRUE(book.Open(Path()));
    EXPECT_FALSE(book.AddContact(u"x", u"no-at-sign", 1, 10, u"", u""));
    EXPECT_TRUE(book.AddContact(u"Bob", u"bob@x.com", 5, 10, u"bb", u"bobby"));
    EXPECT_FALSE(book.AddContact(u"Other", u"other@x.com", 6, 10, u"", u""));  // same id
    EXPECT_FALSE(book.AddContact(u"Local", u"l@x.com", 6, kLocalContactId, u"", u""));
    EXPECT_TRUE(book.AddContact(u"Al", u"al@x.com", 9, 11, u"", u""));
    ASSERT_EQ(book.size(), 2u);
    EXPECT_EQ(book.RankList()[0]->record.name, "Bob");
    EXPECT_EQ(book.NameList()[0]->record.name, "Al");
    // Rank only: moves in the rank list, name and address stay.
    EXPECT_TRUE(book.UpdateContact(u"ignored", u"ignored", 20, 10, 4));
    EXPECT_EQ(book.RankList()[1]->record.name, "Bob");
    EXPECT_EQ(book.RankList()[1]->record.address, "bob@x.com");
    EXPECT_FALSE(book.UpdateContact(u"a", u"b", 1, 0, 7));
    EXPECT_FALSE(book.DeleteContact(kLocalContactId));
    size_t added = 0;
    ASSERT_TRUE(book.AddUnknownAddresses({u"\"Carl\"<carl@y.org>"}, &added));
    EXPECT_EQ(added, 1u);
    EXPECT_TRUE(book.DeleteContact(11));
  }
  AddressBook book(DefaultFileSystem());
  ASSERT_TRUE(book.Open(Path()));
  ASSERT_EQ(book.size(), 2u);
  std::vector<const Contact*> by_rank = book.RankList();
  EXPECT_EQ(by_rank[0]->record.name, "Carl");
  EXPECT_EQ(by_rank[0]->record.contact_id, kLocalContactId);
  EXPECT_EQ(by_rank[1]->record.rank, 20u);
  EXPECT_EQ(by_rank[1]->record.search2, "bobby");
  // The service's id 0xFFFFFFFF touches no local contact.
  EXPECT_FALSE(book.UpdateContact(u"evil", u"e@e", 1, kLocalContactId, 7));
  EXPECT_EQ(book.RankList()[0]->record.name, "Carl");
}

TEST_F(AddressBookTest, UnknownAddressesIgnoreCaseAndLongAddresses) {
  AddressBook book(DefaultFileSystem());
  ASSERT_TRUE(book.Open(Path()));
  book.AddContact(u"Bob", u"Bob@X.com", 1, 3, u"", u"");
  auto added = [&book](const std::vector<std::u16string>& list) {
    size_t n = 99;
    EXPECT_TRUE(book.AddUnknownAddresses(list, &n));
    return n;
  };
  EXPECT_EQ(added({u"\"B\"<bob@x.COM>", u"bob@x.com"}), 0u);
  const std::u16string longer = std::u16string(70, u'z') + u"@example.com";
  EXPECT_EQ(added({u"\"Z\"<" + longer + u">"}), 1u);
  EXPECT_EQ(added({u"\"Z\"<" + longer + u">"}), 0u);  // no duplicate on every mail
  EXPECT_EQ(added({u"\"\"<>", u"   "}), 0u);
  EXPECT_EQ(added({u"New Person <np@q.net>"}), 1u);
  EXPECT_EQ(book.size(), 3u);
  EXPECT_EQ(book.NameList()[1]->record.name, "New Person");
}

TEST_F(AddressBookTest, ViewsAndCompletion) {
  AddressBook book(DefaultFileSystem());
  ASSERT_TRUE(book.Open(Path()));
  for (uint32_t r = 1; r <= 25; ++r) {
    book.AddContact(u"", u"u" + std::u16string(1, static_cast<char16_t>(u'a' + r)) + u"@m.cn", r, 100 + r,
                    u"", u"");
  }
  std::vector<std::u16string> recent = book.RecentView();
  ASSERT_EQ(recent.size(), 21u);
  EXPECT_EQ(recent[0], u"\"uz\"<uz@m.cn>");       // rank 25
  EXPECT_EQ(recent[19], u"\"ug\"<ug@m.cn>");      // rank 6
  EXPECT_EQ(recent[20], kAllContactsEntry);
  book.AddContact(u"Zed", u"zed@", 99, 1, u"", u"");  // not a valid address
  EXPECT_EQ(book.RecentView()[0], u"\"uz\"<uz@m.cn>");
  EXPECT_EQ(book.AllView().size(), 25u);
  book.AddContact(u"Maria", u"m@n.org", 0, 2, u"mar", u"ZHANGSAN");
  EXPECT_EQ(book.Complete(u"MA"), (std::vector<std::u16string>{u"\"Maria\"<m@n.org>"}));
  EXPECT_EQ(book.Complete(u"zhang"), (std::vector<std::u16string>{u"\"Maria\"<m@n.org>"}));
  EXPECT_EQ(book.Complete(u"ub").size(), 1u);
  EXPECT_EQ(book.Complete(u"u").size(), 25u);
}

TEST(DisplayAddressTest, SplitAndJoin) {
  std::u16string name, address;
  AddressBook::SplitDisplayAddress(u"\"Li Lei\"<li@x.cn>", &name, &address);
  EXPECT_EQ(name, u"Li Lei");
  EXPECT_EQ(address, u"li@x.cn");
  AddressBook::SplitDisplayAddress(u" li@x.cn ", &name, &address);
  EXPECT_EQ(name, u"");
  EXPECT_EQ(address, u"li@x.cn");
  ContactRecord c;
  c.address = "han@mei.cn";
  EXPECT_EQ(AddressBook::DisplayAddress(c), u"\"han\"<han@mei.cn>");
}

}  // namespace
}  // namespace store
}  // namespace quill
