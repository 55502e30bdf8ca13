#include "platform/http_client.h"

#include <curl/curl.h>

#include <mutex>

#include "platform/last_error.h"

namespace quill {
namespace {

void GlobalInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

uint32_t MapCurlError(CURLcode code) {
  switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY: return kHttpErrorNameNotResolved;
    case CURLE_COULDNT_CONNECT: return kHttpErrorCannotConnect;
    case CURLE_OPERATION_TIMEDOUT: return kHttpErrorTimeout;
    case CURLE_SEND_ERROR:
    case CURLE_PARTIAL_FILE: return kHttpErrorConnectionAborted;
    case CURLE_RECV_ERROR: return kHttpErrorConnectionReset;
    case CURLE_GOT_NOTHING:
    case CURLE_WEIRD_SERVER_REPLY: return kHttpErrorInvalidResponse;
    case CURLE_ABORTED_BY_CALLBACK: return kHttpErrorCancelled;
    default: return kHttpErrorInternal;
  }
}

// What one transfer collects through libcurl's callbacks.
struct Transfer {
  Bytes* body;         // response bytes kept
  size_t limit;        // at most this many
  const std::function<bool()>* keep_going;  // null: never stopped early
  bool began = false;  // a response header arrived
  bool cut = false;    // the body went past the limit and was aborted
};

// libcurl's progress callback: a non-zero return aborts the transfer.
int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  const Transfer* t = static_cast<const Transfer*>(user);
  return *t->keep_going && !(*t->keep_going)() ? 1 : 0;
}

size_t OnHeader(char*, size_t size, size_t n, void* user) {
  static_cast<Transfer*>(user)->began = true;
  return size * n;
}

size_t OnBody(char* data, size_t size, size_t n, void* user) {
  Transfer* t = static_cast<Transfer*>(user);
  t->began = true;
  const size_t bytes = size * n;
  const size_t room = t->limit - t->body->size();
  if (bytes > room) {
    t->body->insert(t->body->end(), data, data + room);
    t->cut = true;
    return 0;  // aborts the transfer; libcurl closes the connection
  }
  t->body->insert(t->body->end(), data, data + bytes);
  return bytes;
}

}  // namespace

struct HttpConnection::Impl {
  CURL* curl = nullptr;    // reused by every request: keeps the TCP connection
  std::string base_url;    // "http://host:port"
  HttpOptions options;     // timeouts, proxy, body limit
  curl_slist* headers = nullptr;  // header lines suppressed from every request

  ~Impl() {
    if (curl != nullptr) curl_easy_cleanup(curl);
    curl_slist_free_all(headers);
  }
};

HttpConnection::HttpConnection(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
HttpConnection::~HttpConnection() = default;

HttpSession::HttpSession(HttpOptions options) : options_(std::move(options)) { GlobalInit(); }

std::unique_ptr<HttpConnection> HttpSession::Connect(const std::string& host, int port) {
  if (host.empty() || port <= 0 || port > 65535) {
    SetLastError(kHttpErrorNameNotResolved);
    return nullptr;
  }
  auto impl = std::make_unique<HttpConnection::Impl>();
  impl->base_url = "http://" + host + ":" + std::to_string(port);
  impl->options = options_;
  return std::unique_ptr<HttpConnection>(new HttpConnection(std::move(impl)));
}

std::unique_ptr<HttpRequest> HttpConnection::OpenRequest(const std::string& path) {
  if (impl_->curl == nullptr) {
    impl_->curl = curl_easy_init();
    // The request carries no headers of its own: no Expect, no Accept, no
    // content type, no user agent.
    for (const char* h : {"Expect:", "Accept:", "Content-Type:"}) {
      impl_->headers = curl_slist_append(impl_->headers, h);
    }
    if (impl_->curl == nullptr || impl_->headers == nullptr) {
      SetLastError(kHttpErrorInternal);
      return nullptr;
    }
  }
  if (path.empty() || path[0] != '/') {
    SetLastError(kHttpErrorInternal);
    return nullptr;
  }
  return std::unique_ptr<HttpRequest>(new HttpRequest(impl_.get(), path));
}

HttpRequest::HttpRequest(HttpConnection::Impl* connection, std::string path)
    : connection_(connection), path_(std::move(path)) {}

HttpRequest::~HttpRequest() = default;

bool HttpRequest::Send(ByteView body, const std::function<bool()>& keep_going) {
  if (sent_) {
    SetLastError(kHttpErrorInternal);
    return false;
  }
  sent_ = true;
  CURL* curl = connection_->curl;
  const HttpOptions& o = connection_->options;
  curl_easy_reset(curl);  // keeps the connection cache
  Transfer t{&body_, o.body_limit, &keep_going};
  const std::string url = connection_->base_url + path_;
  const long stall_s = o.receive_timeout_ms > o.send_timeout_ms ? o.receive_timeout_ms : o.send_timeout_ms;
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1);
  curl_easy_setopt(curl, CURLOPT_POST, 1L);
  curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.size ? reinterpret_cast<const char*>(body.data) : "");
  curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size));
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, connection_->headers);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  // An empty proxy also stops libcurl from taking one from the environment.
  curl_easy_setopt(curl, CURLOPT_PROXY, o.proxy.c_str());
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, o.connect_timeout_ms);
  // No progress for the stall time fails the transfer; the whole exchange is
  // also bounded, so a server that drips bytes cannot hold a worker forever.
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, stall_s / 1000 > 0 ? stall_s / 1000 : 1L);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS,
                   o.connect_timeout_ms + o.send_timeout_ms + o.receive_timeout_ms);
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, OnHeader);
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, &t);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, OnBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &t);
  if (keep_going) {
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, OnProgress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &t);
  }

  const CURLcode code = curl_easy_perform(curl);
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status_);
  curl_off_t uploaded = 0;
  curl_easy_getinfo(curl, CURLINFO_SIZE_UPLOAD_T, &uploaded);
  body_delivered_ = uploaded >= 0 && static_cast<size_t>(uploaded) >= body.size;
  if (code == CURLE_OK || (code == CURLE_WRITE_ERROR && t.cut)) return true;
  if (!t.began) {
    SetLastError(MapCurlError(code));
    return false;
  }
  broken_ = true;
  broken_error_ = MapCurlError(code);
  return true;
}

bool HttpRequest::Read(uint8_t* buffer, size_t capacity, size_t* got) {
  *got = 0;
  if (!sent_) {
    SetLastError(kHttpErrorInternal);
    return false;
  }
  if (broken_) {
    SetLastError(broken_error_);
    return false;
  }
  const size_t n = std::min(capacity, body_.size() - read_);
  if (n > 0) std::copy(body_.begin() + static_cast<long>(read_), body_.begin() + static_cast<long>(read_ + n), buffer);
  read_ += n;
  *got = n;
  return true;
}

}  // namespace quill
