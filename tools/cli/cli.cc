#include "tools/cli/cli.h"

#include <unistd.h>

#include <cctype>
#include <climits>
#include <cstdlib>
#include <sstream>

#include "engine/connection_backend.h"
#include "facade/mail_service.h"
#include "platform/device_id_source.h"
#include "platform/file_system.h"
#include "platform/message_loop.h"
#include "platform/registry_store.h"
#include "platform/utf.h"
#include "store/device_id.h"
#include "tools/cli/command_groups.h"
#include "tools/cli/invocation.h"

namespace quill {
namespace cli {

namespace {

// Every command, in the order of the usage text. A new group of commands
// is a unit of its own and one line here.
const std::vector<CommandEntry>& Table() {
  static const std::vector<CommandEntry>* table = [] {
    auto* t = new std::vector<CommandEntry>();
    for (auto group : {AccountCommands, MailboxCommands, AttachmentCommands, SendCommands,
                       StoreCheckCommands, UpdateCommands}) {
      for (const CommandEntry& entry : group()) t->push_back(entry);
    }
    return t;
  }();
  return *table;
}

const CommandEntry* FindCommand(const std::string& name) {
  for (const CommandEntry& entry : Table()) {
    if (name == entry.name) return &entry;
  }
  return nullptr;
}

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
    err << UsageText();
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

}  // namespace

const std::string& UsageText() {
  static const std::string* text = [] {
    auto* t = new std::string(
        "usage: quillpost-cli --data DIR [--gateway HOST:PORT] [--gateway-config FILE]\n"
        "                     [--timeout SECONDS] COMMAND ...\n"
        "commands:\n");
    for (const CommandEntry& entry : Table()) *t += entry.usage;
    return t;
  }();
  return *text;
}

int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  Options o;
  if (!ParseOptions(args, &o, err)) return kExitUsage;
  FileSystem* fs = DefaultFileSystem();
  const CommandEntry* entry = FindCommand(o.command[0]);
  if (entry != nullptr && entry->needs == CommandEntry::Needs::kDataDir) {
    Invocation run(o, fs, nullptr, nullptr, out, err);  // before anything is written
    return entry->run(run);
  }
  if (!fs->MakeDirs(o.data_dir)) {
    err << "quillpost-cli: cannot create " << o.data_dir << "\n";
    return kExitUsage;
  }
  facade::MailServiceOptions so;
  so.data_dir = o.data_dir;
  // Commands that work on the store alone run without a gateway
  // configuration unless the command line names one.
  std::ostringstream gateway_problem;
  const bool offline = entry != nullptr && entry->needs == CommandEntry::Needs::kStore &&
                       o.gateway_config.empty() && o.gateway_address.empty();
  if (!LoadGateway(fs, o, &so.gateway, offline ? gateway_problem : err) && !offline) {
    return kExitUsage;
  }

  LinuxDeviceIdSource id_source(fs, "/etc/machine-id", RegistryStore::DefaultDir());
  store::DeviceId device_id(&id_source, ProgramDir());
  so.device_id = device_id.Get();
  engine::LinuxConnectionBackend backend;
  so.fs = fs;
  so.backend = &backend;

  MessageLoop loop;
  facade::MailService service(&loop, std::move(so));
  if (entry == nullptr) {
    err << "quillpost-cli: unknown command " << o.command[0] << "\n" << UsageText();
    return kExitUsage;
  }
  Invocation run(o, fs, &service, &loop, out, err, gateway_problem.str());
  return entry->run(run);
}

}  // namespace cli
}  // namespace quill
