// quillpost-cli keeping a Maildir in step through the gateway: sync and
// list, changes on either side reaching the other, across a failed sync;
// folders, contacts and the store check without the gateway; bodies of
// several slices.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <sstream>

#include "tests/e2e/client_rig.h"
#include "tests/gateway/maildir_writer.h"
#include "store/global_settings.h"
#include "store/le_bytes.h"
#include "store/mail_store.h"
#include "store/record_file.h"

namespace quill {
namespace {

// Every file and directory under `dir` with the bytes of the files.
std::map<std::string, std::string> Snapshot(const std::string& dir) {
  std::map<std::string, std::string> all;
  for (const auto& e : std::filesystem::recursive_directory_iterator(dir)) {
    std::string bytes;
    if (e.is_regular_file()) {
      std::ifstream in(e.path(), std::ios::binary);
      bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    all[e.path().string()] = bytes;
  }
  return all;
}

class CliMailboxEndToEnd : public ClientGatewayTest {
 protected:
  void SetUp() override {
    AddAccount("alice", "secret", 10001, "爱丽丝");
    StartGateway([this](gateway::GatewayServer* server) {
      auto body = std::make_unique<WatchedCommand>();
      body_ = body.get();
      body_->Wrap(server->AddSessionCommand("getmailbody", std::move(body)));
    });
    maildir_ = gateway::MaildirPath(state_.path(), "alice");
    ASSERT_EQ(Cli({"login", "alice", "secret"}), 0) << err_.str();
    // The test mails have fixed dates: no history span, so they never
    // become too old to be sent.
    store::GlobalSettings settings(DefaultFileSystem());
    settings.SetDataDir(data_.path());
    ASSERT_TRUE(settings.Set(store::global_keys::kAutoDeleteSpan, 0));
  }
  // A command with nothing but the data directory on its command line.
  int Offline(const std::vector<std::string>& command) {
    return RunCli({"--data", data_.path()}, command);
  }
  // check with nothing but the data directory: no gateway configuration.
  int Check(const std::vector<std::string>& command) {
    return RunCli({"--data", data_.path(), "check"}, command);
  }
  // The body show printed: everything after the head's blank line, without
  // the final line break.
  std::string ShownBody() const {
    const std::string all = out_.str();
    const size_t blank = all.find("\n\n");
    if (blank == std::string::npos || all.back() != '\n') return "<no body>";
    return all.substr(blank + 2, all.size() - blank - 3);
  }
  std::vector<std::string> Lines() const {
    std::vector<std::string> lines;
    std::istringstream in(out_.str());
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  void Deliver(const std::string& rel, const std::string& subject, int hour) {
    gateway::Deliver(maildir_, rel,
                     gateway::PlainMessage(subject, "\"Zhang\" <z@x.cn>", "body",
                                           "Mon, 07 Dec 2026 " + std::to_string(hour) +
                                               ":00:00 +0000"));
  }
  // The subject and shown body of every mail the client lists.
  std::map<std::string, std::string> ClientMailbox() {
    std::map<std::string, std::string> mails;
    EXPECT_EQ(Cli({"list"}), 0) << err_.str();
    for (const std::string& line : Lines()) {
      std::vector<std::string> f;
      std::istringstream in(line);
      for (std::string field; std::getline(in, field, '\t');) f.push_back(field);
      if (f.size() != 5) {
        ADD_FAILURE() << line;
        continue;
      }
      EXPECT_EQ(mails.count(f[3]), 0u) << "listed twice: " << f[3];
      EXPECT_EQ(Cli({"show", f[0]}), 0) << err_.str();
      mails[f[3]] = ShownBody();
    }
    return mails;
  }
  // The gateway stops, finds its "mailbox.db" gone or damaged when it starts
  // again, and mails changed meanwhile. A client from before ends, after one
  // sync, with exactly the mailbox: no ghost of a deleted mail, and every
  // body it held still under its own subject.
  void SyncAcrossALostMailboxDb(bool damaged) {
    for (int i = 0; i < 6; ++i) {
      const std::string subject = "m" + std::to_string(i);
      gateway::Deliver(maildir_, "cur/" + std::to_string(10 + i) + ".m:2,S",
                       gateway::PlainMessage(subject, "\"Zhang\" <z@x.cn>", "body of " + subject));
    }
    ASSERT_EQ(Cli({"sync"}), 0) << err_.str();
    ASSERT_EQ(ClientMailbox().size(), 6u);  // every body held now

    server_.reset();
    const std::string db = gateway::MailboxRoot(state_.path()) + "/alice/mailbox.db";
    if (damaged) {
      ASSERT_TRUE(DefaultFileSystem()->ReplaceAtomically(db, ByteView(std::string(8192, 'j'))));
    } else {
      ASSERT_TRUE(DefaultFileSystem()->Delete(db));
    }
    ASSERT_TRUE(DefaultFileSystem()->Delete(maildir_ + "/cur/10.m:2,S"));
    ASSERT_TRUE(DefaultFileSystem()->Delete(maildir_ + "/cur/13.m:2,S"));
    gateway::Deliver(maildir_, "new/20.n",
                     gateway::PlainMessage("n0", "\"Zhang\" <z@x.cn>", "body of n0"));
    StartGateway();

    ASSERT_EQ(Cli({"sync"}), 0) << err_.str();
    std::map<std::string, std::string> want;
    for (const char* subject : {"m1", "m2", "m4", "m5", "n0"}) {
      want[subject] = std::string("body of ") + subject;
    }
    EXPECT_EQ(ClientMailbox(), want);
  }

  std::string maildir_;
  WatchedCommand* body_ = nullptr;  // owned by server_
};

// U+1F600, a surrogate pair in UTF-16 and 4 bytes in UTF-8.
const std::string kSmile = "\xF0\x9F\x98\x80";

TEST_F(CliMailboxEndToEnd, SyncListAndChangesBothWays) {
  Deliver("new/1.a", "第一封", 10);
  Deliver("cur/2.b:2,S", "Second", 11);
  Deliver(".Sent/cur/3.c:2,S", "Sent one", 12);
  ASSERT_EQ(Cli({"sync"}), 0) << err_.str();
  EXPECT_EQ(err_.str(), "sync: 3 mails, 1 new\n");  // MailIDs follow the gateway's order: cur/ first
  ASSERT_EQ(Cli({"list"}), 0);
  EXPECT_EQ(Lines(), (std::vector<std::string>{
                         "3\t2026-12-07 12:00\t\"Zhang\"<z@x.cn>\tSent one\tread",
                         "1\t2026-12-07 11:00\t\"Zhang\"<z@x.cn>\tSecond\tread",
                         "2\t2026-12-07 10:00\t\"Zhang\"<z@x.cn>\t第一封\tunread"}));
  ASSERT_EQ(Cli({"list", "--unread"}), 0);
  EXPECT_EQ(Lines().size(), 1u);
  ASSERT_EQ(Cli({"list", "--folder", "3"}), 0);
  EXPECT_EQ(Lines().size(), 1u);

  // The service side changes: a mail arrives, one is read, one removed.
  Deliver("new/4.d", "Fourth", 13);
  ASSERT_TRUE(DefaultFileSystem()->Rename(maildir_ + "/new/1.a", maildir_ + "/cur/1.a:2,S"));
  ASSERT_TRUE(DefaultFileSystem()->Delete(maildir_ + "/.Sent/cur/3.c:2,S"));
  ASSERT_EQ(Cli({"sync"}), 0) << err_.str();
  ASSERT_EQ(Cli({"list"}), 0);
  EXPECT_EQ(Lines(), (std::vector<std::string>{
                         "4\t2026-12-07 13:00\t\"Zhang\"<z@x.cn>\tFourth\tunread",
                         "1\t2026-12-07 11:00\t\"Zhang\"<z@x.cn>\tSecond\tread",
                         "2\t2026-12-07 10:00\t\"Zhang\"<z@x.cn>\t第一封\tread"}));

  // Local changes reach the Maildir, also when the first sync fails.
  ASSERT_EQ(Cli({"mark", "4", "read"}), 0) << err_.str();
  ASSERT_EQ(Cli({"delete", "1"}), 0) << err_.str();
  server_->faults()->Set("sync", {gateway::FaultMode::kHttp500, 0});
  EXPECT_EQ(Cli({"sync"}), 1);
  EXPECT_TRUE(DefaultFileSystem()->Exists(maildir_ + "/new/4.d"));
  server_->faults()->ClearAll();
  ASSERT_EQ(Cli({"sync"}), 0) << err_.str();
  EXPECT_TRUE(DefaultFileSystem()->Exists(maildir_ + "/cur/4.d:2,S"));
  EXPECT_TRUE(DefaultFileSystem()->Exists(maildir_ + "/.Trash/cur/2.b:2,S"));
  ASSERT_EQ(Cli({"list"}), 0);
  EXPECT_EQ(Lines().size(), 2u);
  EXPECT_EQ(Lines()[0], "4\t2026-12-07 13:00\t\"Zhang\"<z@x.cn>\tFourth\tread");

  EXPECT_EQ(Cli({"mark", "99", "read"}), 1);
  EXPECT_EQ(Cli({"mark", "4", "maybe"}), 2);
}

TEST_F(CliMailboxEndToEnd, AnExpiredSessionIsRenewedSilentlyAndTheSyncRepeated) {
  for (int i = 0; i < 150; ++i) {
    Deliver("cur/" + std::to_string(100 + i) + ".m:2,S", std::string(150, 'a' + i % 26), 10);
  }
  ASSERT_EQ(Cli({"sync"}), 0) << err_.str();
  // Pages of at most 20480 bytes: a progress line for each further page.
  EXPECT_EQ(err_.str().rfind("sync: page 1, ", 0), 0u) << err_.str();
  EXPECT_NE(err_.str().find("\nsync: page 2, "), std::string::npos) << err_.str();
  EXPECT_NE(err_.str().find("\nsync: 150 mails, 0 new\n"), std::string::npos) << err_.str();
  // The session expires at the next request: a fresh login, and the copy
  // of the sync goes on from the stored key.
  Deliver("new/900.z", "late", 11);
  gateway::Fault expire{gateway::FaultMode::kExpire, 0, /*once=*/true};
  server_->faults()->Set("sync", expire);
  ASSERT_EQ(Cli({"sync"}), 0) << err_.str();
  EXPECT_EQ(err_.str(), "sync: 151 mails, 1 new\n");

  // A service that answers -3 every time: a bounded number of logins, then
  // the sync fails instead of looping.
  server_->faults()->Set("sync", {gateway::FaultMode::kExpire, 0});
  EXPECT_EQ(Cli({"sync"}), 1);
  EXPECT_NE(err_.str().find("-3"), std::string::npos) << err_.str();
}

TEST_F(CliMailboxEndToEnd, FoldersContactsAndCheckReadTheStoreWithoutTheGateway) {
  Deliver("new/1.a", "One", 10);
  Deliver("cur/2.b:2,S", "Two", 11);
  Deliver(".Sent/cur/3.c:2,S", "Three", 12);
  Deliver(".Work/cur/4.d", "Four", 13);
  gateway::Deliver(gateway::MailboxRoot(state_.path()) + "/alice", "contacts.txt",
                   "王五\twang@x.cn\n\tnoname@x.cn\nZed\tzed@x.cn\n");
  ASSERT_EQ(Cli({"sync"}), 0) << err_.str();
  server_->Stop();

  ASSERT_EQ(Cli({"folders"}), 0) << err_.str();
  EXPECT_EQ(Lines(), (std::vector<std::string>{"1\t收件箱\t2\t1", "3\t已发送\t1\t0",
                                               "100\tWork\t1\t1"}));
  ASSERT_EQ(Cli({"contacts"}), 0) << err_.str();
  // The service's contacts and the senders the sync came across.
  EXPECT_EQ(Lines(), (std::vector<std::string>{"\"Zed\"<zed@x.cn>", "\"Zhang\"<z@x.cn>",
                                               "\"noname\"<noname@x.cn>", "\"王五\"<wang@x.cn>"}));
  EXPECT_EQ(Cli({"folders", "extra"}), 2);

  // check needs no gateway configuration and writes nothing, not even one.
  ASSERT_TRUE(DefaultFileSystem()->Delete(data_.path() + "/gateway.cfg"));
  ASSERT_TRUE(DefaultFileSystem()->MakeDirs(data_.path() + "/20002"));  // an account never used
  const auto before = Snapshot(data_.path());
  ASSERT_EQ(Check({}), 0) << out_.str() << err_.str();
  EXPECT_NE(out_.str().find("account 10001: clean\n  mails.idx: 4 records"), std::string::npos)
      << out_.str();
  EXPECT_NE(out_.str().find("account 20002: clean\n  mails.idx: missing"), std::string::npos)
      << out_.str();
  EXPECT_EQ(Snapshot(data_.path()), before);

  // The newest record's slot (the header's first used slot, at byte 20)
  // points past the file's end.
  const std::string idx_path = data_.path() + "/10001/mails.idx";
  Bytes idx;
  ASSERT_TRUE(DefaultFileSystem()->ReadFile(idx_path, &idx));
  const uint32_t first = store::GetLe32(&idx[20]);
  ASSERT_GT(first, 0u);
  store::PutLe32(
      &idx[store::RecordFile::kHeaderSize + (first - 1) * store::MailStore::kSlotSize + 4], 999);
  ASSERT_TRUE(DefaultFileSystem()->ReplaceAtomically(idx_path, ByteView(idx)));
  const auto corrupt = Snapshot(data_.path());
  EXPECT_EQ(Check({}), 1);
  EXPECT_EQ(out_.str().find("account 10001: clean"), std::string::npos) << out_.str();
  EXPECT_NE(out_.str().find("  problem: mails.idx: used chain: slot 999 out of range; chain cut\n"),
            std::string::npos)
      << out_.str();
  EXPECT_NE(out_.str().find("account 20002: clean"), std::string::npos) << out_.str();
  EXPECT_EQ(Check({"--uin", "20002"}), 0);
  EXPECT_EQ(out_.str().find("10001"), std::string::npos) << out_.str();
  EXPECT_EQ(Check({"--uin", "10001"}), 1);
  EXPECT_EQ(Snapshot(data_.path()), corrupt);

  // A header whose slot size (at byte 32) is wrong.
  store::PutLe32(&idx[32], 4096);
  ASSERT_TRUE(DefaultFileSystem()->ReplaceAtomically(idx_path, ByteView(idx)));
  EXPECT_EQ(Check({"--uin", "10001"}), 1);
  EXPECT_NE(out_.str().find("problem: mails.idx: invalid header"), std::string::npos)
      << out_.str();

  EXPECT_EQ(Check({"--uin", "30003"}), 1);
  EXPECT_NE(err_.str().find("no account directory"), std::string::npos) << err_.str();
  EXPECT_EQ(Check({"--uin", "x"}), 2);
  EXPECT_EQ(Check({"--uin"}), 2);
  EXPECT_EQ(Check({"extra"}), 2);
}

// A store copied from elsewhere comes without "gateway.cfg": everything
// that needs only the store works; what needs the service says why not.
TEST_F(CliMailboxEndToEnd, AStoreWithoutGatewayConfigServesEverythingOffline) {
  Deliver("new/1.a", "One", 10);
  Deliver("new/2.b", "Two", 11);
  ASSERT_EQ(Cli({"sync"}), 0) << err_.str();
  ASSERT_EQ(Cli({"show", "1"}), 0) << err_.str();  // its body is held from now on
  const std::string shown = out_.str();
  ASSERT_TRUE(DefaultFileSystem()->Delete(data_.path() + "/gateway.cfg"));

  ASSERT_EQ(Offline({"list"}), 0) << err_.str();
  EXPECT_EQ(Lines().size(), 2u);
  ASSERT_EQ(Offline({"show", "1"}), 0) << err_.str();
  EXPECT_EQ(out_.str(), shown);
  ASSERT_EQ(Offline({"folders"}), 0) << err_.str();
  ASSERT_EQ(Offline({"contacts"}), 0) << err_.str();
  ASSERT_EQ(Offline({"mark", "2", "read"}), 0) << err_.str();
  ASSERT_EQ(Offline({"list", "--unread"}), 0) << err_.str();
  ASSERT_EQ(Lines().size(), 1u);  // only the other one
  EXPECT_EQ(Lines()[0].rfind("1\t", 0), 0u) << Lines()[0];
  ASSERT_EQ(Offline({"delete", "2"}), 0) << err_.str();
  ASSERT_EQ(Offline({"list"}), 0) << err_.str();
  EXPECT_EQ(Lines().size(), 1u);
  EXPECT_FALSE(DefaultFileSystem()->Exists(data_.path() + "/gateway.cfg"));

  // Only what reaches the service needs the configuration.
  Deliver("new/3.c", "Three", 12);
  EXPECT_EQ(Offline({"sync"}), 2);
  EXPECT_NE(err_.str().find("gateway.cfg"), std::string::npos) << err_.str();
  ASSERT_EQ(Cli({"sync"}), 0) << err_.str();  // the configuration is back
  ASSERT_TRUE(DefaultFileSystem()->Delete(data_.path() + "/gateway.cfg"));
  EXPECT_EQ(Offline({"show", "3"}), 2);  // its body is not held
  EXPECT_NE(err_.str().find("gateway.cfg"), std::string::npos) << err_.str();
}

TEST_F(CliMailboxEndToEnd, ShowJoinsSlicesWithoutSplittingSurrogatePairs) {
  // The pair crosses the brief's end and the first slice's end by two
  // bytes, and the second slice ends just after one.
  const std::string text =
      std::string(gateway::kBriefUnits - 1, 'a') + kSmile +
      std::string(gateway::kBodySliceBytes - 6, 'b') + kSmile +
      std::string(gateway::kBodySliceBytes - 8, 'c') + kSmile + kSmile + "完" + kSmile;
  gateway::Deliver(maildir_, "cur/5.e:2,S",
                   gateway::PlainMessage("Long", "\"Zhang\" <z@x.cn>", text));
  ASSERT_EQ(Cli({"sync"}), 0) << err_.str();
  ASSERT_EQ(Cli({"show", "1"}), 0) << err_.str();
  EXPECT_EQ(body_->requests, 3);
  EXPECT_TRUE(ShownBody() == text) << ShownBody().size() << " bytes shown of " << text.size();

  // Held whole: shown from the store alone.
  ASSERT_EQ(Cli({"show", "1"}), 0) << err_.str();
  EXPECT_EQ(body_->requests, 3);
  EXPECT_TRUE(ShownBody() == text);
}

TEST_F(CliMailboxEndToEnd, ShowStartsOverWhenTheBodyChangesBetweenSlices) {
  const std::string old_text = std::string(40000, 'x');
  // Its first slice is shorter than what the client holds by then.
  const std::string new_text = std::string(30000, 'y') + kSmile + "新";
  gateway::Deliver(maildir_, "cur/6.f:2,S",
                   gateway::PlainMessage("Changing", "\"Zhang\" <z@x.cn>", old_text));
  ASSERT_EQ(Cli({"sync"}), 0) << err_.str();
  body_->Before(2, [&] {
    gateway::Deliver(maildir_, "cur/6.f:2,S",
                     gateway::PlainMessage("Changing", "\"Zhang\" <z@x.cn>", new_text));
  });
  ASSERT_EQ(Cli({"show", "1"}), 0) << err_.str();
  EXPECT_EQ(body_->requests, 3);  // a slice of the old text, the new one from 0, its rest
  EXPECT_TRUE(ShownBody() == new_text) << ShownBody().size() << " bytes shown of "
                                       << new_text.size();
}

TEST_F(CliMailboxEndToEnd, AGatewayThatLostItsDatabaseLeavesTheClientWithExactlyItsMailbox) {
  SyncAcrossALostMailboxDb(/*damaged=*/false);
}

TEST_F(CliMailboxEndToEnd, AGatewayWithADamagedDatabaseLeavesTheClientWithExactlyItsMailbox) {
  SyncAcrossALostMailboxDb(/*damaged=*/true);
}

}  // namespace
}  // namespace quill
