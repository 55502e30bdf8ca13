// Reading message files, and the Maildir as a journal of changes.
#include "gateway/mailbox.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include "gateway/mail_parser.h"
#include "platform/fault_file_system.h"
#include "tests/gateway/maildir_writer.h"
#include "tests/temp_dir.h"

namespace quill {
namespace gateway {
namespace {

TEST(MailParser, HeadersRecipientsAttachmentsAndTheHtmlBody) {
  const std::string message =
      "From: =?UTF-8?B?5byg5LiJ?= <zhang@example.cn>\r\n"
      "To: alice@example.com, \"Bob B\" <bob@example.com>\r\n"
      "Cc: team: carol@example.com, dave@example.com;\r\n"
      "Subject: =?GB2312?B?1tDOxNb3zOI=?= and English\r\n"
      "Date: Mon, 07 Dec 2026 10:00:00 +0000\r\n"
      "MIME-Version: 1.0\r\n"
      "Content-Type: multipart/mixed; boundary=\"outer\"\r\n\r\n"
      "--outer\r\n"
      "Content-Type: multipart/alternative; boundary=\"alt\"\r\n\r\n"
      "--alt\r\nContent-Type: text/plain; charset=gb2312\r\n"
      "Content-Transfer-Encoding: base64\r\n\r\n1tDOxA==\r\n"
      "--alt\r\nContent-Type: text/html; charset=utf-8\r\n\r\n<p>\xE4\xB8\xAD\xE6\x96\x87</p>\r\n"
      "--alt--\r\n"
      "--outer\r\n"
      "Content-Type: application/octet-stream\r\n"
      "Content-Disposition: attachment; filename=\"data.bin\"\r\n"
      "Content-Transfer-Encoding: base64\r\n\r\nAAECAwQFBgc=\r\n"
      "--outer--\r\n";
  const ParsedMail m = ParseMail(message);
  EXPECT_EQ(m.subject, "中文主题 and English");
  EXPECT_EQ(m.from.name, "张三");
  EXPECT_EQ(m.from.address, "zhang@example.cn");
  EXPECT_EQ(m.date, 1796637600);
  ASSERT_EQ(m.to.size(), 2u);
  EXPECT_EQ(m.to[1].name, "Bob B");
  ASSERT_EQ(m.cc.size(), 2u);  // the group is flattened
  EXPECT_EQ(m.cc[1].address, "dave@example.com");
  ASSERT_EQ(m.attachments.size(), 1u);
  EXPECT_EQ(m.attachments[0].name, "data.bin");
  EXPECT_EQ(m.attachments[0].size, 8u);
  EXPECT_TRUE(m.body_is_html);
  EXPECT_EQ(m.body.find("<p>中文</p>"), 0u);
}

TEST(MailParser, PlainBodyInItsCharsetAndGarbageGivesEmptyFields) {
  const ParsedMail plain = ParseMail(
      "Subject: hi\r\nContent-Type: text/plain; charset=gb2312\r\n"
      "Content-Transfer-Encoding: base64\r\n\r\n1tDOxA==\r\n");
  EXPECT_FALSE(plain.body_is_html);
  EXPECT_EQ(plain.body.substr(0, 6), "中文");
  EXPECT_EQ(PlainToHtml("a<b> & \"c\"\r\nd\ne"), "a&lt;b&gt; &amp; &quot;c&quot;<br>d<br>e");
  EXPECT_EQ(plain.date, 0);
  for (const std::string& junk :
       {std::string(), std::string("\0\0\0", 3), std::string(5000, '\xFF'),
        std::string("Content-Type: multipart/mixed; boundary=x\r\n\r\n--x\r\n--x\r\n")}) {
    const ParsedMail m = ParseMail(junk);
    EXPECT_TRUE(m.from.address.empty());
    EXPECT_TRUE(m.attachments.empty());
  }
}

class MailboxTest : public ::testing::Test {
 protected:
  std::string Maildir() const { return dir_.path() + "/Maildir"; }
  void SetUp() override {
    for (const char* sub : {"/cur", "/new", "/tmp"}) {
      ASSERT_TRUE(DefaultFileSystem()->MakeDirs(Maildir() + sub));
    }
  }
  // The journal after `key` as "kind:id" words.
  static std::string Journal(const Mailbox& box, int64_t key) {
    std::string out;
    for (const JournalEntry& e : box.EntriesAfter(key)) {
      out += (out.empty() ? "" : " ") + std::to_string(e.kind) + ":" + std::to_string(e.id);
    }
    return out;
  }
  TempDir dir_;
};

TEST_F(MailboxTest, ChangesInTheMaildirBecomeJournalEntries) {
  Deliver(Maildir(), "cur/100.a:2,S", PlainMessage("one", "a@x", "1"));
  Deliver(Maildir(), "new/200.b", PlainMessage("two", "b@x", "2"));
  Deliver(Maildir(), ".Sent/cur/300.c:2,S", PlainMessage("three", "c@x", "3"));
  Mailbox box(DefaultFileSystem(), Maildir());
  ASSERT_TRUE(box.Refresh());
  // Folders first (inbox 1, then .Sent 3), then mails in folder and name order.
  EXPECT_EQ(Journal(box, 0), "1:1 1:3 3:1 3:2 3:3");
  EXPECT_EQ(box.newest_key(), 5u);
  MailboxMail m;
  ASSERT_TRUE(box.FindMail(2, &m));
  EXPECT_TRUE(m.unread);
  EXPECT_EQ(m.folder_id, kInboxFolderId);
  ASSERT_TRUE(box.FindMail(3, &m));
  EXPECT_EQ(m.folder_id, kSentFolderId);
  MailHead head;
  ASSERT_TRUE(box.ReadHead(3, &head));
  EXPECT_EQ(head.subject, "three");

  // Read on the client: new/ -> cur/ with S. Moved by another client: the
  // same unique name in another folder. Deleted on the client: moved to
  // .Trash, a further folder, once however often the delete comes.
  ASSERT_TRUE(box.SetUnread(2, false));
  EXPECT_TRUE(DefaultFileSystem()->Exists(Maildir() + "/cur/200.b:2,S"));
  ASSERT_TRUE(DefaultFileSystem()->Rename(Maildir() + "/.Sent/cur/300.c:2,S",
                                          Maildir() + "/cur/300.c:2,RS"));
  ASSERT_TRUE(box.DeleteMail(1));
  Deliver(Maildir(), "new/400.d", PlainMessage("four", "d@x", "4"));
  ASSERT_TRUE(box.Refresh());
  // Listing order: folders, then each folder's cur/ before new/.
  EXPECT_EQ(Journal(box, 5), "1:100 4:2 4:3 3:4 4:1");
  EXPECT_TRUE(DefaultFileSystem()->Exists(Maildir() + "/.Trash/cur/100.a:2,S"));
  ASSERT_TRUE(box.DeleteMail(1));
  EXPECT_TRUE(DefaultFileSystem()->Exists(Maildir() + "/.Trash/cur/100.a:2,S"));
  ASSERT_TRUE(box.FindMail(3, &m));
  EXPECT_EQ(m.folder_id, kInboxFolderId);
  // From the beginning: only what exists now, as additions.
  EXPECT_EQ(Journal(box, 0), "1:1 1:3 3:1 3:2 3:3 1:100 3:4");
  // A key never issued also starts from the beginning.
  EXPECT_EQ(Journal(box, 99), Journal(box, 0));

  ASSERT_TRUE(box.SetUnread(2, true));
  EXPECT_TRUE(DefaultFileSystem()->Exists(Maildir() + "/cur/200.b:2,"));
  ASSERT_TRUE(box.Refresh());
  EXPECT_EQ(Journal(box, 10), "4:2");
  ASSERT_TRUE(box.Refresh());  // nothing changed, nothing journaled
  EXPECT_EQ(box.newest_key(), 11u);
}

TEST_F(MailboxTest, IdsAndJournalSurviveARestartAndADamagedStateStartsOver) {
  Deliver(Maildir(), "cur/1.a:2,S", PlainMessage("one", "a@x", "1"));
  {
    Mailbox box(DefaultFileSystem(), Maildir());
    ASSERT_TRUE(box.Refresh());
  }
  Deliver(Maildir(), "new/2.b", PlainMessage("two", "b@x", "2"));
  {
    Mailbox box(DefaultFileSystem(), Maildir());
    ASSERT_TRUE(box.Refresh());
    EXPECT_EQ(Journal(box, 2), "3:2");  // the old mail kept id 1
  }
  const std::string state = dir_.path() + "/mailbox.db";
  ASSERT_TRUE(DefaultFileSystem()->ReplaceAtomically(
      state, ByteView(std::string(4096, 'j'))));  // not a database
  Mailbox box(DefaultFileSystem(), Maildir());
  ASSERT_TRUE(box.Refresh());
  EXPECT_EQ(Journal(box, 0), "1:1 3:1 3:2");
  EXPECT_TRUE(DefaultFileSystem()->Exists(state + ".bad"));
}

TEST_F(MailboxTest, ContactsFileChangesBecomeContactEntries) {
  const std::string contacts = dir_.path() + "/contacts.txt";
  ASSERT_TRUE(DefaultFileSystem()->ReplaceAtomically(
      contacts, ByteView(std::string("# name\taddress\n张三\tzhang@x.cn\r\nBob\tbob@x.com\n"
                                     "no address line\nBad\tnot-an-address\n"))));
  {
    Mailbox box(DefaultFileSystem(), Maildir());
    ASSERT_TRUE(box.Refresh());
    EXPECT_EQ(Journal(box, 0), "1:1 6:1 6:2");  // in address order
    MailboxContact c;
    ASSERT_TRUE(box.FindContact(2, &c));
    EXPECT_EQ(c.name, "张三");
    ASSERT_TRUE(DefaultFileSystem()->ReplaceAtomically(
        contacts, ByteView(std::string("Zhang San\tZHANG@x.cn\nCarol\tcarol@x.com\n"))));
    ASSERT_TRUE(box.Refresh());
    EXPECT_EQ(Journal(box, 3), "8:1 7:2 6:3");  // Bob gone, Zhang renamed, Carol new
  }
  Mailbox again(DefaultFileSystem(), Maildir());
  ASSERT_TRUE(again.Refresh());
  EXPECT_EQ(again.newest_key(), 6u);  // kept in the state, nothing new
  EXPECT_EQ(Journal(again, 0), "1:1 6:2 6:3");
}

TEST_F(MailboxTest, UnlistableMaildirFailsAndOddFileNamesAreSkipped) {
  Deliver(Maildir(), "new/.hidden", "x");
  Deliver(Maildir(), "new/tab\tname", "x");
  Mailbox box(DefaultFileSystem(), Maildir());
  ASSERT_TRUE(box.Refresh());
  EXPECT_EQ(Journal(box, 0), "1:1");
  Mailbox missing(DefaultFileSystem(), dir_.path() + "/nothing");
  EXPECT_FALSE(missing.Refresh());
}

// Counts directory listings.
class ListingCounter : public FaultInjectingFileSystem {
 public:
  ListingCounter() : FaultInjectingFileSystem(DefaultFileSystem()) {}
  bool ListPrefix(const std::string& dir, const std::string& prefix,
                  std::vector<std::string>* names) override {
    ++listings;
    return FaultInjectingFileSystem::ListPrefix(dir, prefix, names);
  }
  int listings = 0;
};

// Sets a directory's modification time an hour back.
void Age(const std::string& dir) {
  struct timespec times[2];
  clock_gettime(CLOCK_REALTIME, &times[0]);
  times[0].tv_sec -= 3600;
  times[1] = times[0];
  ASSERT_EQ(utimensat(AT_FDCWD, dir.c_str(), times, 0), 0) << dir;
}

TEST_F(MailboxTest, SettledDirectoriesAreNotListedAgainUntilTheyChange) {
  Deliver(Maildir(), "cur/1.a:2,S", PlainMessage("one", "a@x", "1"));
  ListingCounter fs;
  Mailbox box(&fs, Maildir());
  ASSERT_TRUE(box.Refresh());  // recent times: listed, not trusted
  ASSERT_TRUE(box.Refresh());
  EXPECT_GE(fs.listings, 6);
  for (const char* d : {"", "/cur", "/new"}) Age(Maildir() + d);
  ASSERT_TRUE(box.Refresh());  // listed once more, now trusted
  const int after = fs.listings;
  ASSERT_TRUE(box.Refresh());
  ASSERT_TRUE(box.Refresh());
  EXPECT_EQ(fs.listings, after);
  // A delivery touches new/: seen at once.
  Deliver(Maildir(), "new/2.b", PlainMessage("two", "b@x", "2"));
  ASSERT_TRUE(box.Refresh());
  EXPECT_GT(fs.listings, after);
  EXPECT_EQ(Journal(box, 2), "3:2");
}

}  // namespace
}  // namespace gateway
}  // namespace quill
