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
std::vector<CommandEntry> SendCommands();        // send, outbox
std::vector<CommandEntry> StoreCheckCommands();  // check
std::vector<CommandEntry> AttachmentCommands();  // attachments, fetch, images
std::vector<CommandEntry> UpdateCommands();      // stats, update

// Makes sure the saved account's store holds the whole body of a mail of
// the service, signing in and fetching its brief and the rest of its body
// as needed; false (said on err) when that failed. A local mail is held.
bool HoldWholeBody(Invocation& run, uint32_t mail_id);

}  // namespace cli
}  // namespace quill

#endif  // QUILL_TOOLS_CLI_COMMAND_GROUPS_H_
