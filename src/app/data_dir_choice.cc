#include "app/data_dir_choice.h"

#include <algorithm>
#include <cwctype>

#include "store/data_dir_registry.h"

namespace quill {
namespace app {
namespace {

bool EqualIgnoringCase(const std::u16string& a, const std::u16string& b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char16_t x, char16_t y) {
           return std::towlower(static_cast<wint_t>(x)) == std::towlower(static_cast<wint_t>(y));
         });
}

}  // namespace

std::u16string ChooseDataDir(RegistryStore* registry, const DataDirInputs& in,
                             const KeepLastDirQuestion& ask) {
  std::u16string dir;
  if (!in.explicit_dir.empty()) {
    dir = in.explicit_dir;
  } else {
    dir = store::GetInstallDataDir(registry, in.program_dir);
    if (dir.empty()) {
      const std::u16string last = store::GetLastRunConfigPath(registry);
      dir = !last.empty() && !EqualIgnoringCase(last, in.default_dir) && ask(last)
                ? last
                : in.default_dir;
      store::SetInstallDataDir(registry, in.program_dir, dir);
    }
  }
  store::SetLastRunConfigPath(registry, dir);
  return dir;
}

}  // namespace app
}  // namespace quill
