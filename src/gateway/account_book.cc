#include "gateway/account_book.h"

#include <cctype>
#include <charconv>

#include "platform/crypto.h"
#include "platform/hex.h"

namespace quill {
namespace gateway {
namespace {

constexpr size_t kMaxTextBytes = 128;

bool IsDigestText(std::string_view s) {
  if (s.size() != 32) return false;
  for (char c : s) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

// A field may hold no separator of the file.
bool IsFieldText(std::string_view s) {
  if (s.size() > kMaxTextBytes) return false;
  for (char c : s) {
    if (c == '\t' || c == '\r' || c == '\n') return false;
  }
  return true;
}

std::vector<std::string_view> SplitTabs(std::string_view line) {
  std::vector<std::string_view> fields;
  size_t start = 0;
  for (;;) {
    const size_t tab = line.find('\t', start);
    fields.push_back(line.substr(start, tab == std::string_view::npos ? tab : tab - start));
    if (tab == std::string_view::npos) return fields;
    start = tab + 1;
  }
}

bool ParseUin(std::string_view text, uint32_t* out) {
  if (text.empty()) return false;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, *out);
  return ec == std::errc() && ptr == end && *out != 0;
}

}  // namespace

std::string PasswordDigestText(std::string_view typed_utf8) {
  uint8_t digest[16];
  crypto::Md5(ByteView(typed_utf8), digest);
  return HexEncodeLower(ByteView(digest, sizeof digest));
}

bool IsValidAccountName(std::string_view name) {
  if (name.empty() || name.size() > kMaxAccountNameBytes || name[0] == '.') return false;
  for (char c : name) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F || c == '/' || c == '\\') return false;
  }
  return true;
}

bool AccountBook::Load(FileSystem* fs, const std::string& path, std::string* error) {
  accounts_.clear();
  if (!fs->Exists(path)) return true;
  Bytes data;
  if (!fs->ReadFile(path, &data)) {
    *error = path + ": cannot be read";
    return false;
  }
  const std::string text = ByteView(data).ToString();
  size_t start = 0;
  for (int line_no = 1; start < text.size(); ++line_no) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string_view line(text.data() + start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty() || line[0] == '#') continue;
    const std::vector<std::string_view> f = SplitTabs(line);
    GatewayAccount account;
    std::string why;
    if (f.size() != 5) {
      why = "expected 5 fields separated by TAB";
    } else {
      account.name = std::string(f[0]);
      account.password_digest = std::string(f[1]);
      account.address = std::string(f[3]);
      account.nickname = std::string(f[4]);
      if (!ParseUin(f[2], &account.uin)) {
        why = "the uin is not a number from 1 to 4294967295";
      } else {
        Add(account, &why);  // sets `why` only when it refuses
      }
    }
    if (!why.empty()) {
      *error = path + ":" + std::to_string(line_no) + ": " + why;
      accounts_.clear();
      return false;
    }
  }
  return true;
}

bool AccountBook::Save(FileSystem* fs, const std::string& path) const {
  std::string text = "# name\tpassword digest\tuin\taddress\tnickname\n";
  for (const GatewayAccount& a : accounts_) {
    text += a.name + '\t' + a.password_digest + '\t' + std::to_string(a.uin) + '\t' + a.address +
            '\t' + a.nickname + '\n';
  }
  return fs->ReplaceAtomically(path, ByteView(text), 0600);
}

bool AccountBook::Add(const GatewayAccount& account, std::string* error) {
  if (!IsValidAccountName(account.name) || !IsFieldText(account.name)) {
    *error = "the account name \"" + account.name +
             "\" is empty, too long, starts with '.' or holds a separator or control character";
    return false;
  }
  if (!IsDigestText(account.password_digest)) {
    *error = "the password digest is not 32 lower-case hexadecimal digits";
    return false;
  }
  if (account.uin == 0) {
    *error = "the uin must not be 0";
    return false;
  }
  if (!IsFieldText(account.address) || !IsFieldText(account.nickname)) {
    *error = "the address and the nickname are at most 128 bytes without TAB or line breaks";
    return false;
  }
  for (const GatewayAccount& a : accounts_) {
    if (EqualsIgnoringAsciiCase(a.name, account.name)) {
      *error = "an account named \"" + a.name + "\" exists";
      return false;
    }
    if (a.uin == account.uin) {
      *error = "the uin " + std::to_string(a.uin) + " belongs to \"" + a.name + "\"";
      return false;
    }
  }
  accounts_.push_back(account);
  return true;
}

const GatewayAccount* AccountBook::Find(std::string_view name) const {
  for (const GatewayAccount& a : accounts_) {
    if (EqualsIgnoringAsciiCase(a.name, name)) return &a;
  }
  return nullptr;
}

const GatewayAccount* AccountBook::FindByAddress(std::string_view address) const {
  for (const GatewayAccount& a : accounts_) {
    if (!a.address.empty() && EqualsIgnoringAsciiCase(a.address, address)) return &a;
  }
  return nullptr;
}

}  // namespace gateway
}  // namespace quill
