// Which directory holds the local data. An installation (named by the
// program's own directory) remembers its choice in the registry store; a
// new installation that finds the data directory of the last run elsewhere
// asks once whether to keep using it. Every run then records its data
// directory as "LastRunConfigPath".
#ifndef QUILL_APP_DATA_DIR_CHOICE_H_
#define QUILL_APP_DATA_DIR_CHOICE_H_

#include <functional>
#include <string>

#include "platform/registry_store.h"

namespace quill {
namespace app {

struct DataDirInputs {
  std::u16string program_dir;   // the running program's directory, ending in '/'
  std::u16string default_dir;   // this installation's own data directory
  std::u16string explicit_dir;  // --data: used as given, nothing asked; may be empty
};

// Asked with the last run's directory; true keeps it.
using KeepLastDirQuestion = std::function<bool(const std::u16string& last_run_dir)>;

// The data directory, after reading and writing the registry values.
std::u16string ChooseDataDir(RegistryStore* registry, const DataDirInputs& inputs,
                             const KeepLastDirQuestion& ask);

}  // namespace app
}  // namespace quill

#endif  // QUILL_APP_DATA_DIR_CHOICE_H_
