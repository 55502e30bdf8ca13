// quillpost-cli check: the stores under the data directory, read-only.
// No gateway, no sign-in and no write to the data directory, so it can
// look at a store that another run left damaged.
#include <algorithm>

#include "store/store_checker.h"
#include "tools/cli/command_groups.h"
#include "tools/cli/text_fields.h"

namespace quill {
namespace cli {
namespace {

// The uin a directory name stands for, 0 unless it is an account directory
// name (a uin as the store spells it).
uint32_t AccountDirUin(const std::string& name) {
  uint32_t uin = 0;
  return ParseU32(name, &uin) && std::to_string(uin) == name ? uin : 0;
}

bool IsDirectory(FileSystem* fs, const std::string& path) {
  std::vector<std::string> names;
  return fs->ListPrefix(path, "", &names);
}

int Check(Invocation& run) {
  const std::vector<std::string>& command = run.command();
  const std::string& data_dir = run.options().data_dir;
  FileSystem* fs = run.fs();
  std::ostream& err = run.err();
  std::vector<uint32_t> uins;
  if (command.size() == 3 && command[1] == "--uin") {
    const uint32_t uin = AccountDirUin(command[2]);
    if (uin == 0) {
      err << "quillpost-cli: bad uin " << command[2] << "\n";
      return kExitUsage;
    }
    if (!IsDirectory(fs, data_dir + "/" + command[2])) {
      err << "quillpost-cli: no account directory " << data_dir << "/" << uin << "\n";
      return kExitFailed;
    }
    uins.push_back(uin);
  } else if (command.size() == 1) {
    std::vector<std::string> names;
    if (!fs->ListPrefix(data_dir, "", &names)) {
      err << "quillpost-cli: cannot read " << data_dir << "\n";
      return kExitFailed;
    }
    for (const std::string& name : names) {
      const uint32_t uin = AccountDirUin(name);
      if (uin != 0 && IsDirectory(fs, data_dir + "/" + name)) uins.push_back(uin);
    }
    if (uins.empty()) {
      err << "quillpost-cli: no account directory in " << data_dir << "\n";
      return kExitFailed;
    }
    std::sort(uins.begin(), uins.end());
  } else {
    return run.Usage();
  }
  bool clean = true;
  for (const uint32_t uin : uins) {
    const store::StoreCheckReport report =
        store::CheckAccountStore(fs, data_dir + "/" + std::to_string(uin) + "/");
    const size_t n = report.problems.size();
    run.out() << "account " << uin << ": "
              << (n == 0 ? "clean" : std::to_string(n) + (n == 1 ? " problem" : " problems"))
              << "\n";
    for (const std::string& fact : report.facts) run.out() << "  " << fact << "\n";
    for (const std::string& problem : report.problems) run.out() << "  problem: " << problem << "\n";
    clean = clean && report.clean();
  }
  return clean ? kExitOk : kExitFailed;
}

}  // namespace

std::vector<CommandEntry> StoreCheckCommands() {
  return {
      {"check",
       "  check [--uin N]          check the store of every account under DIR (or of N) read-only,\n"
       "                           without a gateway: the facts and every problem found;\n"
       "                           exit status 1 when any store has a problem\n",
       CommandEntry::Needs::kDataDir, Check},
  };
}

}  // namespace cli
}  // namespace quill
