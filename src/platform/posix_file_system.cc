// The POSIX implementation of the file-system seam.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/file_system.h"
#include "platform/last_error.h"

namespace quill {
namespace {

bool Fail() {
  SetLastError(static_cast<uint32_t>(errno));
  return false;
}

class PosixFile : public File {
 public:
  explicit PosixFile(int fd) : fd_(fd) {}
  ~PosixFile() override { close(fd_); }

  bool ReadAt(uint64_t offset, void* buf, size_t n, size_t* got) override {
    size_t done = 0;
    while (done < n) {
      ssize_t r = pread(fd_, static_cast<char*>(buf) + done, n - done,
                        static_cast<off_t>(offset + done));
      if (r < 0) {
        if (errno == EINTR) continue;
        return Fail();
      }
      if (r == 0) break;
      done += static_cast<size_t>(r);
    }
    *got = done;
    return true;
  }

  bool WriteAt(uint64_t offset, const void* buf, size_t n) override {
    size_t done = 0;
    while (done < n) {
      ssize_t r = pwrite(fd_, static_cast<const char*>(buf) + done, n - done,
                         static_cast<off_t>(offset + done));
      if (r < 0) {
        if (errno == EINTR) continue;
        return Fail();
      }
      done += static_cast<size_t>(r);
    }
    return true;
  }

  bool Truncate(uint64_t size) override {
    return ftruncate(fd_, static_cast<off_t>(size)) == 0 || Fail();
  }

  bool Sync() override { return fdatasync(fd_) == 0 || Fail(); }

  bool Size(uint64_t* size) override {
    struct stat st;
    if (fstat(fd_, &st) != 0) return Fail();
    *size = static_cast<uint64_t>(st.st_size);
    return true;
  }

 private:
  const int fd_;  // owned descriptor
};

class PosixFileSystem : public FileSystem {
 public:
  std::unique_ptr<File> OpenRaw(const std::string& path, OpenMode mode,
                                uint32_t mode_bits) override {
    int flags = O_CLOEXEC;
    switch (mode) {
      case OpenMode::kRead: flags |= O_RDONLY; break;
      case OpenMode::kReadWrite: flags |= O_RDWR; break;
      case OpenMode::kCreate: flags |= O_RDWR | O_CREAT; break;
    }
    int fd;
    do {
      fd = open(path.c_str(), flags, static_cast<mode_t>(mode_bits));
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
      Fail();
      return nullptr;
    }
    return std::make_unique<PosixFile>(fd);
  }

  bool Exists(const std::string& path) override {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
  }

  bool Delete(const std::string& path) override { return unlink(path.c_str()) == 0 || Fail(); }

  bool Rename(const std::string& from, const std::string& to) override {
    return rename(from.c_str(), to.c_str()) == 0 || Fail();
  }

  bool MakeDirs(const std::string& dir) override {
    if (dir.empty()) return true;
    struct stat st;
    if (stat(dir.c_str(), &st) == 0) {
      if (S_ISDIR(st.st_mode)) return true;
      SetLastError(ENOTDIR);
      return false;
    }
    std::string parent = DirName(dir);
    if (!parent.empty() && parent != dir && !MakeDirs(parent)) return false;
    if (mkdir(dir.c_str(), 0755) == 0 || errno == EEXIST) return true;
    return Fail();
  }

  bool ListPrefix(const std::string& dir, const std::string& prefix,
                  std::vector<std::string>* names) override {
    DIR* d = opendir(dir.c_str());
    if (!d) return Fail();
    names->clear();
    while (struct dirent* e = readdir(d)) {
      std::string name = e->d_name;
      if (name == "." || name == "..") continue;
      if (name.compare(0, prefix.size(), prefix) == 0) names->push_back(name);
    }
    closedir(d);
    std::sort(names->begin(), names->end());
    return true;
  }

  bool SyncDir(const std::string& dir) override {
    int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return Fail();
    bool ok = fsync(fd) == 0 || Fail();
    close(fd);
    return ok;
  }

  bool ModifiedTimeNs(const std::string& path, int64_t* ns) override {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return Fail();
    *ns = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return true;
  }

  bool FreeSpace(const std::string& path, uint64_t* bytes) override {
    std::string probe = path.empty() ? "." : path;
    struct statvfs vfs;
    while (statvfs(probe.c_str(), &vfs) != 0) {
      if (errno != ENOENT) return Fail();
      std::string parent = DirName(probe);
      if (parent.empty()) parent = ".";
      if (parent == probe) return Fail();
      probe = parent;
    }
    *bytes = static_cast<uint64_t>(vfs.f_bavail) * vfs.f_frsize;
    return true;
  }
};

}  // namespace

FileSystem* DefaultFileSystem() {
  static PosixFileSystem* fs = new PosixFileSystem();  // lives for the process
  return fs;
}

}  // namespace quill
