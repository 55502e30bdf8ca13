// The gateway's statistics store and published update, and the commands
// that serve them, spoken to with hand-built requests; their command lines.
#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/wait.h>

#include <sstream>

#include "gateway/gateway_cli.h"
#include "gateway/stats_store.h"
#include "gateway/update_commands.h"
#include "gateway/update_shelf.h"
#include "platform/crypto.h"
#include "platform/hex.h"
#include "tests/gateway/gateway_harness.h"

namespace quill {
namespace gateway {
namespace {

using protocol::CodecOk;
using protocol::MessageType;
using protocol::WireMessage;

Bytes Noise(size_t n) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(i * 131 + i / 251);
  return b;
}

std::string Md5Hex(const Bytes& b) {
  uint8_t d[16];
  crypto::Md5(ByteView(b), d);
  return HexEncodeLower(ByteView(d, sizeof d));
}

TEST(StatsStore, RecordsEveryUploadAndTotalsThemPerAccount) {
  TempDir dir;
  const std::string path = dir.path() + "/" + kStatsFileName;
  {
    StatsStore stats(path);
    std::vector<StatTotals> totals;
    std::string why;
    ASSERT_TRUE(stats.Totals(&totals, &why)) << why;
    EXPECT_TRUE(totals.empty());
    EXPECT_FALSE(DefaultFileSystem()->Exists(path));  // reading creates nothing
    StatUpload up;
    up.account = "bob";
    up.uin = 7;
    for (size_t i = 0; i < kStatValueCount; ++i) up.values[i] = static_cast<uint32_t>(i);
    up.values[kStatStartTime] = 100;
    ASSERT_TRUE(stats.Record(up));
    up.values[kStatStartTime] = 200;
    up.values[0] = 0xFFFFFFFF;  // no 32-bit overflow in the totals
    ASSERT_TRUE(stats.Record(up));
    up.account = "alice";
    up.uin = 6;
    ASSERT_TRUE(stats.Record(up));
  }
  StatsStore reopened(path);  // durable
  std::vector<StatTotals> totals;
  std::string why;
  ASSERT_TRUE(reopened.Totals(&totals, &why)) << why;
  ASSERT_EQ(totals.size(), 2u);
  EXPECT_EQ(totals[0].account, "alice");
  EXPECT_EQ(totals[0].uploads, 1);
  const StatTotals& bob = totals[1];
  EXPECT_EQ(bob.uin, 7u);
  EXPECT_EQ(bob.uploads, 2);
  EXPECT_EQ(bob.values[0], 0xFFFFFFFFull);
  EXPECT_EQ(bob.values[3], 6u);                 // summed
  EXPECT_EQ(bob.values[kStatStartTime], 200u);  // the latest
  EXPECT_EQ(bob.values[kStatEndTime], kStatEndTime);
}

TEST(UpdateShelf, PublishingReplacesTheReleaseAndItsPackage) {
  TempDir dir;
  UpdateShelf shelf(DefaultFileSystem(), dir.path());
  UpdateRelease release;
  EXPECT_FALSE(shelf.Current(&release));
  const Bytes first = Noise(1000), second = Noise(3000);
  ASSERT_TRUE(DefaultFileSystem()->ReplaceAtomically(dir.path() + "/a", ByteView(first)));
  ASSERT_TRUE(DefaultFileSystem()->ReplaceAtomically(dir.path() + "/b", ByteView(second)));
  std::string why;
  ASSERT_TRUE(shelf.Publish(dir.path() + "/a", 0x10031, "第一版\nline two", &release, &why)) << why;
  EXPECT_EQ(release.package, Md5Hex(first));
  ASSERT_TRUE(shelf.Current(&release));
  EXPECT_EQ(release.version, 0x10031);
  EXPECT_EQ(release.size, 1000u);
  EXPECT_EQ(release.notes, "第一版\nline two");
  Bytes piece;
  ASSERT_TRUE(shelf.ReadPiece(release, 990, 100, &piece));
  EXPECT_EQ(piece, Bytes(first.begin() + 990, first.end()));
  EXPECT_FALSE(shelf.ReadPiece(release, 1001, 100, &piece));

  const UpdateRelease old = release;
  ASSERT_TRUE(shelf.Publish(dir.path() + "/b", 0x10032, "", &release, &why)) << why;
  EXPECT_FALSE(DefaultFileSystem()->Exists(dir.path() + "/updates/" + old.package + ".cab"));
  EXPECT_FALSE(shelf.ReadPiece(old, 0, 100, &piece));
  EXPECT_FALSE(shelf.Publish(dir.path() + "/missing", 0x10033, "", &release, &why));
  EXPECT_FALSE(shelf.Publish(dir.path() + "/b", 0, "", &release, &why));
  ASSERT_TRUE(DefaultFileSystem()->ReplaceAtomically(dir.path() + "/empty", ByteView(Bytes())));
  EXPECT_FALSE(shelf.Publish(dir.path() + "/empty", 0x10033, "", &release, &why));
  ASSERT_TRUE(shelf.Current(&release));
  EXPECT_EQ(release.version, 0x10032);  // still the last good one
  EXPECT_EQ(VersionText(0x10031), "1.0.49");

  // A hand-edited release whose name would leave the directory is none.
  ASSERT_TRUE(DefaultFileSystem()->ReplaceAtomically(
      dir.path() + "/updates/release.cfg",
      ByteView(std::string("version:65585\npackage:../../../../etc/passwd0123456789\nsize:3\nnotes:"))));
  EXPECT_FALSE(shelf.Current(&release));
}

class StatsAndUpdatesTest : public GatewayHarness {
 protected:
  void SetUp() override {
    AddAccount("alice", "secret", 10001);
    StartGateway();
    SignIn("alice", "secret");
  }
  UpdateRelease Publish(const Bytes& bytes, int32_t version) {
    const std::string file = dir_.path() + "/upload";
    EXPECT_TRUE(DefaultFileSystem()->ReplaceAtomically(file, ByteView(bytes)));
    UpdateShelf shelf(DefaultFileSystem(), dir_.path());
    UpdateRelease release;
    std::string why;
    EXPECT_TRUE(shelf.Publish(file, version, "notes", &release, &why)) << why;
    return release;
  }
  int32_t Query(uint32_t client_version, WireMessage* answer) {
    WireMessage m;
    m.SetType(MessageType::QueryUpdate);
    m.Body().PutUInt(3, client_version);
    m.Body().PutBytes(4, ByteView(std::string("PocketPC")));
    m.Body().PutBytes(1, ByteView(session_key_));
    m.Body().PutBytes(2, ByteView(Bytes(16, 0)));
    m.Body().PutInt(5, 3);
    EXPECT_EQ(Exchange("queryupdate", &m, answer), 0);
    int32_t result = -99;
    answer->Body().GetInt(1, &result);
    return result;
  }
  int32_t Piece(const std::string& name, uint32_t offset, int32_t wanted, WireMessage* answer) {
    WireMessage m;
    m.SetType(MessageType::GetUpdatePack);
    m.Body().PutBytes(5, ByteView(name));
    m.Body().PutUInt(6, offset);
    m.Body().PutInt(7, wanted);
    EXPECT_EQ(Exchange("getupdatepack", &m, answer), 0);
    int32_t result = -99;
    answer->Body().GetInt(1, &result);
    return result;
  }
};

TEST_F(StatsAndUpdatesTest, QueriesOfferTheReleaseOnlyToOlderClients) {
  WireMessage a;
  ASSERT_EQ(Query(0x10030, &a), 0);
  int32_t size = -1;
  ASSERT_EQ(a.Body().GetInt(2, &size), CodecOk);
  EXPECT_EQ(size, 0);  // nothing published

  const UpdateRelease release = Publish(Noise(5000), 0x10031);
  WireMessage offer;
  ASSERT_EQ(Query(0x10030, &offer), 0);
  std::string version, text;
  ASSERT_EQ(offer.Body().GetInt(2, &size), CodecOk);
  ASSERT_EQ(offer.Body().GetString(4, &version), CodecOk);
  ASSERT_EQ(offer.Body().GetString(5, &text), CodecOk);
  EXPECT_EQ(size, 5000);
  EXPECT_EQ(version, "1.0.49");
  EXPECT_EQ(text, release.package + "\nnotes");
  WireMessage same;
  ASSERT_EQ(Query(0x10031, &same), 0);
  ASSERT_EQ(same.Body().GetInt(2, &size), CodecOk);
  EXPECT_EQ(size, 0);

  // The login names the release's version as the newest.
  const std::string digest = PasswordDigestText("secret");
  std::string body;
  ASSERT_EQ(Post("auth", LoginRequest("alice", digest), &body), 200);
  WireMessage login;
  protocol::ServerTicket ticket;
  ASSERT_EQ(OpenLoginAnswer(body, digest, &login, &ticket), 0);
  int32_t newest = 0;
  ASSERT_EQ(login.Body().GetInt(7, &newest), CodecOk);
  EXPECT_EQ(newest, 0x10031);
}

TEST_F(StatsAndUpdatesTest, PiecesFollowTheOffsetAndAReplacedPackageIsNamed) {
  WireMessage a;
  EXPECT_EQ(Piece(std::string(32, '0'), 0, 100, &a), -5);  // nothing published
  const Bytes bytes = Noise(40000);
  const UpdateRelease release = Publish(bytes, 0x10031);
  ASSERT_EQ(Piece(release.package, 0, 0x7FFFFFFF, &a), 0);
  uint32_t total = 0, length = 0;
  ByteView piece;
  ASSERT_EQ(a.Body().GetUInt(3, &total), CodecOk);
  ASSERT_EQ(a.Body().GetUInt(5, &length), CodecOk);
  ASSERT_EQ(a.Body().GetView(6, &piece), CodecOk);
  EXPECT_EQ(total, 40000u);
  EXPECT_EQ(length, kPackPieceBytes);
  EXPECT_EQ(Bytes(piece.begin(), piece.end()), Bytes(bytes.begin(), bytes.begin() + kPackPieceBytes));

  WireMessage last;
  std::string upper = release.package;
  for (char& c : upper) c = static_cast<char>(toupper(c));
  ASSERT_EQ(Piece(upper, 39990, 100, &last), 0);  // either case names it
  ASSERT_EQ(last.Body().GetView(6, &piece), CodecOk);
  EXPECT_EQ(Bytes(piece.begin(), piece.end()), Bytes(bytes.end() - 10, bytes.end()));
  WireMessage end;
  ASSERT_EQ(Piece(release.package, 40000, 100, &end), 0);
  ASSERT_EQ(end.Body().GetView(6, &piece), CodecOk);
  EXPECT_EQ(piece.size, 0u);
  EXPECT_EQ(Piece(release.package, 40001, 100, &a), kMailResultBadRequest);
  EXPECT_EQ(Piece(release.package, 0, 0, &a), kMailResultBadRequest);

  const UpdateRelease newer = Publish(Noise(100), 0x10032);
  WireMessage replaced;
  ASSERT_EQ(Piece(release.package, 16384, 100, &replaced), kUpdateResultReplaced);
  std::string name;
  ASSERT_EQ(replaced.Body().GetString(2, &name), CodecOk);
  ASSERT_EQ(replaced.Body().GetUInt(3, &total), CodecOk);
  EXPECT_EQ(name, newer.package);
  EXPECT_EQ(total, 100u);
}

TEST_F(StatsAndUpdatesTest, StatInfoRecordsTheSessionsAccountOrRefusesAMissingValue) {
  WireMessage m;
  m.SetType(MessageType::StatInfo);
  for (uint32_t tag = 6; tag <= 28; ++tag) m.Body().PutUInt(tag, tag);
  WireMessage answer;
  ASSERT_EQ(Exchange("statinfo", &m, &answer), 0);
  int32_t result = 0;
  ASSERT_EQ(answer.Body().GetInt(1, &result), CodecOk);
  EXPECT_EQ(result, kMailResultBadRequest);  // tag 29 missing
  m.Body().PutUInt(29, 29);
  ASSERT_EQ(Exchange("statinfo", &m, &answer), 0);
  ASSERT_EQ(answer.Body().GetInt(1, &result), CodecOk);
  EXPECT_EQ(result, 0);

  GatewayCommandLine cl;
  std::string why;
  ASSERT_TRUE(ParseGatewayCommandLine({"--state", dir_.path(), "stats"}, &cl, &why)) << why;
  std::ostringstream out, err;
  ASSERT_EQ(StatsCommand(cl, out, err), kGatewayExitOk) << err.str();
  EXPECT_NE(out.str().find("account alice (uin 10001): 1 upload\n  AuthOK 6\n"), std::string::npos)
      << out.str();
  EXPECT_NE(out.str().find("  StartTime 27 (last upload)\n"), std::string::npos);
  EXPECT_NE(out.str().find("  CrashCount 29\n"), std::string::npos);
}

TEST(GatewayCommandLine, StatsAndPublishUpdateForms) {
  GatewayCommandLine cl;
  std::string why;
  ASSERT_TRUE(ParseGatewayCommandLine({"--state", "s", "stats"}, &cl, &why)) << why;
  EXPECT_TRUE(cl.stats);
  ASSERT_TRUE(ParseGatewayCommandLine(
      {"--state", "s", "publish-update", "p.cab", "--version", "0x10031", "--notes", "修复"}, &cl,
      &why))
      << why;
  EXPECT_TRUE(cl.publish_update);
  EXPECT_EQ(cl.package_file, "p.cab");
  EXPECT_EQ(cl.update_version, 0x10031);
  EXPECT_EQ(cl.notes, "修复");
  const std::vector<std::vector<std::string>> bad = {
      {"--state", "s", "stats", "x"},
      {"--state", "s", "publish-update", "p.cab"},
      {"--state", "s", "publish-update", "--version", "5"},
      {"--state", "s", "publish-update", "p.cab", "--version", "0"},
      {"--state", "s", "publish-update", "p.cab", "--version", "2147483648"},
      {"--state", "s", "stats", "--version", "5"},
      {"--state", "s", "--notes", "n"},
      {"--state", "s", "publish-update", "p.cab", "--version", "5", "--uin", "7"},
  };
  for (const auto& args : bad) {
    EXPECT_FALSE(ParseGatewayCommandLine(args, &cl, &why)) << ::testing::PrintToString(args);
  }
}

TEST(GatewayProgram, PublishesAnUpdateAndPrintsStatistics) {
  TempDir dir;
  const Bytes bytes = Noise(2048);
  ASSERT_TRUE(DefaultFileSystem()->ReplaceAtomically(dir.path() + "/p.cab", ByteView(bytes)));
  const std::string command = std::string(QUILL_GATEWAY_BINARY) + " --state " + dir.path() +
                              " publish-update " + dir.path() + "/p.cab --version 65585 --notes x" +
                              " && " + QUILL_GATEWAY_BINARY + " --state " + dir.path() + " stats";
  FILE* p = popen(command.c_str(), "r");
  ASSERT_NE(p, nullptr);
  std::string out;
  char buf[512];
  for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
  const int status = pclose(p);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << out;
  EXPECT_EQ(out, "published " + Md5Hex(bytes) +
                     " (2048 bytes) as version 1.0.49 (65585)\nno statistics uploaded\n");
}

}  // namespace
}  // namespace gateway
}  // namespace quill
