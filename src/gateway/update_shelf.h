// The client update the operator published. "updates/" in the state
// directory holds the package, named by its MD5 digest ("<32 lower-case
// hexadecimal digits>.cab"), and "release.cfg", which names it:
//
//   version:<number>  package:<name>  size:<bytes>  notes:<text to the end>
//
// one per line, in that order. Publish writes the package and then the
// release, each replaced atomically, and then removes the package the
// release replaced; a reader sees the old release or the new one.
//
// Thread safety: every method may be called from any thread; the files are
// the only state, and a publish may come from another process.
#ifndef QUILL_GATEWAY_UPDATE_SHELF_H_
#define QUILL_GATEWAY_UPDATE_SHELF_H_

#include <cstdint>
#include <string>

#include "platform/bytes.h"
#include "platform/file_system.h"

namespace quill {
namespace gateway {

constexpr char kUpdatesDirName[] = "updates";
constexpr char kReleaseFileName[] = "release.cfg";

struct UpdateRelease {
  int32_t version = 0;  // the client version it brings, e.g. 0x10031
  std::string package;  // its name: the MD5 digest, 32 lower-case hex digits
  uint64_t size = 0;    // bytes
  std::string notes;    // UTF-8, shown with the offer
};

// "major.minor.build" of a version number: 0x10031 is "1.0.49".
std::string VersionText(int32_t version);

class UpdateShelf {
 public:
  // fs must outlive the shelf.
  UpdateShelf(FileSystem* fs, std::string state_dir);

  // The release published now; false when there is none, or it cannot be
  // read.
  bool Current(UpdateRelease* out) const;
  // Publishes the package at `file` as `version` (above 0); false with the
  // reason. A package is 1 to 2^31 - 1 bytes, as its offer says its size
  // (0: nothing offered).
  bool Publish(const std::string& file, int32_t version, const std::string& notes,
               UpdateRelease* out, std::string* error);
  // Up to `max` bytes of the release's package from offset; false when the
  // package cannot be read (replaced since the release was read).
  bool ReadPiece(const UpdateRelease& release, uint64_t offset, size_t max, Bytes* out) const;

 private:
  std::string PackagePath(const std::string& package) const;

  FileSystem* const fs_;
  const std::string dir_;  // state_dir/updates
};

}  // namespace gateway
}  // namespace quill

#endif  // QUILL_GATEWAY_UPDATE_SHELF_H_
