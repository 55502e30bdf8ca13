// The command groups of quillpost-cli. Each group is a unit of its own;
// cli.cc lists the groups, in the order of the usage text.
#ifndef QUILL_TOOLS_CLI_COMMAND_GROUPS_H_
#define QUILL_TOOLS_CLI_COMMAND_GROUPS_H_

#include <vector>

#include "tools/cli/invocation.h"

namespace quill {
namespace cli {

std::vector<CommandEntry> AccountCommands();     // login, sync
std::vector<CommandEntry> MailboxCommands();     // list, show, mark, delete, folders, contacts
std::vector<CommandEntry> StoreCheckCommands();  // check

}  // namespace cli
}  // namespace quill

#endif  // QUILL_TOOLS_CLI_COMMAND_GROUPS_H_
