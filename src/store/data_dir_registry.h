// The two registry values that remember the data directory, under
// "Software\Corvane\Quillpost": "LastRunConfigPath" (the data directory of
// the last run) and one value named by the program's own directory (the
// data directory chosen for that installation). A failed read gives "".
#ifndef QUILL_STORE_DATA_DIR_REGISTRY_H_
#define QUILL_STORE_DATA_DIR_REGISTRY_H_

#include <string>

#include "platform/registry_store.h"

namespace quill {
namespace store {

inline constexpr char16_t kRegistryKey[] = u"Software\\Corvane\\Quillpost";
inline constexpr char16_t kLastRunConfigPath[] = u"LastRunConfigPath";

std::u16string GetLastRunConfigPath(RegistryStore* registry);
bool SetLastRunConfigPath(RegistryStore* registry, const std::u16string& data_dir);
// program_dir is the running program's directory with its trailing separator.
std::u16string GetInstallDataDir(RegistryStore* registry, const std::u16string& program_dir);
bool SetInstallDataDir(RegistryStore* registry, const std::u16string& program_dir,
                       const std::u16string& data_dir);

}  // namespace store
}  // namespace quill

#endif  // QUILL_STORE_DATA_DIR_REGISTRY_H_
