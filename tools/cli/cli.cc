#include "tools/cli/cli.h"

#include <unistd.h>

#include <cctype>
#include <climits>
#include <memory>
#include <optional>

#include "commands/auth_job.h"
#include "engine/connection_backend.h"
#include "engine/mail_service.h"
#include "platform/crypto.h"
#include "platform/device_id_source.h"
#include "platform/file_system.h"
#include "platform/hex.h"
#include "platform/message_loop.h"
#include "platform/registry_store.h"
#include "platform/utf.h"
#include "store/device_id.h"

namespace quill {
namespace cli {

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

const char kUsage[] =
    "usage: quillpost-cli --data DIR [--gateway HOST:PORT] [--gateway-config FILE]\n"
    "                     [--timeout SECONDS] COMMAND ...\n"
    "commands:\n"
    "  login ACCOUNT PASSWORD   sign in; prints the account number, nickname and address\n";

struct Options {
  std::string data_dir;              // --data
  std::string gateway_address;       // --gateway, empty: as configured
  std::string gateway_config;        // --gateway-config, empty: none
  int timeout_seconds = 120;         // --timeout: bound of one command
  std::vector<std::string> command;  // the command and its arguments
};

// False (with a message on err) for bad usage.
bool ParseOptions(const std::vector<std::string>& args, Options* o, std::ostream& err) {
  size_t i = 0;
  auto value = [&](const std::string& flag, std::string* out) {
    if (i + 1 >= args.size()) {
      err << "quillpost-cli: " << flag << " needs a value\n";
      return false;
    }
    *out = args[++i];
    return true;
  };
  for (; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--data") {
      if (!value(a, &o->data_dir)) return false;
    } else if (a == "--gateway") {
      if (!value(a, &o->gateway_address)) return false;
    } else if (a == "--gateway-config") {
      if (!value(a, &o->gateway_config)) return false;
    } else if (a == "--timeout") {
      std::string t;
      if (!value(a, &t)) return false;
      char* end = nullptr;
      const long seconds = std::strtol(t.c_str(), &end, 10);
      if (t.empty() || *end != '\0' || seconds <= 0 || seconds > 3600) {
        err << "quillpost-cli: bad --timeout " << t << "\n";
        return false;
      }
      o->timeout_seconds = static_cast<int>(seconds);
    } else if (a.rfind("--", 0) == 0) {
      err << "quillpost-cli: unknown option " << a << "\n";
      return false;
    } else {
      o->command.assign(args.begin() + static_cast<long>(i), args.end());
      break;
    }
  }
  if (o->data_dir.empty() || o->command.empty()) {
    err << kUsage;
    return false;
  }
  return true;
}

// The directory of the running program, with its trailing separator: it
// seeds the DeviceId as the program directory does on the handheld.
std::u16string ProgramDir() {
  char path[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return u"/";
  std::string p(path, static_cast<size_t>(n));
  return Utf8ToUtf16(p.substr(0, p.rfind('/') + 1));
}

// Reads the data directory's gateway.cfg (after putting --gateway-config in
// place) and applies --gateway.
bool LoadGateway(FileSystem* fs, const Options& o, engine::GatewayConfig* gateway,
                 std::ostream& err) {
  const std::string path = o.data_dir + "/" + engine::kGatewayConfigFile;
  if (!o.gateway_config.empty()) {
    Bytes bytes;
    if (!fs->ReadFile(o.gateway_config, &bytes)) {
      err << "quillpost-cli: cannot read " << o.gateway_config << "\n";
      return false;
    }
    if (!fs->MakeDirs(o.data_dir) || !fs->ReplaceAtomically(path, ByteView(bytes), 0600)) {
      err << "quillpost-cli: cannot write " << path << "\n";
      return false;
    }
  }
  const engine::GatewayConfigStatus status = engine::LoadGatewayConfig(fs, path, gateway);
  if (status != engine::GatewayConfigStatus::kOk) {
    err << "quillpost-cli: " << path << ": " << engine::GatewayConfigStatusText(status) << "\n";
    return false;
  }
  if (!o.gateway_address.empty() && !engine::ApplyGatewayAddress(o.gateway_address, gateway)) {
    err << "quillpost-cli: bad --gateway " << o.gateway_address << "\n";
    return false;
  }
  return true;
}

int Login(engine::MailService* service, MessageLoop* loop, const Options& o, std::ostream& out,
          std::ostream& err) {
  if (o.command.size() != 3) {
    err << kUsage;
    return kExitUsage;
  }
  std::optional<commands::AuthOutcome> outcome;
  service->SubscribeAuthDone([&](const commands::AuthOutcome& done) { outcome = done; });
  if (!service->DoAuth(service->connections().destination(), /*user_initiated=*/true,
                       Utf8ToUtf16(o.command[1]), PasswordDigest(o.command[2]),
                       /*auto_login=*/false)) {
    err << "quillpost-cli: the login could not be started\n";
    return kExitFailed;
  }
  if (!loop->PumpUntil([&] { return outcome.has_value(); },
                       static_cast<uint32_t>(o.timeout_seconds) * 1000)) {
    err << "quillpost-cli: no answer within " << o.timeout_seconds << " s\n";
    return kExitFailed;
  }
  if (!outcome->ok) {
    err << Utf16ToUtf8(commands::AuthFailureText(outcome->code));
    if (commands::IsNetworkFailure(outcome->code)) err << " (" << outcome->code << ")";
    err << "\n";
    return kExitFailed;
  }
  store::ConfigFile account(DefaultFileSystem());
  account.SetPath(service->account_dir() + "/account.cfg");
  out << "uin: " << outcome->uin << "\n";
  out << "nickname: " << Utf16ToUtf8(account.GetText(store::account_keys::kNickName.name, u""))
      << "\n";
  out << "address: " << Utf16ToUtf8(account.GetText(store::account_keys::kEmailAddr.name, u""))
      << "\n";
  return kExitOk;
}

}  // namespace

std::u16string PasswordDigest(const std::string& typed_utf8) {
  uint8_t digest[16];
  crypto::Md5(ByteView(typed_utf8), digest);
  std::string hex = HexEncode(ByteView(digest, sizeof digest));
  for (char& c : hex) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return Utf8ToUtf16(hex);
}

int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  Options o;
  if (!ParseOptions(args, &o, err)) return kExitUsage;
  FileSystem* fs = DefaultFileSystem();
  if (!fs->MakeDirs(o.data_dir)) {
    err << "quillpost-cli: cannot create " << o.data_dir << "\n";
    return kExitUsage;
  }
  engine::MailServiceOptions so;
  so.data_dir = o.data_dir;
  if (!LoadGateway(fs, o, &so.gateway, err)) return kExitUsage;

  LinuxDeviceIdSource id_source(fs, "/etc/machine-id", RegistryStore::DefaultDir());
  store::DeviceId device_id(&id_source, ProgramDir());
  so.device_id = device_id.Get();
  engine::LinuxConnectionBackend backend;
  so.fs = fs;
  so.backend = &backend;

  MessageLoop loop;
  engine::MailService service(&loop, std::move(so));
  if (o.command[0] == "login") return Login(&service, &loop, o, out, err);
  err << "quillpost-cli: unknown command " << o.command[0] << "\n" << kUsage;
  return kExitUsage;
}

}  // namespace cli
}  // namespace quill
