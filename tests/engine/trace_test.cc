#include "engine/trace.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quill {
namespace engine {
namespace {

class RecordingSink : public TraceSink {
 public:
  void Write(std::string_view file, std::string_view message, uint32_t v1, uint32_t v2) override {
    lines.push_back(std::string(file) + "|" + std::string(message) + "|" + std::to_string(v1) +
                    "|" + std::to_string(v2));
  }
  std::vector<std::string> lines;
};

TEST(TraceTest, SilentByDefaultAndSinkSeesBothEntryPoints) {
  EXPECT_EQ(WriteLog(kNetworkLog, "nothing", 1, 2), 0);
  RecordingSink sink;
  SetTraceSink(&sink);
  EXPECT_EQ(WriteLog(kNetworkLog, "Job Added (jobid)", 7, 0), 0);
  EXPECT_EQ(WriteDialLog(kDialupLog, "In HangUp: g_hConnection=NULL", 0, 0), 0);
  SetTraceSink(nullptr);
  WriteLog(kNetworkLog, "after", 0, 0);
  EXPECT_EQ(sink.lines, (std::vector<std::string>{"Network.txt|Job Added (jobid)|7|0",
                                                  "dialup.txt|In HangUp: g_hConnection=NULL|0|0"}));
}

}  // namespace
}  // namespace engine
}  // namespace quill
