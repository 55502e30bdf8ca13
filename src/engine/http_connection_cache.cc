#include "engine/http_connection_cache.h"

namespace quill {
namespace engine {

std::string HttpConnectionCache::Key(const HttpSession& session, const std::string& host,
                                     int port) {
  const HttpOptions& o = session.options();
  return host + ":" + std::to_string(port) + "|" + o.proxy + "|" +
         std::to_string(o.connect_timeout_ms) + "," + std::to_string(o.send_timeout_ms) + "," +
         std::to_string(o.receive_timeout_ms) + "," + std::to_string(o.body_limit);
}

std::unique_ptr<HttpConnection> HttpConnectionCache::Take(HttpSession& session,
                                                          const std::string& host, int port) {
  const std::string key = Key(session, host, port);
  {
    std::lock_guard<std::mutex> lock(mu_);
    for (auto it = idle_.end(); it != idle_.begin();) {
      --it;
      if (it->first == key) {
        std::unique_ptr<HttpConnection> connection = std::move(it->second);
        idle_.erase(it);
        return connection;
      }
    }
  }
  return session.Connect(host, port);
}

void HttpConnectionCache::Give(const HttpSession& session, const std::string& host, int port,
                               std::unique_ptr<HttpConnection> connection) {
  if (!connection || max_idle_ == 0) return;
  std::unique_ptr<HttpConnection> dropped;  // closed outside the lock
  std::lock_guard<std::mutex> lock(mu_);
  if (idle_.size() >= max_idle_) {
    dropped = std::move(idle_.front().second);
    idle_.erase(idle_.begin());
  }
  idle_.emplace_back(Key(session, host, port), std::move(connection));
}

void HttpConnectionCache::Clear() {
  std::vector<std::pair<std::string, std::unique_ptr<HttpConnection>>> dropped;
  std::lock_guard<std::mutex> lock(mu_);
  dropped.swap(idle_);
}

}  // namespace engine
}  // namespace quill
