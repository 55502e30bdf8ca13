#include "store/data_dir_registry.h"

namespace quill {
namespace store {
namespace {

std::u16string Read(RegistryStore* registry, const std::u16string& name) {
  std::u16string value;
  if (!registry->GetString(kRegistryKey, name, &value)) return std::u16string();
  return value;
}

}  // namespace

std::u16string GetLastRunConfigPath(RegistryStore* registry) {
  return Read(registry, kLastRunConfigPath);
}

bool SetLastRunConfigPath(RegistryStore* registry, const std::u16string& data_dir) {
  return registry->SetString(kRegistryKey, kLastRunConfigPath, data_dir);
}

std::u16string GetInstallDataDir(RegistryStore* registry, const std::u16string& program_dir) {
  return Read(registry, program_dir);
}

bool SetInstallDataDir(RegistryStore* registry, const std::u16string& program_dir,
                       const std::u16string& data_dir) {
  return registry->SetString(kRegistryKey, program_dir, data_dir);
}

}  // namespace store
}  // namespace quill
