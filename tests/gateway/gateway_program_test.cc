// quillpost-gateway as scripts run it: first line, control input, stop,
// and the exit status of a busy port or a bad state directory.
#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/wait.h>

#include <string>

#include "gateway/account_book.h"
#include "gateway/gateway_server.h"
#include "tests/temp_dir.h"

namespace quill {
namespace {

// Runs the program through the shell; its stdout and exit status.
int RunGateway(const std::string& args, std::string* out) {
  const std::string command = std::string(QUILL_GATEWAY_BINARY) + " " + args;
  FILE* p = popen(command.c_str(), "r");
  if (p == nullptr) return -1;
  out->clear();
  char buf[512];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out->append(buf, n);
  const int status = pclose(p);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(GatewayProgram, ServesUntilQuitAndSaysWhereFirst) {
  TempDir dir;
  std::string out;
  ASSERT_EQ(RunGateway("--state " + dir.path() + " add-account alice secret --uin 10001", &out), 0);
  ASSERT_EQ(RunGateway("--state " + dir.path() + " --port 0 --fault auth=drop 2>&1 <<'EOF'\n"
                "fault all=http500\nclear\nquit\nEOF",
                &out),
            0)
      << out;
  EXPECT_EQ(out.rfind("listening on 127.0.0.1:", 0), 0u) << out;
  EXPECT_NE(out.find("\nmodulus: "), std::string::npos);
  EXPECT_NE(out.find("\nok\nok\nstopped\n"), std::string::npos) << out;
  EXPECT_TRUE(DefaultFileSystem()->Exists(dir.path() + "/client.cfg"));
}

TEST(GatewayProgram, BusyPortAndBadStateAreErrors) {
  TempDir dir;
  gateway::GatewayOptions options;
  options.state_dir = dir.path();
  gateway::GatewayServer holder(options);
  std::string why, out;
  ASSERT_TRUE(holder.Start(&why)) << why;
  EXPECT_EQ(RunGateway("--state " + dir.path() + " --port " + std::to_string(holder.port()) +
                    " 2>&1 </dev/null",
                &out),
            1);
  EXPECT_NE(out.find("cannot listen on"), std::string::npos) << out;
  holder.Stop();

  ASSERT_TRUE(DefaultFileSystem()->ReplaceAtomically(dir.path() + "/accounts.cfg",
                                                     ByteView(std::string("broken\n"))));
  EXPECT_EQ(RunGateway("--state " + dir.path() + " --port 0 2>&1 </dev/null", &out), 1);
  EXPECT_NE(out.find("accounts.cfg:1:"), std::string::npos) << out;
  EXPECT_EQ(RunGateway("--port 0 2>&1", &out), 2);
  EXPECT_NE(out.find("usage:"), std::string::npos);
}

}  // namespace
}  // namespace quill
