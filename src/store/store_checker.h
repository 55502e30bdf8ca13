// A read-only check of one account directory: the record files' headers,
// chains and free lists, the fields of every mail, folder and contact
// record, the per-mail directories and the command queue files. Nothing is
// written or repaired; a record file with a hot rollback journal is checked
// as it will be once opening has rolled the journal back.
#ifndef QUILL_STORE_STORE_CHECKER_H_
#define QUILL_STORE_STORE_CHECKER_H_

#include <string>
#include <vector>

#include "platform/file_system.h"

namespace quill {
namespace store {

struct StoreCheckReport {
  std::vector<std::string> facts;     // counts and notes, one line each
  std::vector<std::string> problems;  // each inconsistency, with its file and slot
  bool clean() const { return problems.empty(); }
};

// account_dir ends in '/'.
StoreCheckReport CheckAccountStore(FileSystem* fs, const std::string& account_dir);

}  // namespace store
}  // namespace quill

#endif  // QUILL_STORE_STORE_CHECKER_H_
