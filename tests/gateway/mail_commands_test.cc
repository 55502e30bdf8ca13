// sync, getmailbrief and getmailbody against a Maildir, spoken by hand.
#include "gateway/mail_commands.h"
#include "gateway/mail_parser.h"

#include <gtest/gtest.h>

#include <sqlite3.h>

#include <ctime>
#include <map>
#include <set>

#include "protocol/list_codec.h"
#include "tests/gateway/gateway_harness.h"
#include "tests/gateway/maildir_writer.h"

namespace quill {
namespace gateway {
namespace {

using protocol::CodecOk;
using protocol::ListReader;
using protocol::ListWriter;
using protocol::TagCodec;

struct ServerCommandSeen {
  int32_t type = 0;
  int32_t id = 0;       // ServerID or FolderID
  int32_t flags = -1;   // AddMail / UpdateMail
  int32_t folder = -1;  // AddMail / UpdateMail
  std::string subject;  // AddMail
  int32_t date = 0;     // AddMail
};

class MailCommandsTest : public GatewayHarness {
 protected:
  void SetUp() override {
    AddAccount("alice", "secret", 10001);
    StartGateway();
    SignIn("alice", "secret");
    maildir_ = MaildirPath(dir_.path(), "alice");
  }

  // One sync page from `key` with the given client commands (type, body).
  struct Page {
    int32_t result = -99;
    int32_t key = 0;
    int32_t more = 0;
    size_t wire_bytes = 0;
    std::vector<ServerCommandSeen> commands;
  };
  Page Sync(int32_t key, std::vector<std::pair<int32_t, TagCodec*>> client = {},
            uint32_t span_seconds = 0, std::vector<int32_t> excluded = {}) {
    protocol::WireMessage m;
    m.SetType(protocol::MessageType::Sync);
    TagCodec& b = m.Body();
    b.PutInt(8, 0x10030);
    b.PutBytes(9, ByteView(std::string("PocketPC")));
    b.PutBytes(1, ByteView(session_key_));
    b.PutBytes(2, ByteView(Bytes(16, 1)));
    b.PutInt(3, key);
    b.PutInt(4, 5);
    b.PutInt(6, static_cast<int32_t>(client.size()));
    b.PutBytes(5, ByteView());
    if (!client.empty()) {
      ListWriter list;
      for (auto& [type, body] : client) {
        TagCodec item;
        item.PutInt(1, type);
        item.PutCodec(2, body);
        list.Add(&item);
      }
      b.PutCodec(7, list.list());
    }
    b.PutUInt(10, span_seconds);
    if (!excluded.empty()) {
      TagCodec folders;
      for (size_t i = 0; i < excluded.size(); ++i) folders.PutInt(static_cast<uint32_t>(i + 1), excluded[i]);
      b.PutCodec(11, &folders);
    }
    Page page;
    protocol::WireMessage answer;
    EXPECT_EQ(Exchange("sync", &m, &answer, &page.wire_bytes), 0);
    const TagCodec& a = answer.Body();
    EXPECT_EQ(a.GetInt(1, &page.result), CodecOk);
    if (page.result != 0) return page;
    EXPECT_EQ(a.GetInt(2, &page.key), CodecOk);
    EXPECT_EQ(a.GetInt(3, &page.more), CodecOk);
    ListReader commands;
    EXPECT_EQ(commands.Open(a, 4, 6), CodecOk);
    for (int32_t i = 1; i <= commands.count(); ++i) {
      TagCodec item, body;
      ServerCommandSeen c;
      EXPECT_EQ(commands.Item(i, &item), CodecOk);
      EXPECT_EQ(item.GetInt(1, &c.type), CodecOk);
      EXPECT_EQ(item.GetCodec(2, &body), CodecOk);
      if (c.type == 12) {
        body.GetInt(2, &c.id);
        body.GetInt(3, &c.flags);
        body.GetInt(7, &c.folder);
      } else {
        body.GetInt(1, &c.id);
      }
      if (c.type == 11) {
        body.GetInt(2, &c.flags);
        body.GetInt(6, &c.folder);
        body.GetString(3, &c.subject);
        body.GetInt(7, &c.date);
      }
      page.commands.push_back(c);
    }
    int32_t briefs = -1;
    EXPECT_EQ(a.GetInt(5, &briefs), CodecOk);
    EXPECT_EQ(briefs, 0);
    return page;
  }

  std::string maildir_;
};

TEST_F(MailCommandsTest, InitialSyncPagesTheMailboxAndLaterSyncsSendOnlyChanges) {
  const std::string long_subject(160, 'x');
  for (int i = 0; i < 300; ++i) {
    Deliver(maildir_, "cur/" + std::to_string(1000 + i) + ".m:2,S",
            PlainMessage("邮件 " + std::to_string(i) + " " + long_subject, "s@x", "body"));
  }
  int32_t key = 0;
  std::vector<ServerCommandSeen> all;
  int pages = 0;
  for (Page p;; ) {
    p = Sync(key);
    ASSERT_EQ(p.result, 0);
    EXPECT_LE(p.wire_bytes, kMaxResponseBytes);
    ++pages;
    all.insert(all.end(), p.commands.begin(), p.commands.end());
    key = p.key;
    if (!p.more) break;
    ASSERT_LT(pages, 52);
  }
  EXPECT_GT(pages, 1);
  ASSERT_EQ(all.size(), 301u);
  EXPECT_EQ(all[0].type, 1);  // the inbox first
  EXPECT_EQ(all[0].id, static_cast<int32_t>(kInboxFolderId));
  std::set<int32_t> ids;
  for (size_t i = 1; i < all.size(); ++i) {
    EXPECT_EQ(all[i].type, 11);
    EXPECT_EQ(all[i].flags, 0);
    ids.insert(all[i].id);
  }
  EXPECT_EQ(ids.size(), 300u);
  EXPECT_EQ(all[1].subject, "邮件 0 " + long_subject);

  // Nothing changed: no command, the same key, no continuation.
  Page same = Sync(key);
  EXPECT_TRUE(same.commands.empty());
  EXPECT_EQ(same.key, key);
  EXPECT_EQ(same.more, 0);

  // The client deletes mail 1 and marks mail 2 unread; a mail arrives.
  TagCodec del, mark;
  del.PutInt(1, 1);
  mark.PutInt(1, 1);
  mark.PutInt(2, 2);
  mark.PutInt(3, 1);
  Deliver(maildir_, "new/9999.n", PlainMessage("new one", "n@x", "fresh"));
  Page changed = Sync(key, {{13, &del}, {12, &mark}});
  ASSERT_EQ(changed.result, 0);
  EXPECT_TRUE(DefaultFileSystem()->Exists(maildir_ + "/.Trash/cur/1000.m:2,S"));
  EXPECT_TRUE(DefaultFileSystem()->Exists(maildir_ + "/cur/1001.m:2,"));
  // The new mail (seen before the client's changes are applied), then the
  // trash appears before mail 1 moves into it; mail 2 is unread.
  ASSERT_EQ(changed.commands.size(), 4u);
  EXPECT_EQ(changed.commands[0].type, 11);
  EXPECT_EQ(changed.commands[0].flags, 1);
  EXPECT_EQ(changed.commands[1].type, 1);
  EXPECT_EQ(changed.commands[1].id, static_cast<int32_t>(kFirstSubfolderId));
  EXPECT_EQ(changed.commands[2].type, 12);
  EXPECT_EQ(changed.commands[2].id, 2);
  EXPECT_EQ(changed.commands[2].flags, 1);
  EXPECT_EQ(changed.commands[3].type, 12);
  EXPECT_EQ(changed.commands[3].id, 1);
  EXPECT_EQ(changed.commands[3].folder, static_cast<int32_t>(kFirstSubfolderId));
  // The next page repeats the client's commands: nothing changes again.
  Page again = Sync(changed.key, {{13, &del}, {12, &mark}});
  EXPECT_TRUE(again.commands.empty());
}

TEST_F(MailCommandsTest, ExcludedFoldersAndHistoryBeyondTheSpanStayOnTheService) {
  const std::time_t now = std::time(nullptr);
  char recent[64], old[64];
  std::strftime(recent, sizeof recent, "%a, %d %b %Y %H:%M:%S +0000", std::gmtime(&now));
  const std::time_t year_ago = now - 365 * 86400;
  std::strftime(old, sizeof old, "%a, %d %b %Y %H:%M:%S +0000", std::gmtime(&year_ago));
  const std::string today = std::to_string(now), last_year = std::to_string(year_ago);
  // History counts from arrival (the time in the file name), not from Date.
  Deliver(maildir_, "cur/" + today + ".a:2,S", PlainMessage("recent", "a@x", "b", recent));
  Deliver(maildir_, "cur/" + today + ".b:2,S", PlainMessage("delivered today", "a@x", "b", old));
  Deliver(maildir_, "cur/" + last_year + ".c:2,S", PlainMessage("kept a year", "a@x", "b", recent));
  Deliver(maildir_, ".Work/cur/" + today + ".d:2,S", PlainMessage("work", "a@x", "b", recent));
  Deliver(maildir_, ".Sent/cur/" + today + ".e:2,S", PlainMessage("sent", "a@x", "b", recent));
  Page p = Sync(0, {}, 30 * 86400, {100, 3});  // 3 (sent) cannot be excluded
  std::map<std::string, int32_t> dates;
  for (const ServerCommandSeen& c : p.commands) {
    if (c.type == 11) dates[c.subject] = c.date;
  }
  EXPECT_EQ(dates.size(), 3u);
  EXPECT_EQ(dates.count("kept a year"), 0u);
  EXPECT_EQ(dates.count("work"), 0u);
  // The Date header is the date shown, however old.
  EXPECT_EQ(dates["delivered today"], static_cast<int32_t>(year_ago));
  EXPECT_EQ(dates["recent"], static_cast<int32_t>(now));
  // Without the filter everything comes.
  p = Sync(0);
  int mails = 0;
  for (const ServerCommandSeen& c : p.commands) mails += c.type == 11;
  EXPECT_EQ(mails, 5);
}

TEST_F(MailCommandsTest, AClientWhoseKeyTheMailboxLostGetsEveryDeleteThenTheMailbox) {
  for (int i = 0; i < 40; ++i) {
    Deliver(maildir_, "cur/" + std::to_string(1000 + i) + ".m:2,S",
            PlainMessage("mail " + std::to_string(i), "s@x", "body"));
  }
  std::map<int32_t, std::string> held;  // ServerID -> subject, as the client keeps them
  auto apply = [&held](const Page& p) {
    for (const ServerCommandSeen& c : p.commands) {
      if (c.type == 11) held[c.id] = c.subject;
      if (c.type == 13) held.erase(c.id);
    }
  };
  int32_t key = 0;
  for (Page p;;) {
    p = Sync(key);
    ASSERT_EQ(p.result, 0);
    apply(p);
    key = p.key;
    if (!p.more) break;
  }
  ASSERT_EQ(held.size(), 40u);

  // The gateway stops, its database is lost, mails change, it starts again.
  server_.reset();
  ASSERT_TRUE(DefaultFileSystem()->Delete(dir_.path() + "/accounts/alice/mailbox.db"));
  for (int i = 0; i < 40; i += 2) {
    ASSERT_TRUE(DefaultFileSystem()->Delete(maildir_ + "/cur/" + std::to_string(1000 + i) + ".m:2,S"));
  }
  Deliver(maildir_, "new/2000.n", PlainMessage("arrived meanwhile", "s@x", "body"));
  StartGateway();
  SignIn("alice", "secret");

  int deletes = 0;
  for (Page p;;) {
    p = Sync(key);
    ASSERT_EQ(p.result, 0);
    for (const ServerCommandSeen& c : p.commands) deletes += c.type == 13;
    apply(p);
    key = p.key;
    if (!p.more) break;
  }
  EXPECT_EQ(deletes, 40);  // every ServerID the client might hold
  std::set<std::string> subjects;
  for (const auto& [id, subject] : held) {
    EXPECT_GT(id, 40) << "a ServerID came back";
    subjects.insert(subject);
  }
  std::set<std::string> want{"arrived meanwhile"};
  for (int i = 1; i < 40; i += 2) want.insert("mail " + std::to_string(i));
  EXPECT_EQ(subjects, want);
  EXPECT_EQ(held.size(), want.size());

  // A new client (key 0) is sent the mailbox alone, without the deletes.
  int commands = 0;
  for (Page p = Sync(0);; p = Sync(p.key)) {
    ASSERT_EQ(p.result, 0);
    for (const ServerCommandSeen& c : p.commands) {
      EXPECT_NE(c.type, 13);
      ++commands;
    }
    if (!p.more) break;
  }
  EXPECT_EQ(commands, 1 + 21);  // the inbox, the mails
}

TEST_F(MailCommandsTest, RequestsFailWhenTheirChangesCannotBeCommitted) {
  Deliver(maildir_, "cur/1.a:2,S", PlainMessage("one", "s@x", "body"));
  Page first = Sync(0);
  ASSERT_EQ(first.result, 0);
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open((dir_.path() + "/accounts/alice/mailbox.db").c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
  Deliver(maildir_, "new/2.b", PlainMessage("two", "s@x", "body"));
  EXPECT_EQ(Sync(first.key).result, kMailResultMailboxUnreadable);
  // Not "no such mail": the mailbox cannot answer now.
  for (const char* command : {"getmailbrief", "getmailbody"}) {
    protocol::WireMessage request, answer;
    request.SetType(std::string(command) == "getmailbrief" ? protocol::MessageType::GetMailBrief
                                                           : protocol::MessageType::GetMailBody);
    request.Body().PutInt(2, 1);
    request.Body().PutInt(3, 0);
    ASSERT_EQ(Exchange(command, &request, &answer), 0);
    int32_t result = 0;
    answer.Body().GetInt(1, &result);
    EXPECT_EQ(result, kMailResultMailboxUnreadable) << command;
  }
  ASSERT_EQ(sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(other);
  Page later = Sync(first.key);
  ASSERT_EQ(later.result, 0);
  int added = 0;
  for (const ServerCommandSeen& c : later.commands) added += c.type == 11 && c.subject == "two";
  EXPECT_EQ(added, 1);
}

TEST_F(MailCommandsTest, ContactsTravelAsAddContactCommands) {
  ASSERT_TRUE(DefaultFileSystem()->ReplaceAtomically(
      dir_.path() + "/accounts/alice/contacts.txt",
      ByteView(std::string("张三\tzhang@x.cn\nBob\tbob@x.com\n"))));
  Page p = Sync(0);
  int contacts = 0;
  for (const ServerCommandSeen& c : p.commands) contacts += c.type == 21;
  EXPECT_EQ(contacts, 2);
}

TEST_F(MailCommandsTest, MalformedSyncRequestsAreRefused) {
  TagCodec bad;
  bad.PutInt(1, 5);
  EXPECT_EQ(Sync(0, {{31, &bad}}).result, kMailResultBadRequest);  // never sent by a client
  TagCodec no_id;
  EXPECT_EQ(Sync(0, {{13, &no_id}}).result, kMailResultBadRequest);
}

TEST_F(MailCommandsTest, BriefCarriesHeadListsAndTheStartOfTheBody) {
  std::string body;
  for (int i = 0; i < 400; ++i) body += "第" + std::to_string(i) + "行\n";
  Deliver(maildir_, "new/1.a",
          "From: \"Zhang\" <z@example.cn>\r\nTo: a@x, b@x\r\nCc: c@x\r\nSubject: 简报\r\n"
          "Content-Type: text/plain; charset=utf-8\r\n\r\n" + body);
  ASSERT_EQ(Sync(0).result, 0);

  protocol::WireMessage request, answer;
  request.SetType(protocol::MessageType::GetMailBrief);
  request.Body().PutBytes(1, ByteView(session_key_));
  request.Body().PutInt(2, 1);
  ASSERT_EQ(Exchange("getmailbrief", &request, &answer), 0);
  const TagCodec& a = answer.Body();
  int32_t result = -1, sid = 0, length = 0, to = 0, version = 0;
  ASSERT_EQ(a.GetInt(1, &result), CodecOk);
  EXPECT_EQ(result, 0);
  a.GetInt(3, &sid);
  EXPECT_EQ(sid, 1);
  a.GetInt(4, &length);
  const std::string html = PlainToHtml(body);  // plain text is served as HTML
  EXPECT_EQ(length, static_cast<int32_t>(Utf8ToUtf16(html).size()));
  a.GetInt(6, &to);
  EXPECT_EQ(to, 2);
  ListReader to_list;
  ASSERT_EQ(to_list.Open(a, 7, 8), CodecOk);
  TagCodec second;
  ASSERT_EQ(to_list.Item(2, &second), CodecOk);
  std::string address, subject, brief, sender_name;
  second.GetString(1, &address);
  EXPECT_EQ(address, "b@x");
  TagCodec sender;
  ASSERT_EQ(a.GetCodec(5, &sender), CodecOk);
  sender.GetString(2, &sender_name);
  EXPECT_EQ(sender_name, "Zhang");
  a.GetString(13, &subject);
  EXPECT_EQ(subject, "简报");
  a.GetString(18, &brief);
  EXPECT_EQ(Utf8ToUtf16(brief).size(), kBriefUnits);
  EXPECT_EQ(html.compare(0, brief.size(), brief), 0);
  EXPECT_EQ(a.GetInt(19, &version), CodecOk);
  EXPECT_NE(version, 0);

  request.Body().Reset();
  request.Body().PutInt(2, 77);
  ASSERT_EQ(Exchange("getmailbrief", &request, &answer), 0);
  answer.Body().GetInt(1, &result);
  EXPECT_EQ(result, kMailResultNotFound);
}

TEST_F(MailCommandsTest, BodySlicesNeverSplitAPairAndJoinToTheBody) {
  // 4-byte characters (surrogate pairs), 3-byte ones and ASCII, mixed so
  // that byte budgets fall at every kind of boundary.
  std::string text;
  for (int i = 0; i < 6000; ++i) text += (i % 3 == 0) ? "\xF0\x9F\x98\x80" : (i % 3 == 1 ? "中" : "a");
  Deliver(maildir_, "new/1.a",
          "Subject: big\r\nContent-Type: text/plain; charset=utf-8\r\n\r\n" + text);
  ASSERT_EQ(Sync(0).result, 0);
  const std::u16string want = Utf8ToUtf16(text);

  std::u16string got;
  int32_t version = 0;
  for (int round = 0; round < 20 && got.size() < want.size(); ++round) {
    protocol::WireMessage request, answer;
    request.SetType(protocol::MessageType::GetMailBody);
    request.Body().PutInt(2, 1);
    request.Body().PutInt(3, static_cast<int32_t>(got.size()));
    request.Body().PutInt(4, 0x7FFFFFFF);
    if (!got.empty()) request.Body().PutInt(7, version);
    size_t wire = 0;
    ASSERT_EQ(Exchange("getmailbody", &request, &answer, &wire), 0);
    EXPECT_LE(wire, kMaxResponseBytes);
    int32_t result = -1, offset = -1, length = 0;
    std::string slice;
    answer.Body().GetInt(1, &result);
    ASSERT_EQ(result, 0);
    answer.Body().GetInt(4, &length);
    EXPECT_EQ(length, static_cast<int32_t>(want.size()));
    answer.Body().GetInt(6, &offset);
    EXPECT_EQ(offset, static_cast<int32_t>(got.size()));
    answer.Body().GetInt(7, &version);
    answer.Body().GetString(5, &slice);
    ASSERT_FALSE(slice.empty());
    const std::u16string part = Utf8ToUtf16(slice);
    EXPECT_FALSE(part.back() >= 0xD800 && part.back() <= 0xDBFF) << "slice ends inside a pair";
    got += part;
  }
  EXPECT_EQ(got, want);

  // A stale version restarts from 0 with -7.
  protocol::WireMessage request, answer;
  request.SetType(protocol::MessageType::GetMailBody);
  request.Body().PutInt(2, 1);
  request.Body().PutInt(3, 300);
  request.Body().PutInt(7, version + 1);
  ASSERT_EQ(Exchange("getmailbody", &request, &answer), 0);
  int32_t result = 0, offset = -1;
  answer.Body().GetInt(1, &result);
  answer.Body().GetInt(6, &offset);
  EXPECT_EQ(result, kMailResultVersionChanged);
  EXPECT_EQ(offset, 0);
  // An offset inside a pair is refused (the first character is one).
  request.Body().Reset();
  request.Body().PutInt(2, 1);
  request.Body().PutInt(3, 1);
  request.Body().PutInt(7, version);
  ASSERT_EQ(Exchange("getmailbody", &request, &answer), 0);
  answer.Body().GetInt(1, &result);
  EXPECT_EQ(result, kMailResultBadRequest);
}

}  // namespace
}  // namespace gateway
}  // namespace quill
