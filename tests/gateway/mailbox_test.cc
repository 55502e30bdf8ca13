// Reading message files, and the Maildir as a journal of changes.
#include "gateway/mailbox.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <ctime>
#include <map>
#include <set>

#include "gateway/mail_parser.h"
#include "platform/fault_file_system.h"
#include "tests/gateway/maildir_writer.h"
#include "tests/temp_dir.h"

namespace quill {
namespace gateway {
namespace {

// Journal entries as "kind:id" words.
std::string Words(const std::vector<JournalEntry>& entries) {
  std::string out;
  for (const JournalEntry& e : entries) {
    out += (out.empty() ? "" : " ") + std::to_string(e.kind) + ":" + std::to_string(e.id);
  }
  return out;
}

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
  // The journal where a client at `key` continues, as "kind:id" words.
  static std::string Journal(const Mailbox& box, int64_t key) {
    uint32_t through = 0;
    return Words(box.EntriesAfter(box.ResumeAfter(key), SIZE_MAX, &through));
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
  // From the beginning: every add, and the latest change after it.
  EXPECT_EQ(Journal(box, 0), "1:1 1:3 3:1 3:2 3:3 1:100 4:2 4:3 3:4 4:1");
  // A key never issued also starts from the beginning.
  EXPECT_EQ(Journal(box, 99), Journal(box, 0));
  EXPECT_EQ(Journal(box, -1), Journal(box, 0));

  // Mail 2's newer change supersedes its older one; its add stays.
  ASSERT_TRUE(box.SetUnread(2, true));
  EXPECT_TRUE(DefaultFileSystem()->Exists(Maildir() + "/cur/200.b:2,"));
  ASSERT_TRUE(box.Refresh());
  EXPECT_EQ(Journal(box, 5), "1:100 4:3 3:4 4:1 4:2");
  ASSERT_TRUE(box.Refresh());  // nothing changed, nothing journaled
  EXPECT_EQ(box.newest_key(), 11u);
  // A delete supersedes the mail's add and change: a tombstone is left.
  ASSERT_TRUE(DefaultFileSystem()->Delete(Maildir() + "/cur/200.b:2,"));
  ASSERT_TRUE(box.Refresh());
  EXPECT_EQ(Journal(box, 0), "1:1 1:3 3:1 3:3 1:100 4:3 3:4 4:1 5:2");
  EXPECT_EQ(Journal(box, 11), "5:2");
}

TEST_F(MailboxTest, IdsAndJournalSurviveARestart) {
  Deliver(Maildir(), "cur/1.a:2,S", PlainMessage("one", "a@x", "1"));
  {
    Mailbox box(DefaultFileSystem(), Maildir());
    ASSERT_TRUE(box.Refresh());
  }
  Deliver(Maildir(), "new/2.b", PlainMessage("two", "b@x", "2"));
  Mailbox box(DefaultFileSystem(), Maildir());
  ASSERT_TRUE(box.Refresh());
  EXPECT_EQ(Journal(box, 2), "3:2");  // the old mail kept id 1
  EXPECT_FALSE(DefaultFileSystem()->Exists(dir_.path() + "/mailbox.db.bad"));
}

// How "mailbox.db" is lost between two runs of the gateway.
enum class DbLoss { kDeleted, kOverwritten, kTorn, kOlderCopy };

class MailboxDbLossTest : public MailboxTest, public ::testing::WithParamInterface<DbLoss> {};

// Whatever happened to the database, no number is handed out twice, and a
// client from before ends, after the journal from its key, with exactly
// the mails there are.
TEST_P(MailboxDbLossTest, StartsOverAboveTheMarkAndTellsOldClientsEverything) {
  const std::string db = dir_.path() + "/mailbox.db";
  Deliver(Maildir(), "cur/1.a:2,S", PlainMessage("one", "a@x", "1"));
  Deliver(Maildir(), ".Work/cur/2.b:2,S", PlainMessage("two", "b@x", "2"));
  Bytes older;
  uint32_t old_key = 0;
  {
    Mailbox box(DefaultFileSystem(), Maildir());
    ASSERT_TRUE(box.Refresh());  // folders 1, 100; mails 1, 2
  }
  ASSERT_TRUE(DefaultFileSystem()->ReadFile(db, &older));
  Deliver(Maildir(), "new/3.c", PlainMessage("three", "c@x", "3"));
  std::map<uint32_t, std::string> before;  // ServerID -> unique name, as a client holds them
  {
    Mailbox box(DefaultFileSystem(), Maildir());
    ASSERT_TRUE(box.Refresh());
    old_key = box.newest_key();
    for (uint32_t sid = 1; sid <= 3; ++sid) {
      MailboxMail m;
      ASSERT_TRUE(box.FindMail(sid, &m));
      before[sid] = m.unique;
    }
  }
  switch (GetParam()) {
    case DbLoss::kDeleted:
      ASSERT_TRUE(DefaultFileSystem()->Delete(db));
      break;
    case DbLoss::kOverwritten:
      ASSERT_TRUE(DefaultFileSystem()->ReplaceAtomically(db, ByteView(std::string(8192, 'j'))));
      break;
    case DbLoss::kTorn: {  // the second page scribbled over: the quick check fails
      std::unique_ptr<File> f = DefaultFileSystem()->Open(db, FileSystem::OpenMode::kReadWrite);
      ASSERT_NE(f, nullptr);
      const std::string junk(4096, '\x5A');
      ASSERT_TRUE(f->WriteAt(4096, junk.data(), junk.size()));
      break;
    }
    case DbLoss::kOlderCopy:
      ASSERT_TRUE(DefaultFileSystem()->ReplaceAtomically(db, older));
      break;
  }
  // Meanwhile mail 1 went away and another arrived.
  ASSERT_TRUE(DefaultFileSystem()->Delete(Maildir() + "/cur/1.a:2,S"));
  Deliver(Maildir(), "new/4.d", PlainMessage("four", "d@x", "4"));

  Mailbox box(DefaultFileSystem(), Maildir());
  ASSERT_TRUE(box.Refresh());
  EXPECT_GT(box.newest_key(), old_key);
  EXPECT_EQ(box.ResumeAfter(old_key), old_key);
  // Replay what a client at the old key is sent over what it held.
  std::map<uint32_t, std::string> held = before;
  uint32_t through = 0;
  for (const JournalEntry& e : box.EntriesAfter(old_key, SIZE_MAX, &through)) {
    MailboxMail m;
    if (e.kind == JournalEntry::kDelMail) held.erase(e.id);
    if (e.kind == JournalEntry::kAddMail) {
      ASSERT_TRUE(box.FindMail(e.id, &m));
      // A ServerID once given to another mail never comes back.
      if (before.count(e.id) != 0) {
        EXPECT_EQ(before[e.id], m.unique) << e.id;
      }
      held[e.id] = m.unique;
    }
  }
  std::map<uint32_t, std::string> now;
  for (const auto& [sid, unique] : held) {
    MailboxMail m;
    if (box.FindMail(sid, &m)) now[sid] = m.unique;
  }
  EXPECT_EQ(held, now) << "the client keeps a mail the mailbox does not have";
  std::set<std::string> uniques;
  for (const auto& [sid, unique] : held) uniques.insert(unique);
  EXPECT_EQ(uniques, (std::set<std::string>{"2.b", "3.c", "4.d"}));
  EXPECT_EQ(DefaultFileSystem()->Exists(db + ".bad"),
            GetParam() == DbLoss::kOverwritten || GetParam() == DbLoss::kTorn);
}

INSTANTIATE_TEST_SUITE_P(Losses, MailboxDbLossTest,
                         ::testing::Values(DbLoss::kDeleted, DbLoss::kOverwritten, DbLoss::kTorn,
                                           DbLoss::kOlderCopy));

TEST_F(MailboxTest, TheFirstDatabaseLayoutIsCompactedOnOpenAndItsKeysStayValid) {
  Deliver(Maildir(), "cur/1.a:2,S", PlainMessage("one", "a@x", "1"));
  Deliver(Maildir(), "cur/2.b:2,", PlainMessage("two", "b@x", "2"));
  // What the first layout held after: inbox, mails 1 and 2, mail 2 read
  // and unread again, mail 3 come and gone.
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open((dir_.path() + "/mailbox.db").c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db,
                         "CREATE TABLE meta(key TEXT PRIMARY KEY, value INTEGER NOT NULL);"
                         "CREATE TABLE folders(id INTEGER PRIMARY KEY, dir TEXT NOT NULL,"
                         " name TEXT NOT NULL);"
                         "CREATE TABLE mails(id INTEGER PRIMARY KEY, folder INTEGER NOT NULL,"
                         " unread INTEGER NOT NULL, uniq TEXT NOT NULL UNIQUE, path TEXT NOT NULL);"
                         "CREATE TABLE contacts(id INTEGER PRIMARY KEY, address TEXT NOT NULL,"
                         " name TEXT NOT NULL);"
                         "CREATE TABLE journal(seq INTEGER PRIMARY KEY, kind INTEGER NOT NULL,"
                         " id INTEGER NOT NULL);"
                         "INSERT INTO meta VALUES('next_server_id', 4), ('next_folder_id', 100),"
                         " ('next_contact_id', 1);"
                         "INSERT INTO folders VALUES(1, '', '收件箱');"
                         "INSERT INTO mails VALUES(1, 1, 0, '1.a', 'cur/1.a:2,S'),"
                         " (2, 1, 1, '2.b', 'cur/2.b:2,');"
                         "INSERT INTO journal VALUES(1, 1, 1), (2, 3, 1), (3, 3, 2), (4, 4, 2),"
                         " (5, 3, 3), (6, 4, 2), (7, 5, 3);",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(db);
  {
    Mailbox box(DefaultFileSystem(), Maildir());
    ASSERT_TRUE(box.Refresh());
    EXPECT_EQ(box.newest_key(), 7u);
    EXPECT_EQ(Journal(box, 0), "1:1 3:1 3:2 4:2 5:3");
    EXPECT_EQ(Journal(box, 4), "4:2 5:3");
  }
  Mailbox again(DefaultFileSystem(), Maildir());  // read back in the new layout
  ASSERT_TRUE(again.Refresh());
  EXPECT_EQ(Journal(again, 0), "1:1 3:1 3:2 4:2 5:3");
  Deliver(Maildir(), "new/4.d", PlainMessage("four", "d@x", "4"));
  ASSERT_TRUE(again.Refresh());
  EXPECT_EQ(Journal(again, 7), "3:4");  // a ServerID above every old one
  EXPECT_FALSE(DefaultFileSystem()->Exists(dir_.path() + "/mailbox.db.bad"));
}

TEST_F(MailboxTest, WithoutADatabaseAndADamagedMarkNothingIsServed) {
  Deliver(Maildir(), "cur/1.a:2,S", PlainMessage("one", "a@x", "1"));
  {
    Mailbox box(DefaultFileSystem(), Maildir());
    ASSERT_TRUE(box.Refresh());
  }
  const std::string ids = dir_.path() + "/" + kMailboxIdsFileName;
  ASSERT_TRUE(DefaultFileSystem()->ReplaceAtomically(ids, ByteView(std::string("server_id x\n"))));
  {
    Mailbox box(DefaultFileSystem(), Maildir());  // the database still knows: the mark is written again
    ASSERT_TRUE(box.Refresh());
    Deliver(Maildir(), "new/2.b", PlainMessage("two", "b@x", "2"));
    ASSERT_TRUE(box.Refresh());
  }
  MailboxIds mark;
  ASSERT_EQ(ReadIdMark(DefaultFileSystem(), ids, &mark), IdMarkRead::kRead);
  EXPECT_EQ(mark.server_id, 3u);
  ASSERT_TRUE(DefaultFileSystem()->ReplaceAtomically(ids, ByteView(std::string("junk"))));
  ASSERT_TRUE(DefaultFileSystem()->Delete(dir_.path() + "/mailbox.db"));
  Mailbox box(DefaultFileSystem(), Maildir());
  EXPECT_FALSE(box.Refresh());
}

TEST_F(MailboxTest, AFailedCommitFailsTheRefreshAndHandsNothingOut) {
  Deliver(Maildir(), "cur/1.a:2,S", PlainMessage("one", "a@x", "1"));
  FaultInjectingFileSystem fs(DefaultFileSystem());
  Mailbox box(&fs, Maildir());
  ASSERT_TRUE(box.Refresh());
  EXPECT_EQ(Journal(box, 0), "1:1 3:1");

  // The mark cannot be made durable: nothing is committed.
  Deliver(Maildir(), "new/2.b", PlainMessage("two", "b@x", "2"));
  fs.FailSync(1);
  EXPECT_FALSE(box.Refresh());
  // Another writer holds the database: the commit fails.
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open((dir_.path() + "/mailbox.db").c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
  EXPECT_FALSE(box.Refresh());
  ASSERT_EQ(sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(other);

  ASSERT_TRUE(box.Refresh());
  // Numbers the failed refreshes took are never used again: what the
  // database does not account for below the mark is deleted (the fixed
  // folders it does not hold too), and the mail comes once, with a new id.
  EXPECT_EQ(Journal(box, 2), "2:3 2:4 5:2 3:3");
  MailboxMail m;
  ASSERT_TRUE(box.FindMail(3, &m));
  EXPECT_EQ(m.unique, "2.b");
}

// Sets a file's or directory's modification time to `seconds`.
void SetModifiedTime(const std::string& path, int64_t seconds) {
  struct timespec times[2];
  times[0].tv_sec = static_cast<time_t>(seconds);
  times[0].tv_nsec = 0;
  times[1] = times[0];
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

TEST_F(MailboxTest, DateIsASaneDateHeaderElseTheArrivalNever1970) {
  const int64_t now = std::time(nullptr);
  const std::string hour_ago = std::to_string(now - 3600), day_ago = std::to_string(now - 86400);
  struct Case {
    std::string file;     // under cur/
    std::string date;     // the Date header; empty: none
    int64_t mtime;        // the file's modification time; 0: as written
    int64_t want_date;
    int64_t want_arrival;
  } cases[] = {
      {hour_ago + ".a:2,S", "Mon, 07 Dec 2026 10:00:00 +0000", 0, 1796637600, now - 3600},
      {hour_ago + ".b:2,S", "", 0, now - 3600, now - 3600},
      {hour_ago + ".c:2,S", "Thu, 01 Jan 1970 00:00:00 +0000", 0, now - 3600, now - 3600},
      {hour_ago + ".d:2,S", "Thu, 01 Jan 2099 00:00:00 +0000", 0, now - 3600, now - 3600},
      {hour_ago + ".e:2,S", "not a date at all", 0, now - 3600, now - 3600},
      // No time in the name (or none that is sane): the file's time.
      {"mail-e:2,S", "", now - 3 * 86400, now - 3 * 86400, now - 3 * 86400},
      {"5.f:2,S", "", now - 86400, now - 86400, now - 86400},
      {"99999999999.g:2,S", "", now - 86400, now - 86400, now - 86400},
      // An old Date on a mail delivered yesterday: the mail's date stays.
      {day_ago + ".h:2,S", "Sat, 07 Dec 2024 10:00:00 +0000", 0, 1733565600, now - 86400},
  };
  for (const Case& c : cases) {
    const std::string message = "From: a@x\r\nSubject: " + c.file + "\r\n" +
                                (c.date.empty() ? "" : "Date: " + c.date + "\r\n") + "\r\nbody";
    Deliver(Maildir(), "cur/" + c.file, message);
    if (c.mtime != 0) SetModifiedTime(Maildir() + "/cur/" + c.file, c.mtime);
  }
  Mailbox box(DefaultFileSystem(), Maildir());
  ASSERT_TRUE(box.Refresh());
  for (uint32_t sid = 1; sid <= std::size(cases); ++sid) {
    MailHead head;
    ASSERT_TRUE(box.ReadHead(sid, &head));
    const Case* c = nullptr;
    for (const Case& candidate : cases) {
      if (candidate.file == head.subject) c = &candidate;
    }
    ASSERT_NE(c, nullptr) << head.subject;
    EXPECT_EQ(head.date, c->want_date) << c->file;
    EXPECT_EQ(head.arrival, c->want_arrival) << c->file;
  }
  // A mail whose file went away since the listing still has a date, from its name.
  Deliver(Maildir(), "cur/" + day_ago + ".z:2,S", "Subject: z\r\n\r\nz");
  ASSERT_TRUE(box.Refresh());
  const uint32_t z = static_cast<uint32_t>(std::size(cases)) + 1;
  ASSERT_TRUE(DefaultFileSystem()->Delete(Maildir() + "/cur/" + day_ago + ".z:2,S"));
  MailHead head;
  EXPECT_FALSE(box.ReadHead(z, &head));
  EXPECT_EQ(head.date, now - 86400);
  EXPECT_TRUE(head.subject.empty());
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
  EXPECT_EQ(Journal(again, 0), "1:1 6:2 8:1 7:2 6:3");
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
