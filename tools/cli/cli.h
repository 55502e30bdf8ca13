// quillpost-cli: the headless front-end over the mail service facade.
//
//   quillpost-cli --data DIR [--gateway HOST:PORT] [--gateway-config FILE]
//                 [--timeout SECONDS] COMMAND ...
//   commands:  login, sync, list, show, mark, delete, folders, contacts,
//              attachments, fetch, images, send, outbox, check, stats, update
//              (see the usage text); each group of them is a unit of its own
//              (command_groups.h)
//
// Output goes to out (results) and err (the product's own error texts,
// UTF-8); the return value is the exit status: 0 success, 1 the command
// failed, 2 bad usage or configuration.
#ifndef QUILL_TOOLS_CLI_CLI_H_
#define QUILL_TOOLS_CLI_CLI_H_

#include <ostream>
#include <string>
#include <vector>

namespace quill {
namespace cli {

int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace cli
}  // namespace quill

#endif  // QUILL_TOOLS_CLI_CLI_H_
