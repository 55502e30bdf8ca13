// A directory under /tmp that is removed with everything in it.
#ifndef QUILL_TESTS_TEMP_DIR_H_
#define QUILL_TESTS_TEMP_DIR_H_

#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

namespace quill {

class TempDir {
 public:
  TempDir() {
    char tmpl[] = "/tmp/quill-gateway-XXXXXX";
    if (mkdtemp(tmpl) != nullptr) path_ = tmpl;
  }
  ~TempDir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // Permission bits of a file inside, or ~0u when it is missing.
  unsigned Mode(const std::string& name) const {
    struct stat st;
    if (stat((path_ + "/" + name).c_str(), &st) != 0) return ~0u;
    return st.st_mode & 0777;
  }

 private:
  std::string path_;  // empty when mkdtemp failed
};

}  // namespace quill

#endif  // QUILL_TESTS_TEMP_DIR_H_
