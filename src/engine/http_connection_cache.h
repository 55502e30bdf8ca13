// Idle HTTP connections kept between exchanges, so that successive
// requests to the gateway reuse one TCP connection (the keep-connection
// behaviour the exchange asks of the platform's internet API).
//
// Thread safety: every member may be called from any thread; a connection
// is used by one exchange at a time (taken out while in use).
#ifndef QUILL_ENGINE_HTTP_CONNECTION_CACHE_H_
#define QUILL_ENGINE_HTTP_CONNECTION_CACHE_H_

#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/http_client.h"

namespace quill {
namespace engine {

class HttpConnectionCache {
 public:
  // At most max_idle connections are kept; further ones are closed.
  explicit HttpConnectionCache(size_t max_idle = 3) : max_idle_(max_idle) {}
  HttpConnectionCache(const HttpConnectionCache&) = delete;
  HttpConnectionCache& operator=(const HttpConnectionCache&) = delete;

  // An idle connection to host:port opened with the same options, or a new
  // one from session (null when session cannot make it).
  std::unique_ptr<HttpConnection> Take(HttpSession& session, const std::string& host,
                                       int port);
  // Keeps a connection whose last request ended cleanly.
  void Give(const HttpSession& session, const std::string& host, int port,
            std::unique_ptr<HttpConnection> connection);
  // Closes every idle connection.
  void Clear();

 private:
  static std::string Key(const HttpSession& session, const std::string& host, int port);

  const size_t max_idle_;  // bound of idle_
  std::mutex mu_;          // guards idle_
  std::vector<std::pair<std::string, std::unique_ptr<HttpConnection>>> idle_;  // oldest first
};

}  // namespace engine
}  // namespace quill

#endif  // QUILL_ENGINE_HTTP_CONNECTION_CACHE_H_
