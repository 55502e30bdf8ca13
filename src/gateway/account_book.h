// The gateway's accounts: "accounts.cfg" in its state directory, one
// account per line, fields separated by TAB, UTF-8:
//
//   NAME <TAB> PASSWORD-DIGEST <TAB> UIN <TAB> ADDRESS <TAB> NICKNAME
//
// The password is kept as the client sends it: the MD5 digest of the typed
// password's UTF-8 bytes in hexadecimal. Empty lines and lines starting
// with '#' are ignored. Names compare case-insensitively (ASCII), and a name
// is also a directory name, so it may not contain a path separator, a
// control character or start with '.'.
//
// Thread safety: none; the server loads a book once before it serves.
#ifndef QUILL_GATEWAY_ACCOUNT_BOOK_H_
#define QUILL_GATEWAY_ACCOUNT_BOOK_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ascii.h"  // EqualsIgnoringAsciiCase: how account names and digests compare
#include "platform/file_system.h"

namespace quill {
namespace gateway {

constexpr char kAccountsFileName[] = "accounts.cfg";
constexpr size_t kMaxAccountNameBytes = 128;

struct GatewayAccount {
  std::string name;             // as added; the login account text
  std::string password_digest;  // 32 lower-case hexadecimal digits
  uint32_t uin = 0;             // account number, not 0
  std::string address;          // e-mail address, at most 128 bytes
  std::string nickname;         // at most 128 bytes
};

// The digest text of a typed password, as the client computes it.
std::string PasswordDigestText(std::string_view typed_utf8);

// Usable as an account name and as the name of its mailbox directory.
bool IsValidAccountName(std::string_view name);

class AccountBook {
 public:
  // Reads `path`; a missing file is an empty book. False with a message in
  // *error naming the line when a line is malformed.
  bool Load(FileSystem* fs, const std::string& path, std::string* error);
  // Writes the whole book atomically.
  bool Save(FileSystem* fs, const std::string& path) const;
  // Adds an account after checking its name, uin, texts and uniqueness.
  bool Add(const GatewayAccount& account, std::string* error);
  // The account whose name equals `name` ignoring ASCII case, or null.
  const GatewayAccount* Find(std::string_view name) const;
  // The account whose address equals `address` ignoring ASCII case, or null.
  const GatewayAccount* FindByAddress(std::string_view address) const;

 private:
  std::vector<GatewayAccount> accounts_;  // in file order
};

}  // namespace gateway
}  // namespace quill

#endif  // QUILL_GATEWAY_ACCOUNT_BOOK_H_
