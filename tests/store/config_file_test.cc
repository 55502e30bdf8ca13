#include "store/config_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>

#include "platform/fault_file_system.h"

namespace quill {
namespace store {
namespace {

Bytes Utf16Le(std::u16string_view s) {
  Bytes out;
  for (char16_t c : s) {
    out.push_back(static_cast<uint8_t>(c & 0xFF));
    out.push_back(static_cast<uint8_t>(c >> 8));
  }
  return out;
}

class ConfigFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/quill_cfg_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    path_ = dir_ + "/data/global.cfg";
  }
  void TearDown() override { std::system(("rm -rf " + dir_).c_str()); }

  void WriteRaw(const Bytes& b) {
    ASSERT_TRUE(DefaultFileSystem()->ReplaceAtomically(path_, ByteView(b)));
  }
  Bytes ReadRaw() {
    Bytes b;
    EXPECT_TRUE(DefaultFileSystem()->ReadFile(path_, &b));
    return b;
  }

  std::string dir_, path_;
};

TEST_F(ConfigFileTest, ExactBytesOnSave) {
  ConfigFile cfg(DefaultFileSystem());
  ASSERT_TRUE(cfg.SetPath(path_));
  ASSERT_TRUE(cfg.SetText("UINNAME", u"中"));
  ASSERT_TRUE(cfg.SetInt("NET", -1));
  EXPECT_FALSE(cfg.SetPath(path_ + "2"));  // already in use
  // "UINNAME:中\r\nNET:-1", UTF-16LE, no BOM, no final break.
  const Bytes want = {'U', 0, 'I', 0, 'N', 0, 'N', 0, 'A', 0, 'M', 0, 'E', 0, ':', 0, 0x2D, 0x4E,
                      '\r', 0, '\n', 0, 'N', 0, 'E', 0, 'T', 0, ':', 0, '-', 0, '1', 0};
  EXPECT_EQ(ReadRaw(), want);
  struct stat st;
  ASSERT_EQ(stat(path_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(ConfigFileTest, RoundTripKeepsUnknownLinesAndOrder) {
  const std::u16string text = u"AUTOSYNCSPAN:15\r\nno colon here\r\nFILEDIALOGPATH:C:\\My Docs\\\r\n"
                              u"autosyncspan:99\r\nAUTOSYNCSPAN:20\r\nEMPTY:";
  WriteRaw(Utf16Le(text));
  ConfigFile cfg(DefaultFileSystem());
  cfg.SetPath(path_);
  EXPECT_EQ(cfg.GetInt("AUTOSYNCSPAN", 10), 15);  // first match wins
  EXPECT_EQ(cfg.GetInt("autosyncspan", 10), 99);  // case matters
  EXPECT_EQ(cfg.GetText("FILEDIALOGPATH", u""), u"C:\\My Docs\\");  // later colons kept
  EXPECT_EQ(cfg.GetText("EMPTY", u"def"), u"");
  EXPECT_EQ(cfg.GetText("no colon here", u"def"), u"def");
  EXPECT_EQ(cfg.GetText("MISSING", u"def"), u"def");
  ASSERT_TRUE(cfg.Save());
  EXPECT_EQ(ReadRaw(), Utf16Le(text));
  ASSERT_TRUE(cfg.SetInt("AUTOSYNCSPAN", 30));
  ConfigFile again(DefaultFileSystem());
  again.SetPath(path_);
  EXPECT_EQ(again.GetInt("AUTOSYNCSPAN", 0), 30);
  EXPECT_EQ(again.GetInt("autosyncspan", 0), 99);
}

TEST_F(ConfigFileTest, AcceptsBomAndLfLines) {
  Bytes raw = {0xFF, 0xFE};
  Bytes body = Utf16Le(u"A:1\nB:2\r\nC:3\n");
  raw.insert(raw.end(), body.begin(), body.end());
  WriteRaw(raw);
  ConfigFile cfg(DefaultFileSystem());
  cfg.SetPath(path_);
  EXPECT_EQ(cfg.GetInt("A", 0), 1);
  EXPECT_EQ(cfg.GetInt("B", 0), 2);
  EXPECT_EQ(cfg.GetInt("C", 0), 3);
  ASSERT_TRUE(cfg.Save());
  EXPECT_EQ(ReadRaw(), Utf16Le(u"A:1\r\nB:2\r\nC:3\r\n"));  // BOM gone, CR LF joins
}

TEST_F(ConfigFileTest, IntegerParsing) {
  WriteRaw(Utf16Le(u"D: 42\r\nN:-7\r\nH:0x1F\r\nP:+5\r\nBAD:12abc\r\nE:\r\nBIG:2147483648\r\n"
                   u"MIN:-2147483648\r\nU:4294967295\r\nUBIG:4294967296\r\nT:9 \r\n"
                   u"W:18446744073709551615\r\nOCT:010\r\nLOW:-2147483649"));
  ConfigFile cfg(DefaultFileSystem());
  cfg.SetPath(path_);
  EXPECT_EQ(cfg.GetInt("D", 0), 42);
  EXPECT_EQ(cfg.GetInt("N", 0), -7);
  EXPECT_EQ(cfg.GetInt("H", 0), 31);
  EXPECT_EQ(cfg.GetInt("P", 0), 5);
  EXPECT_EQ(cfg.GetInt("BAD", -1), -1);
  EXPECT_EQ(cfg.GetInt("E", -1), -1);
  EXPECT_EQ(cfg.GetInt("BIG", -1), -1);
  EXPECT_EQ(cfg.GetInt("MIN", 0), INT32_MIN);
  EXPECT_EQ(cfg.GetUInt("U", 0), 4294967295u);
  EXPECT_EQ(cfg.GetUInt("UBIG", 3), 3u);
  // Unsigned reads take a negative value as its two's complement, down to
  // the signed minimum of their width.
  EXPECT_EQ(cfg.GetUInt("N", 3), 4294967289u);
  EXPECT_EQ(cfg.GetUInt("MIN", 3), 0x80000000u);
  EXPECT_EQ(cfg.GetUInt("LOW", 3), 3u);
  EXPECT_EQ(cfg.GetUInt64("N", 3), UINT64_MAX - 6);
  EXPECT_EQ(cfg.GetUInt64("LOW", 3), 0xFFFFFFFF7FFFFFFFull);
  EXPECT_EQ(cfg.GetInt("T", 0), 9);
  EXPECT_EQ(cfg.GetUInt64("W", 0), UINT64_MAX);
  EXPECT_EQ(cfg.GetUInt64("UBIG", 0), 4294967296u);
  EXPECT_EQ(cfg.GetInt("OCT", 0), 10);  // decimal, not octal
}

TEST_F(ConfigFileTest, LineBreaksInValuesAndBadKeys) {
  ConfigFile cfg(DefaultFileSystem());
  cfg.SetPath(path_);
  ASSERT_TRUE(cfg.SetText("NickName", u"a\r\nHAVELOGON:1\nb"));
  EXPECT_FALSE(cfg.SetText("A:B", u"x"));
  EXPECT_FALSE(cfg.SetText("", u"x"));
  EXPECT_FALSE(cfg.SetText("A\nB", u"x"));
  ConfigFile again(DefaultFileSystem());
  again.SetPath(path_);
  EXPECT_EQ(again.GetText("NickName", u""), u"aHAVELOGON:1b");
  EXPECT_EQ(again.GetInt("HAVELOGON", -1), -1);  // no injected line
}

TEST_F(ConfigFileTest, FailedWriteLeavesOldFile) {
  FaultInjectingFileSystem fault(DefaultFileSystem());
  ConfigFile cfg(&fault);
  cfg.SetPath(path_);
  ASSERT_TRUE(cfg.SetInt("CrashCount", 1));
  Bytes before = ReadRaw();
  fault.FailWrite(1);
  EXPECT_FALSE(cfg.SetInt("CrashCount", 2));
  EXPECT_EQ(ReadRaw(), before);
  fault.SetFreeSpace(FileSystem::kMinFreeBytes);
  EXPECT_FALSE(cfg.SetInt("CrashCount", 3));
  EXPECT_EQ(ReadRaw(), before);
  fault.SetFreeSpace(std::nullopt);
  EXPECT_TRUE(cfg.SetInt("CrashCount", 4));
  fault.SimulateCrash();  // the atomic save survives
  ConfigFile again(DefaultFileSystem());
  again.SetPath(path_);
  EXPECT_EQ(again.GetInt("CrashCount", 0), 4);
}

TEST_F(ConfigFileTest, UnreadableFileIsNeverClobbered) {
  // A directory where the file should be: it exists but cannot be read.
  ASSERT_TRUE(DefaultFileSystem()->MakeDirs(path_));
  ConfigFile cfg(DefaultFileSystem());
  cfg.SetPath(path_);
  EXPECT_EQ(cfg.GetInt("NET", -1), -1);
  EXPECT_FALSE(cfg.SetInt("NET", 2));
  struct stat st;
  ASSERT_EQ(stat(path_.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
}

TEST_F(ConfigFileTest, MissingFileGivesDefaultsAndNextSetCreatesIt) {
  ConfigFile cfg(DefaultFileSystem());
  cfg.SetPath(path_);
  EXPECT_EQ(cfg.GetInt("AUTOSYNCSPAN", 10), 10);
  EXPECT_FALSE(DefaultFileSystem()->Exists(path_));
  ASSERT_TRUE(cfg.SetUInt64("TotalRecvNetFlow", 5000000000ull));
  EXPECT_EQ(cfg.GetUInt64("TotalRecvNetFlow", 0), 5000000000ull);
  EXPECT_TRUE(DefaultFileSystem()->Exists(path_));
}

TEST(ConfigFileParseTest, OddTrailingByteIgnored) {
  const uint8_t raw[] = {'A', 0, ':', 0, '1', 0, 'x'};
  auto lines = ConfigFile::Parse(ByteView(raw, sizeof raw));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], u"A:1");
  EXPECT_TRUE(ConfigFile::Parse(ByteView()).empty());
}

}  // namespace
}  // namespace store
}  // namespace quill
