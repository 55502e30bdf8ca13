#include "gateway/mail_transport.h"

#include <curl/curl.h>

#include <charconv>
#include <mutex>

#include "platform/crypto.h"
#include "platform/hex.h"

namespace quill {
namespace gateway {
namespace {

std::string Trimmed(const std::string& s) {
  const size_t b = s.find_first_not_of(" \t\r");
  if (b == std::string::npos) return std::string();
  return s.substr(b, s.find_last_not_of(" \t\r") - b + 1);
}

// Hands the message to libcurl piece by piece.
struct Upload {
  const std::string* message;
  size_t sent = 0;
};

size_t ReadMessage(char* buffer, size_t size, size_t n, void* user) {
  auto* up = static_cast<Upload*>(user);
  const size_t room = size * n;
  const size_t left = up->message->size() - up->sent;
  const size_t take = left < room ? left : room;
  up->message->copy(buffer, take, up->sent);
  up->sent += take;
  return take;
}

}  // namespace

bool LoadRelayConfig(FileSystem* fs, const std::string& path, SmtpRelay* relay,
                     std::string* error) {
  *relay = SmtpRelay();
  if (!fs->Exists(path)) return true;
  Bytes bytes;
  if (!fs->ReadFile(path, &bytes)) {
    *error = path + ": cannot be read";
    return false;
  }
  const std::string text(bytes.begin(), bytes.end());
  size_t start = 0;
  for (int line_no = 1; start <= text.size(); ++line_no) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = Trimmed(text.substr(start, end - start));
    start = end + 1;
    if (line.empty() || line[0] == '#') continue;
    const size_t eq = line.find('=');
    const std::string key = eq == std::string::npos ? line : Trimmed(line.substr(0, eq));
    const std::string value = eq == std::string::npos ? std::string() : Trimmed(line.substr(eq + 1));
    bool ok = eq != std::string::npos;
    if (key == "host") {
      relay->host = value;
      ok = ok && !value.empty();
    } else if (key == "port") {
      int port = 0;
      auto [p, ec] = std::from_chars(value.data(), value.data() + value.size(), port);
      ok = ok && ec == std::errc() && p == value.data() + value.size() && port > 0 && port < 65536;
      relay->port = port;
    } else if (key == "starttls") {
      ok = ok && (value == "yes" || value == "no");
      relay->starttls = value == "yes";
    } else if (key == "user") {
      relay->user = value;
    } else if (key == "password") {
      relay->password = value;
    } else {
      ok = false;
    }
    if (!ok) {
      *error = path + ":" + std::to_string(line_no) + ": expected host=, port=, starttls=yes|no, "
               "user= or password=";
      return false;
    }
  }
  if (!relay->host.empty()) return true;
  *error = path + ": host= is required";
  return false;
}

bool WriteToMaildir(FileSystem* fs, const std::string& maildir, const std::string& relpath,
                    const std::string& message) {
  const std::string target = maildir + "/" + relpath;
  if (fs->Exists(target)) return true;
  const std::string folder = DirName(DirName(target));  // the folder holding tmp/new/cur
  uint8_t random[8];
  if (!crypto::RandomBytes(random, sizeof random)) return false;
  const std::string temp = folder + "/tmp/" + HexEncodeLower(ByteView(random, sizeof random));
  std::unique_ptr<File> f = fs->Open(temp, FileSystem::OpenMode::kCreate, 0600);
  const bool written = f != nullptr && f->Truncate(0) &&
                       f->WriteAt(0, message.data(), message.size()) && f->Sync();
  f.reset();
  if (!written || !fs->MakeDirs(DirName(target)) || !fs->Rename(temp, target)) {
    fs->Delete(temp);
    return false;
  }
  return fs->SyncDir(DirName(target));
}

bool SendThroughRelay(const SmtpRelay& relay, const std::string& from,
                      const std::vector<std::string>& recipients, const std::string& message,
                      std::string* error) {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
  CURL* curl = curl_easy_init();
  if (curl == nullptr) {
    *error = "the SMTP client cannot be made";
    return false;
  }
  curl_slist* rcpt = nullptr;
  for (const std::string& r : recipients) rcpt = curl_slist_append(rcpt, ("<" + r + ">").c_str());
  const std::string url = "smtp://" + relay.host + ":" + std::to_string(relay.port);
  const std::string mail_from = "<" + from + ">";
  Upload up{&message};
  char reason[CURL_ERROR_SIZE] = {};
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_MAIL_FROM, mail_from.c_str());
  curl_easy_setopt(curl, CURLOPT_MAIL_RCPT, rcpt);
  curl_easy_setopt(curl, CURLOPT_READFUNCTION, ReadMessage);
  curl_easy_setopt(curl, CURLOPT_READDATA, &up);
  curl_easy_setopt(curl, CURLOPT_UPLOAD, 1L);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, 10L);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT, 120L);
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, reason);
  if (relay.starttls) curl_easy_setopt(curl, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_ALL));
  if (!relay.user.empty()) {
    curl_easy_setopt(curl, CURLOPT_USERNAME, relay.user.c_str());
    curl_easy_setopt(curl, CURLOPT_PASSWORD, relay.password.c_str());
  }
  const CURLcode code = curl_easy_perform(curl);
  curl_slist_free_all(rcpt);
  curl_easy_cleanup(curl);
  if (code == CURLE_OK) return true;
  *error = reason[0] != '\0' ? reason : curl_easy_strerror(code);
  return false;
}

}  // namespace gateway
}  // namespace quill
