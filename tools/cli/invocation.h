// What every quillpost-cli command runs with, and how a command is listed
// in the program's table (cli.cc): its name, its lines of the usage text,
// what it needs, and the function that runs it. Each group of commands
// (account, mailbox, store check, ...) is a unit of its own that hands its
// entries to the table.
#ifndef QUILL_TOOLS_CLI_INVOCATION_H_
#define QUILL_TOOLS_CLI_INVOCATION_H_

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "commands/login_host.h"
#include "facade/mail_service.h"
#include "platform/file_system.h"
#include "platform/message_loop.h"

namespace quill {
namespace cli {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

struct Options {
  std::string data_dir;              // --data
  std::string gateway_address;       // --gateway, empty: as configured
  std::string gateway_config;        // --gateway-config, empty: none
  int timeout_seconds = 120;         // --timeout: bound of one command
  std::vector<std::string> command;  // the command and its arguments
};

class Invocation;

struct CommandEntry {
  enum class Needs {
    kDataDir,  // only the data directory, read-only (no service is made)
    kStore,    // the mail service over the saved account's store; the
               // gateway configuration only if the command reaches the
               // service (RequireGateway), so a store copied without its
               // "gateway.cfg" still serves
    kNetwork,  // the mail service and the gateway configuration
  };
  const char* name;   // as typed, e.g. "list"
  const char* usage;  // its lines of the usage text, each ending in "\n"
  Needs needs;
  int (*run)(Invocation& run);  // the exit status
};

// The usage text: the common lines, then every entry's lines in table order.
const std::string& UsageText();

class Invocation {
 public:
  // service and loop are null for kDataDir commands. gateway_problem: why
  // the gateway configuration could not be loaded (a line for err), empty
  // when it was.
  Invocation(const Options& options, FileSystem* fs, facade::MailService* service,
             MessageLoop* loop, std::ostream& out, std::ostream& err,
             std::string gateway_problem = std::string())
      : options_(options),
        fs_(fs),
        service_(service),
        loop_(loop),
        out_(out),
        err_(err),
        gateway_problem_(std::move(gateway_problem)) {}

  const Options& options() const { return options_; }
  // The command and its arguments ([0] is the command's name).
  const std::vector<std::string>& command() const { return options_.command; }
  FileSystem* fs() { return fs_; }
  facade::MailService* service() { return service_; }
  MessageLoop* loop() { return loop_; }
  std::ostream& out() { return out_; }
  std::ostream& err() { return err_; }

  // Prints the usage text on err; kExitUsage.
  int Usage();
  // True when the gateway is configured; otherwise says why on err.
  bool RequireGateway();
  // Pumps the loop until done() or the --timeout; false at the timeout.
  bool WaitFor(const std::function<bool()>& done);

  // Signs in and waits for the answer and for the login slot to free.
  // False, with the product's text on err, when it failed (or, without a
  // gateway configuration, RequireGateway's). The account is saved for
  // later commands.
  bool SignIn(const std::u16string& account, const std::u16string& password, bool user_initiated,
              commands::AuthOutcome* outcome);
  // Signs in with the account the last login saved, as start-up does.
  bool SignInSaved();
  // Opens the store of the account the last login saved; no sign-in.
  bool OpenSaved();

 private:
  const Options& options_;
  FileSystem* const fs_;
  facade::MailService* const service_;
  MessageLoop* const loop_;
  std::ostream& out_;
  std::ostream& err_;
  const std::string gateway_problem_;  // empty: the gateway is configured
};

}  // namespace cli
}  // namespace quill

#endif  // QUILL_TOOLS_CLI_INVOCATION_H_
