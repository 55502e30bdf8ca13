// The connection manager: makes sure a data connection exists before an
// exchange, classifies it into a NetworkType and gives the proxy rule for
// opening HTTP on it.
//
// Locks: the destination lock guards the remembered destination, the
// connection lock the handle, its destination index and the current type;
// when both are needed they are taken in that order. DialUp holds the
// connection lock for its whole run (each wait at most kWaitMs, the whole
// dial-up at most Options::dial_deadline_ms). SetDestination never waits
// for the connection lock: if a dial-up holds it, the hang-up is left to
// that dial-up, which drops a connection to a destination that is no longer
// the remembered one.
//
// Thread safety: every member may be called from any thread.
#ifndef QUILL_ENGINE_CONNECTION_MANAGER_H_
#define QUILL_ENGINE_CONNECTION_MANAGER_H_

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "engine/connection_backend.h"

namespace quill {
namespace engine {

enum NetworkType : int {
  kNetNone = 0,      // no connection
  kNetDirect = 1,    // LAN or corporate network ("enByEthnet")
  kNetWap = 2,       // operator WAP bearer ("enCMWap"): through the proxy
  kNetInternet = 3,  // Internet bearer: direct
  kNetUnknown = 5,   // neither connected nor waiting ("enUnKnown")
};

// How HTTP is to be opened for a network type.
struct InternetAccess {
  bool direct;        // no proxy
  std::string proxy;  // proxy host when !direct (default port)
};

// One HTTP GET used to tell a WAP bearer from a direct network.
class HttpProber {
 public:
  virtual ~HttpProber() = default;
  // True when the GET of path (empty: the root) on host port 80 through
  // access read at least one byte.
  virtual bool Probe(const InternetAccess& access, const std::string& host,
                     const std::string& path) = 0;
};

// The destination class from its GUID and description.
NetworkType ClassifyDestination(const Destination& dest);

class ConnectionManager {
 public:
  static constexpr uint32_t kWaitMs = 30000;  // one wait for a status change

  struct Options {
    std::string proxy_host = "10.0.0.172";  // the operator's WAP proxy
    uint32_t dial_deadline_ms = 120000;     // bound of one whole dial-up
  };

  // backend and prober must outlive the manager.
  ConnectionManager(ConnectionBackend* backend, HttpProber* prober, Options options);
  ConnectionManager(ConnectionBackend* backend, HttpProber* prober)
      : ConnectionManager(backend, prober, Options()) {}
  ~ConnectionManager();

  // True when a connection exists and reports connected.
  bool DetectConnected();
  // Dials the destination with that index (hanging up any other connection
  // first; an established connection to the same index is kept).
  NetworkType DialUp(int index);
  // DialUp, then an unknown status is resolved by probing: through the
  // proxy works -> WAP; otherwise (also with no prober) -> direct.
  NetworkType DialUpEx(int index, const std::string& host, const std::string& path);
  // Keeps a working connection; else the remembered destination, then every
  // other one in order. 0 when nothing worked.
  NetworkType DialUpAny(const std::string& host, const std::string& path);
  void HangUp();
  // Remembers index; a change hangs up the current connection.
  void SetDestination(int index);
  int destination();

  InternetAccess OpenInternet(NetworkType type) const;
  bool ProbeHttp(bool via_proxy, const std::string& host, const std::string& path);
  NetworkType current_type();

 private:
  void HangUpLocked();
  bool ConnectedLocked();
  NetworkType DialUpLocked(int index);
  NetworkType DialUpExLocked(int index, const std::string& host, const std::string& path);
  void DropStaleLocked();

  ConnectionBackend* const backend_;
  HttpProber* const prober_;
  const Options options_;

  std::mutex dest_mu_;      // the destination lock
  int destination_ = -1;    // guarded by dest_mu_; mirrored below
  std::atomic<int> remembered_{-1};       // readable under the connection lock
  std::atomic<bool> hangup_pending_{false};  // SetDestination could not hang up

  std::mutex conn_mu_;                 // the connection lock
  ConnectionHandle handle_ = 0;        // guarded by conn_mu_
  int connected_index_ = -1;           // guarded by conn_mu_
  NetworkType type_ = kNetNone;        // guarded by conn_mu_
};

}  // namespace engine
}  // namespace quill

#endif  // QUILL_ENGINE_CONNECTION_MANAGER_H_
