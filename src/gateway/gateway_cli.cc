#include "gateway/gateway_cli.h"

#include <charconv>
#include <climits>

#include "gateway/stats_store.h"
#include "gateway/update_shelf.h"

namespace quill {
namespace gateway {
namespace {

bool ParseNumber(std::string_view text, uint64_t max, uint64_t* out) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  if (text.empty()) return false;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, *out, base);
  return ec == std::errc() && ptr == end && *out <= max;
}

bool IsHostText(std::string_view host) {
  if (host.empty() || host.size() > 253) return false;
  for (char c : host) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == '.' || c == '-' || c == ':';
    if (!ok) return false;
  }
  return true;
}

}  // namespace

bool ParseGatewayCommandLine(const std::vector<std::string>& args, GatewayCommandLine* out,
                             std::string* error) {
  *out = GatewayCommandLine();
  std::vector<std::string> positional;
  bool have_uin = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a.size() < 2 || a.compare(0, 2, "--") != 0) {
      positional.push_back(a);
      continue;
    }
    if (a == "--allow-remote-images") {
      out->options.allow_remote_images = true;
      continue;
    }
    if (i + 1 >= args.size()) {
      *error = a + " needs a value";
      return false;
    }
    const std::string& v = args[++i];
    uint64_t n = 0;
    if (a == "--state") {
      out->options.state_dir = v;
    } else if (a == "--host") {
      if (!IsHostText(v)) {
        *error = "--host: not a host name or address: " + v;
        return false;
      }
      out->options.host = v;
    } else if (a == "--port") {
      if (!ParseNumber(v, 65535, &n)) {
        *error = "--port: not a port from 0 to 65535: " + v;
        return false;
      }
      out->options.port = static_cast<int>(n);
    } else if (a == "--min-version") {
      if (!ParseNumber(v, 0xFFFFFFFFu, &n)) {
        *error = "--min-version: not a version number: " + v;
        return false;
      }
      out->options.min_client_version = static_cast<uint32_t>(n);
    } else if (a == "--session-seconds") {
      if (!ParseNumber(v, 365u * 24 * 3600, &n) || n == 0) {
        *error = "--session-seconds: not a number of seconds: " + v;
        return false;
      }
      out->options.session_lifetime = std::chrono::seconds(n);
    } else if (a == "--fault") {
      std::pair<std::string, Fault> f;
      if (!ParseFaultSpec(v, &f.first, &f.second)) {
        *error = "--fault: expected COMMAND=MODE[:ARG] with MODE drop, garbage, http500, "
                 "delay:MS, expire, result:CODE, cut or refuse:CODE: " + v;
        return false;
      }
      out->faults.push_back(f);
    } else if (a == "--uin") {
      if (!ParseNumber(v, 0xFFFFFFFFu, &n) || n == 0) {
        *error = "--uin: not an account number from 1 to 4294967295: " + v;
        return false;
      }
      out->account.uin = static_cast<uint32_t>(n);
      have_uin = true;
    } else if (a == "--address") {
      out->account.address = v;
    } else if (a == "--nickname") {
      out->account.nickname = v;
    } else if (a == "--version") {
      if (!ParseNumber(v, INT32_MAX, &n) || n == 0) {
        *error = "--version: not a version number from 1 to 2147483647: " + v;
        return false;
      }
      out->update_version = static_cast<int32_t>(n);
    } else if (a == "--notes") {
      out->notes = v;
    } else {
      *error = "unknown option " + a;
      return false;
    }
  }
  if (out->options.state_dir.empty()) {
    *error = "--state DIR is required";
    return false;
  }
  if (positional.empty() || positional[0] != "add-account") {
    if (have_uin || !out->account.address.empty() || !out->account.nickname.empty()) {
      *error = "--uin, --address and --nickname belong to add-account";
      return false;
    }
  }
  const bool publishing = !positional.empty() && positional[0] == "publish-update";
  if (!publishing && (out->update_version != 0 || !out->notes.empty())) {
    *error = "--version and --notes belong to publish-update";
    return false;
  }
  if (positional.empty()) return true;
  if (positional[0] == "stats" && positional.size() == 1) {
    out->stats = true;
    return true;
  }
  if (publishing && positional.size() == 2) {
    if (out->update_version == 0) {
      *error = "publish-update needs --version V";
      return false;
    }
    out->publish_update = true;
    out->package_file = positional[1];
    return true;
  }
  if (positional[0] != "add-account" || positional.size() != 3) {
    *error = "expected no command, add-account NAME PASSWORD, stats, or publish-update FILE";
    return false;
  }
  if (!have_uin) {
    *error = "add-account needs --uin N";
    return false;
  }
  out->add_account = true;
  out->account.name = positional[1];
  out->password = positional[2];
  out->account.password_digest = PasswordDigestText(out->password);
  return true;
}

bool AddAccountWithMaildir(FileSystem* fs, const std::string& state_dir,
                           const GatewayAccount& account, std::string* error) {
  AccountBook book;
  if (!book.Load(fs, AccountsPath(state_dir), error) || !book.Add(account, error)) return false;
  const std::string maildir = MaildirPath(state_dir, account.name);
  for (const char* sub : {"/cur", "/new", "/tmp"}) {
    if (!fs->MakeDirs(maildir + sub)) {
      *error = maildir + sub + ": cannot be created";
      return false;
    }
  }
  if (!book.Save(fs, AccountsPath(state_dir))) {
    *error = AccountsPath(state_dir) + ": cannot be written";
    return false;
  }
  return true;
}

int AddAccountCommand(FileSystem* fs, const GatewayCommandLine& cl, std::ostream& out,
                      std::ostream& err) {
  std::string error;
  if (!AddAccountWithMaildir(fs, cl.options.state_dir, cl.account, &error)) {
    err << "quillpost-gateway: " << error << "\n";
    return kGatewayExitFailed;
  }
  out << "account " << cl.account.name << " (uin " << cl.account.uin << "), mailbox "
      << MaildirPath(cl.options.state_dir, cl.account.name) << "\n";
  return kGatewayExitOk;
}

int StatsCommand(const GatewayCommandLine& cl, std::ostream& out, std::ostream& err) {
  StatsStore stats(cl.options.state_dir + "/" + kStatsFileName);
  std::vector<StatTotals> totals;
  std::string error;
  if (!stats.Totals(&totals, &error)) {
    err << "quillpost-gateway: " << error << "\n";
    return kGatewayExitFailed;
  }
  if (totals.empty()) out << "no statistics uploaded\n";
  for (const StatTotals& t : totals) {
    out << "account " << t.account << " (uin " << t.uin << "): " << t.uploads
        << (t.uploads == 1 ? " upload\n" : " uploads\n");
    for (size_t i = 0; i < kStatValueCount; ++i) {
      out << "  " << kStatNames[i] << " " << t.values[i]
          << (i == kStatStartTime || i == kStatEndTime ? " (last upload)\n" : "\n");
    }
  }
  return kGatewayExitOk;
}

int PublishUpdateCommand(FileSystem* fs, const GatewayCommandLine& cl, std::ostream& out,
                         std::ostream& err) {
  UpdateShelf shelf(fs, cl.options.state_dir);
  UpdateRelease release;
  std::string error;
  if (!shelf.Publish(cl.package_file, cl.update_version, cl.notes, &release, &error)) {
    err << "quillpost-gateway: " << error << "\n";
    return kGatewayExitFailed;
  }
  out << "published " << release.package << " (" << release.size << " bytes) as version "
      << VersionText(release.version) << " (" << release.version << ")\n";
  return kGatewayExitOk;
}

ControlResult ApplyControlLine(std::string_view line, FaultPlan* faults, std::string* error) {
  while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.remove_suffix(1);
  if (line == "quit") return ControlResult::kQuit;
  if (line == "clear") {
    faults->ClearAll();
    return ControlResult::kApplied;
  }
  constexpr std::string_view kFault = "fault ";
  std::string command;
  Fault fault;
  if (line.substr(0, kFault.size()) == kFault &&
      ParseFaultSpec(line.substr(kFault.size()), &command, &fault)) {
    faults->Set(command, fault);
    return ControlResult::kApplied;
  }
  *error = "expected \"fault COMMAND=MODE[:ARG]\", \"clear\" or \"quit\"";
  return ControlResult::kBad;
}

}  // namespace gateway
}  // namespace quill
