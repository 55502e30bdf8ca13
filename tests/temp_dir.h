// A directory under /tmp that is removed with everything in it.
#ifndef QUILL_TESTS_TEMP_DIR_H_
#define QUILL_TESTS_TEMP_DIR_H_

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

namespace quill {

class TempDir {
 public:
  // Under parent, which must exist.
  explicit TempDir(const std::string& parent = "/tmp") {
    std::string tmpl = parent + "/quill-gateway-XXXXXX";
    if (mkdtemp(tmpl.data()) != nullptr) path_ = tmpl;
  }
  // In memory (/dev/shm) where the system has it, else under /tmp: for
  // tests that model durability themselves and only need files fast.
  static std::string MemoryParent() {
    struct stat st;
    return stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode) && access("/dev/shm", W_OK) == 0 ? "/dev/shm"
                                                                                            : "/tmp";
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
