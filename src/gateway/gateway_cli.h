// The command line of quillpost-gateway:
//
//   quillpost-gateway --state DIR [--host H] [--port N] [--min-version V]
//                     [--session-seconds S] [--fault COMMAND=MODE[:ARG]]...
//                     [--allow-remote-images]
//   quillpost-gateway --state DIR add-account NAME PASSWORD --uin N
//                     [--address A] [--nickname TEXT]
//   quillpost-gateway --state DIR stats
//   quillpost-gateway --state DIR publish-update FILE --version V [--notes TEXT]
//
// While serving, lines on standard input change the faults:
//   fault COMMAND=MODE[:ARG]   set (MODE "none" clears that command)
//   clear                      clear every fault
//   quit                       stop serving
#ifndef QUILL_GATEWAY_GATEWAY_CLI_H_
#define QUILL_GATEWAY_GATEWAY_CLI_H_

#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "gateway/account_book.h"
#include "gateway/fault_plan.h"
#include "gateway/gateway_server.h"
#include "platform/file_system.h"

namespace quill {
namespace gateway {

constexpr int kGatewayExitOk = 0;
constexpr int kGatewayExitFailed = 1;
constexpr int kGatewayExitUsage = 2;

struct GatewayCommandLine {
  GatewayOptions options;                               // --state, --host, --port, ...
  std::vector<std::pair<std::string, Fault>> faults;    // --fault, in order
  bool add_account = false;                             // the add-account form
  GatewayAccount account;                               // add-account: name, uin, texts
  std::string password;                                 // add-account: the typed password
  bool stats = false;                                   // the stats form
  bool publish_update = false;                          // the publish-update form
  std::string package_file;                             // publish-update: FILE
  int32_t update_version = 0;                           // publish-update: --version
  std::string notes;                                    // publish-update: --notes
};

// False with a message for anything the usage above does not allow.
bool ParseGatewayCommandLine(const std::vector<std::string>& args, GatewayCommandLine* out,
                             std::string* error);

// Adds the account to the state directory and creates its Maildir with
// "cur", "new" and "tmp"; false with the reason. Tests and benchmarks set
// up their state with it too.
bool AddAccountWithMaildir(FileSystem* fs, const std::string& state_dir,
                           const GatewayAccount& account, std::string* error);
// The add-account command line: the same, reported on out / err.
int AddAccountCommand(FileSystem* fs, const GatewayCommandLine& cl, std::ostream& out,
                      std::ostream& err);

// The stats command line: the statistics uploads' totals per account and
// value, on out.
int StatsCommand(const GatewayCommandLine& cl, std::ostream& out, std::ostream& err);
// The publish-update command line: the package becomes the release offered
// to older clients.
int PublishUpdateCommand(FileSystem* fs, const GatewayCommandLine& cl, std::ostream& out,
                         std::ostream& err);

enum class ControlResult { kApplied, kQuit, kBad };
ControlResult ApplyControlLine(std::string_view line, FaultPlan* faults, std::string* error);

}  // namespace gateway
}  // namespace quill

#endif  // QUILL_GATEWAY_GATEWAY_CLI_H_
