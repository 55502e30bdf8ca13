// quillpost-cli keeping a Maildir in step through the gateway: sync and
// list, changes on either side reaching the other, across a failed sync.
#include <gtest/gtest.h>

#include <sstream>

#include "tests/gateway/client_rig.h"
#include "tests/gateway/maildir_writer.h"
#include "store/global_settings.h"
#include "tools/cli/cli.h"

namespace quill {
namespace {

class CliMailboxEndToEnd : public ClientGatewayTest {
 protected:
  void SetUp() override {
    AddAccount("alice", "secret", 10001, "爱丽丝");
    StartGateway();
    maildir_ = gateway::MaildirPath(state_.path(), "alice");
    ASSERT_EQ(Cli({"login", "alice", "secret"}), 0) << err_.str();
    // The test mails have fixed dates: no history span, so they never
    // become too old to be sent.
    store::GlobalSettings settings(DefaultFileSystem());
    settings.SetDataDir(data_.path());
    ASSERT_TRUE(settings.Set(store::global_keys::kAutoDeleteSpan, 0));
  }
  int Cli(std::vector<std::string> command) {
    out_.str("");
    err_.str("");
    std::vector<std::string> args = {"--data", data_.path(), "--gateway-config", config_path_,
                                     "--timeout", "10"};
    args.insert(args.end(), command.begin(), command.end());
    return cli::RunCli(args, out_, err_);
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
  std::string maildir_;
  std::ostringstream out_, err_;
};

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

}  // namespace
}  // namespace quill
