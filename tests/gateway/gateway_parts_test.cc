// The gateway's own parts: fault specs and control lines, the accounts
// file, the key file, client.cfg bytes and the command line.
#include <gtest/gtest.h>

#include <sstream>

#include "gateway/account_book.h"
#include "gateway/client_config.h"
#include "gateway/fault_plan.h"
#include "gateway/gateway_cli.h"
#include "gateway/key_store.h"
#include "platform/fault_file_system.h"
#include "platform/hex.h"
#include "tests/temp_dir.h"

namespace quill {
namespace gateway {
namespace {

TEST(FaultPlan, SpecsParseExactly) {
  std::string command;
  Fault f;
  ASSERT_TRUE(ParseFaultSpec("auth=drop", &command, &f));
  EXPECT_EQ(command, "auth");
  EXPECT_EQ(f.mode, FaultMode::kDrop);
  ASSERT_TRUE(ParseFaultSpec("all=delay:250", &command, &f));
  EXPECT_EQ(f.mode, FaultMode::kDelay);
  EXPECT_EQ(f.argument, 250);
  ASSERT_TRUE(ParseFaultSpec("sync=result:-12", &command, &f));
  EXPECT_EQ(f.mode, FaultMode::kResult);
  EXPECT_EQ(f.argument, -12);
  for (const char* bad : {"auth", "=drop", "auth=", "auth=drop:1", "auth=delay", "auth=delay:x",
                          "auth=delay:-1", "auth=delay:600001", "auth=result:", "auth=result:1x",
                          "auth=explode", "auth=result:99999999999"}) {
    EXPECT_FALSE(ParseFaultSpec(bad, &command, &f)) << bad;
  }
}

TEST(FaultPlan, CommandOwnFaultWinsOverAllAndNoneClears) {
  FaultPlan plan;
  plan.Set("all", {FaultMode::kHttp500, 0});
  plan.Set("auth", {FaultMode::kGarbage, 0});
  EXPECT_EQ(plan.For("auth").mode, FaultMode::kGarbage);
  EXPECT_EQ(plan.For("sync").mode, FaultMode::kHttp500);
  plan.Set("auth", {FaultMode::kNone, 0});
  EXPECT_EQ(plan.For("auth").mode, FaultMode::kHttp500);
  std::string why;
  EXPECT_EQ(ApplyControlLine("clear\r", &plan, &why), ControlResult::kApplied);
  EXPECT_EQ(plan.For("sync").mode, FaultMode::kNone);
  EXPECT_EQ(ApplyControlLine("fault sync=expire", &plan, &why), ControlResult::kApplied);
  EXPECT_EQ(plan.For("sync").mode, FaultMode::kExpire);
  EXPECT_EQ(ApplyControlLine("fault sync", &plan, &why), ControlResult::kBad);
  EXPECT_EQ(ApplyControlLine("faults sync=drop", &plan, &why), ControlResult::kBad);
  EXPECT_EQ(ApplyControlLine("quit", &plan, &why), ControlResult::kQuit);
  // A fault set once applies to one request.
  plan.ClearAll();
  plan.Set("sync", {FaultMode::kExpire, 0, /*once=*/true});
  EXPECT_EQ(plan.For("sync").mode, FaultMode::kExpire);
  EXPECT_EQ(plan.For("sync").mode, FaultMode::kNone);
}

GatewayAccount Account(const std::string& name, uint32_t uin) {
  GatewayAccount a;
  a.name = name;
  a.password_digest = PasswordDigestText("pw");
  a.uin = uin;
  a.address = name + "@example.com";
  a.nickname = "昵称";
  return a;
}

TEST(AccountBook, NamesAreCaseInsensitiveUniqueAndSafeAsDirectories) {
  AccountBook book;
  std::string why;
  ASSERT_TRUE(book.Add(Account("Alice", 10001), &why)) << why;
  EXPECT_FALSE(book.Add(Account("alice", 10002), &why));
  EXPECT_FALSE(book.Add(Account("bob", 10001), &why));  // uin taken
  for (const char* bad : {"", ".", "..", "../x", "a/b", "a\\b", ".hidden", "tab\there", "nl\n"}) {
    EXPECT_FALSE(book.Add(Account(bad, 20000), &why)) << bad;
  }
  EXPECT_FALSE(book.Add(Account(std::string(129, 'a'), 20001), &why));
  GatewayAccount zero = Account("zero", 0);
  EXPECT_FALSE(book.Add(zero, &why));
  GatewayAccount upper = Account("upper", 20002);
  upper.password_digest = "5EBE2294ECD0E0F08EAB7690D2A6EE69";
  EXPECT_FALSE(book.Add(upper, &why));  // digests are kept in lower case
  ASSERT_NE(book.Find("ALICE"), nullptr);
  EXPECT_EQ(book.Find("ALICE")->uin, 10001u);
  EXPECT_EQ(book.Find("alic"), nullptr);
  // The digest the client sends for "secret".
  EXPECT_EQ(PasswordDigestText("secret"), "5ebe2294ecd0e0f08eab7690d2a6ee69");
}

TEST(AccountBook, SavedBookLoadsBackAndBadLinesNameTheirLine) {
  TempDir dir;
  const std::string path = dir.path() + "/accounts.cfg";
  AccountBook book;
  std::string why;
  ASSERT_TRUE(book.Add(Account("alice", 10001), &why));
  ASSERT_TRUE(book.Add(Account("bob", 10002), &why));
  ASSERT_TRUE(book.Save(DefaultFileSystem(), path));
  AccountBook loaded;
  ASSERT_TRUE(loaded.Load(DefaultFileSystem(), path, &why)) << why;
  ASSERT_NE(loaded.Find("bob"), nullptr);
  EXPECT_EQ(loaded.Find("bob")->nickname, "昵称");

  const std::string digest = PasswordDigestText("pw");
  struct Case {
    std::string text;
    std::string where;
  } cases[] = {
      {"# c\n\nalice\t" + digest + "\t1\ta\tn\nbob\t" + digest + "\t1\tb\tn\n", ":4:"},
      {"alice\t" + digest + "\t99999999999\ta\tn\n", ":1:"},
      {"alice\t" + digest + "\t12\ta\n", ":1:"},
      {"x\ty\tz\n\n../evil\t" + digest + "\t5\ta\tn\r\n", ":1:"},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(DefaultFileSystem()->ReplaceAtomically(path, ByteView(c.text)));
    EXPECT_FALSE(loaded.Load(DefaultFileSystem(), path, &why)) << c.text;
    EXPECT_NE(why.find(c.where), std::string::npos) << why;
    EXPECT_EQ(loaded.Find("alice"), nullptr);  // nothing half-loaded
  }
  EXPECT_TRUE(loaded.Load(DefaultFileSystem(), dir.path() + "/missing.cfg", &why));
}

TEST(KeyStore, KeyIsMadeOnceKeptPrivateAndNeverReplacedWhenDamaged) {
  TempDir dir;
  const std::string path = dir.path() + "/server.key";
  crypto::RsaKeyPair first, second;
  std::string why;
  ASSERT_TRUE(LoadOrCreateServerKey(DefaultFileSystem(), path, &first, &why)) << why;
  EXPECT_EQ(first.ModulusBytes(), 128u);
  EXPECT_EQ(dir.Mode("server.key"), 0600u);
  ASSERT_TRUE(LoadOrCreateServerKey(DefaultFileSystem(), path, &second, &why)) << why;
  EXPECT_EQ(second.ModulusHex(), first.ModulusHex());

  Bytes kept;
  ASSERT_TRUE(DefaultFileSystem()->ReadFile(path, &kept));
  Bytes damaged = kept;
  damaged[10] = damaged[10] == 'A' ? 'B' : 'A';  // a digit of N
  ASSERT_TRUE(DefaultFileSystem()->ReplaceAtomically(path, damaged));
  EXPECT_FALSE(LoadOrCreateServerKey(DefaultFileSystem(), path, &second, &why));
  Bytes after;
  ASSERT_TRUE(DefaultFileSystem()->ReadFile(path, &after));
  EXPECT_EQ(after, damaged);
  ASSERT_TRUE(DefaultFileSystem()->ReplaceAtomically(path, ByteView(std::string("N:12\nE:3\n"))));
  EXPECT_FALSE(LoadOrCreateServerKey(DefaultFileSystem(), path, &second, &why));
}

TEST(KeyStore, WriteFailureIsAnError) {
  TempDir dir;
  FaultInjectingFileSystem fs(DefaultFileSystem());
  fs.FailWrite(1, /*sticky=*/true);
  crypto::RsaKeyPair key;
  std::string why;
  EXPECT_FALSE(LoadOrCreateServerKey(&fs, dir.path() + "/server.key", &key, &why));
  EXPECT_NE(why.find("cannot be written"), std::string::npos);
}

TEST(ClientConfig, BytesAreUtf16LittleEndianLinesJoinedByCrLf) {
  const Bytes b = EncodeClientConfig({"127.0.0.1", 8080, "C0DE", "010001"});
  EXPECT_EQ(HexEncode(b),
            "48004F00530054003A003100320037002E0030002E0030002E0031000D000A00"  // HOST:127.0.0.1\r\n
            "50004F00520054003A0038003000380030000D000A00"                      // PORT:8080\r\n
            "4D004F00440055004C00550053003A004300300044004500"                  // MODULUS:C0DE
            "0D000A00"
            "4500580050004F004E0045004E0054003A00300031003000300030003100");    // EXPONENT:010001
}

TEST(GatewayCommandLine, ServeAndAddAccountForms) {
  GatewayCommandLine cl;
  std::string why;
  ASSERT_TRUE(ParseGatewayCommandLine({"--state", "s", "--port", "0", "--fault", "auth=drop",
                                       "--fault", "all=delay:5", "--min-version", "0x10031"},
                                      &cl, &why))
      << why;
  EXPECT_FALSE(cl.add_account);
  EXPECT_EQ(cl.options.port, 0);
  EXPECT_EQ(cl.options.min_client_version, 0x10031u);
  ASSERT_EQ(cl.faults.size(), 2u);
  EXPECT_EQ(cl.faults[1].first, "all");

  ASSERT_TRUE(ParseGatewayCommandLine({"--state", "s", "add-account", "bob", "pw", "--uin", "7",
                                       "--nickname", "鲍勃"},
                                      &cl, &why))
      << why;
  EXPECT_TRUE(cl.add_account);
  EXPECT_EQ(cl.account.name, "bob");
  EXPECT_EQ(cl.account.uin, 7u);
  EXPECT_EQ(cl.account.password_digest, PasswordDigestText("pw"));

  const std::vector<std::vector<std::string>> bad = {
      {},
      {"--port", "1"},
      {"--state", "s", "--port", "65536"},
      {"--state", "s", "--port"},
      {"--state", "s", "--host", "a b"},
      {"--state", "s", "--fault", "auth=boom"},
      {"--state", "s", "add-account", "bob", "pw"},
      {"--state", "s", "add-account", "bob", "--uin", "7"},
      {"--state", "s", "add-account", "bob", "pw", "--uin", "0"},
      {"--state", "s", "--uin", "7"},
      {"--state", "s", "serve"},
      {"--state", "s", "--verbose", "1"},
  };
  for (const auto& args : bad) {
    EXPECT_FALSE(ParseGatewayCommandLine(args, &cl, &why)) << ::testing::PrintToString(args);
  }
}

TEST(GatewayCommandLine, AddAccountMakesTheMaildirAndRefusesADuplicate) {
  TempDir dir;
  GatewayCommandLine cl;
  std::string why;
  ASSERT_TRUE(ParseGatewayCommandLine(
      {"--state", dir.path(), "add-account", "carol", "pw", "--uin", "30003"}, &cl, &why));
  std::ostringstream out, err;
  ASSERT_EQ(AddAccountCommand(DefaultFileSystem(), cl, out, err), kGatewayExitOk) << err.str();
  for (const char* sub : {"cur", "new", "tmp"}) {
    EXPECT_TRUE(DefaultFileSystem()->Exists(dir.path() + "/accounts/carol/Maildir/" + sub));
  }
  EXPECT_EQ(dir.Mode("accounts.cfg"), 0600u);
  cl.account.name = "CAROL";
  cl.account.uin = 30004;
  EXPECT_EQ(AddAccountCommand(DefaultFileSystem(), cl, out, err), kGatewayExitFailed);
  EXPECT_NE(err.str().find("exists"), std::string::npos);
}

}  // namespace
}  // namespace gateway
}  // namespace quill
