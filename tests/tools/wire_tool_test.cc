#include "tools/wire_tool.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "platform/hex.h"
#include "protocol/cipher_layer.h"
#include "protocol/envelope.h"
#include "protocol/wire_message.h"

namespace quill {
namespace {

struct ToolRun {
  int status;
  std::string out;
  std::string err;
};

ToolRun Wire(const std::vector<std::string>& args, const std::string& input) {
  std::istringstream in(input);
  std::ostringstream out, err;
  const int status = RunWireTool(args, in, out, err);
  return ToolRun{status, out.str(), err.str()};
}

std::string PackedHex(protocol::WireMessage* m) {
  Bytes packed;
  EXPECT_EQ(m->Pack(&packed), protocol::CodecOk);
  return HexEncode(packed);
}

TEST(WireTool, DecodeTreeAndCompact) {
  protocol::TagCodec inner;
  ASSERT_EQ(inner.PutInt(1, -3), protocol::CodecOk);
  protocol::TagCodec c;
  ASSERT_EQ(c.PutInt(1, 7), protocol::CodecOk);
  ASSERT_EQ(c.PutBytes(2, ByteView(std::string_view("中文"))), protocol::CodecOk);
  ASSERT_EQ(c.PutBytes(3, ByteView(Bytes{0, 1, 2})), protocol::CodecOk);
  ASSERT_EQ(c.PutCodec(4, &inner), protocol::CodecOk);
  c.Finalize();
  const std::string hex = HexEncode(c.Image());
  // Whitespace in hex input is ignored.
  const ToolRun tree = Wire({"decode"}, hex.substr(0, 10) + " \n " + hex.substr(10));
  ASSERT_EQ(tree.status, 0) << tree.err;
  EXPECT_EQ(tree.out,
            "codec mode 0, " + std::to_string(c.Size()) + " bytes\n"
            "1 [4] 7\n"
            "2 [6] \"中文\"\n"
            "3 [3] hex 000102\n"
            "4 [24] codec mode 0\n"
            "  1 [4] -3\n");
  const ToolRun compact = Wire({"decode", "--compact"}, hex);
  ASSERT_EQ(compact.status, 0);
  EXPECT_EQ(compact.out, "{1:7 2:\"中文\" 3:0x000102 4:{1:-3}}\n");
}

TEST(WireTool, UnpackPrintsHeader) {
  protocol::WireMessage m;
  m.SetType(protocol::MessageType::Sync);
  m.SetUin(4242);
  m.SetFlag(1);
  ASSERT_EQ(m.Body().PutInt(1, 0), protocol::CodecOk);
  const ToolRun r = Wire({"unpack"}, PackedHex(&m));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("type 102 (sync)\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("uin 4242\n"), std::string::npos);
  EXPECT_NE(r.out.find("flag 1\n"), std::string::npos);
  EXPECT_NE(r.out.find("body length 26\n"), std::string::npos);
  EXPECT_NE(r.out.find("1 [4] 0\n"), std::string::npos);
}

TEST(WireTool, SealOpenAndUnwrapRoundTrip) {
  const ToolRun sealed = Wire({"seal", "--key", "K"}, "0102030405");
  ASSERT_EQ(sealed.status, 0) << sealed.err;
  const ToolRun opened = Wire({"open", "--key", "K"}, sealed.out);
  ASSERT_EQ(opened.status, 0) << opened.err;
  EXPECT_EQ(opened.out, "0102030405\n");

  protocol::WireMessage m;
  m.SetType(protocol::MessageType::GetMailBody);
  ASSERT_EQ(m.Body().PutInt(1, 0), protocol::CodecOk);
  Bytes packed;
  ASSERT_EQ(m.Pack(&packed), protocol::CodecOk);
  Bytes body;
  ASSERT_EQ(protocol::WrapResponse(packed, ByteView(std::string_view("sk")), nullptr, &body), protocol::kEnvOk);
  const ToolRun unwrapped = Wire({"unwrap", "--key", "sk"}, HexEncode(body));
  ASSERT_EQ(unwrapped.status, 0) << unwrapped.err;
  EXPECT_NE(unwrapped.out.find("type 104 (getmailbody)"), std::string::npos);
}

TEST(WireTool, RawInputFromAFile) {
  protocol::TagCodec c;
  ASSERT_EQ(c.PutInt(9, 1), protocol::CodecOk);
  c.Finalize();
  char path[] = "/tmp/quill-wire-XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  close(fd);
  {
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char*>(c.Data()), c.Size());
  }
  const ToolRun r = Wire({"decode", "--compact", "--raw", path}, "ignored stdin");
  std::remove(path);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "{9:1}\n");
}

TEST(WireTool, BadInputIsOneLineAndStatus1) {
  struct Case {
    std::vector<std::string> args;
    std::string input;
    std::string says;
  };
  const Case cases[] = {
      {{}, "", "missing command"},
      {{"frobnicate"}, "", "unknown command"},
      {{"seal"}, "00", "needs --key"},
      {{"decode", "--what"}, "", "unknown option"},
      {{"decode"}, "81 0G", "not hexadecimal text at character 4"},
      {{"decode"}, "810", "not hexadecimal text at character 2"},
      {{"decode"}, "8100FFFF00000000000000", "shorter than the 12-byte header at offset 0"},
      {{"decode"}, "8000FFFF0000000000000000", "magic byte"},
      {{"decode"}, "8100FFFF0100000000000000", "body length field"},
      {{"decode"}, "8100FFFF000000000000000000", "body length field"},
      {{"decode"}, "8100F0FF0C00000000000000000000010000000400000007", "checksum mismatch at offset 2"},
      {{"decode"}, "8100F2FF0C00000000000000000000010000000500000007", "does not parse within the image at offset 12"},
      {{"unpack"}, "00", "shorter than the 32-byte header"},
      {{"unpack"}, std::string(64, '0'), "header checksum mismatch"},
      {{"open", "--key", "k"}, "8100FFFF0000000000000000", "cannot open"},
      {{"unwrap", "--key", "k"}, "8101FFFF0000000000000000", "cannot unwrap"},
      {{"decode", "/nonexistent/file"}, "", "cannot read /nonexistent/file"},
  };
  for (const Case& c : cases) {
    const ToolRun r = Wire(c.args, c.input);
    EXPECT_EQ(r.status, 1) << c.says;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  }
}

}  // namespace
}  // namespace quill
