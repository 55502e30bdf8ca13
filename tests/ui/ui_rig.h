// A gateway on 127.0.0.1 with one account and a few mails, and the client's
// data directory pointing at it: what the screens' and the program's tests
// sign in to.
#ifndef QUILL_TESTS_UI_UI_RIG_H_
#define QUILL_TESTS_UI_UI_RIG_H_

#include <gtest/gtest.h>

#include <ctime>
#include <memory>
#include <string>

#include "gateway/account_book.h"
#include "gateway/gateway_cli.h"
#include "gateway/gateway_server.h"
#include "platform/file_system.h"
#include "tests/gateway/maildir_writer.h"
#include "tests/temp_dir.h"

namespace quill {
namespace ui {

inline constexpr char kRigAccount[] = "alice@example.com";
inline constexpr char kRigPassword[] = "secret";
inline constexpr uint32_t kRigUin = 10001;

class GatewayRig {
 public:
  // Adds the account and `mails` messages, every third one read; mail i
  // is older than mail i + 1.
  void Populate(int mails) {
    std::string why;
    ASSERT_TRUE(gateway::AddAccountWithMaildir(
        DefaultFileSystem(), state_.path(),
        {kRigAccount, gateway::PasswordDigestText(kRigPassword), kRigUin, kRigAccount, "爱丽丝"},
        &why))
        << why;
    const std::string maildir = state_.path() + "/accounts/" + kRigAccount + "/Maildir";
    const time_t now = time(nullptr);
    for (int i = 0; i < mails; ++i) {
      // An hour apart, the newest an hour ago: well inside the days kept.
      const time_t when = now - 3600 * (mails - i);
      struct tm tm;
      gmtime_r(&when, &tm);
      char date[64];
      strftime(date, sizeof date, "%a, %d %b %Y %H:%M:%S +0000", &tm);
      const std::string subject = "主题 " + std::to_string(i);
      const std::string rel = (i % 3 == 0 ? "cur/" : "new/") + std::to_string(1000 + i) +
                              ".rig" + (i % 3 == 0 ? ":2,S" : "");
      gateway::Deliver(maildir, rel,
                       gateway::PlainMessage(subject, "Sender " + std::to_string(i) +
                                                          " <s" + std::to_string(i) + "@example.com>",
                                             "正文 " + std::to_string(i), date));
    }
  }

  void Start(gateway::GatewayOptions options = gateway::GatewayOptions()) {
    options.state_dir = state_.path();
    server_ = std::make_unique<gateway::GatewayServer>(options);
    std::string why;
    ASSERT_TRUE(server_->Start(&why)) << why;
  }

  // The file a client is pointed at (quillpost --gateway-config).
  std::string client_config() const { return state_.path() + "/client.cfg"; }
  // Copies the client configuration into a data directory as gateway.cfg.
  void InstallConfig(const std::string& data_dir) {
    Bytes bytes;
    ASSERT_TRUE(DefaultFileSystem()->ReadFile(client_config(), &bytes));
    ASSERT_TRUE(DefaultFileSystem()->MakeDirs(data_dir));
    ASSERT_TRUE(DefaultFileSystem()->ReplaceAtomically(data_dir + "/gateway.cfg", ByteView(bytes)));
  }

  TempDir state_;
  std::unique_ptr<gateway::GatewayServer> server_;
};

}  // namespace ui
}  // namespace quill

#endif  // QUILL_TESTS_UI_UI_RIG_H_
