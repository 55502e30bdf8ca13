#include "engine/connection_manager.h"

#include <algorithm>
#include <chrono>

#include "engine/trace.h"

namespace quill {
namespace engine {

bool IsWaitingStatus(uint32_t status) {
  return status == 0x40 || status == 0x41 || status == 0x42 || status == 0x80 || status == 0x81;
}

bool LinuxConnectionBackend::EnumDestination(int index, Destination* out) {
  if (index != 0) return false;
  *out = Destination{kDestNetInternet, u"Internet"};
  return true;
}

bool LinuxConnectionBackend::Establish(const Destination&, ConnectionHandle* handle) {
  *handle = 1;
  return true;
}

bool LinuxConnectionBackend::Status(ConnectionHandle, uint32_t* status) {
  *status = kConnStatusConnected;
  return true;
}

WaitResult LinuxConnectionBackend::WaitForChange(ConnectionHandle, uint32_t) {
  return WaitResult::kSignalled;
}

void LinuxConnectionBackend::Release(ConnectionHandle) {}

NetworkType ClassifyDestination(const Destination& dest) {
  if (dest.guid == kDestNetWap || dest.guid == kDestNetSecureWap) return kNetWap;
  if (dest.guid == kDestNetInternet) return kNetInternet;
  if (dest.guid == kDestNetCorp) return kNetDirect;
  if (dest.description.find(u"Internet") != std::u16string::npos ||
      dest.description.find(u"Cmnet") != std::u16string::npos) {
    return kNetInternet;
  }
  return kNetWap;
}

ConnectionManager::ConnectionManager(ConnectionBackend* backend, HttpProber* prober,
                                     Options options)
    : backend_(backend), prober_(prober), options_(std::move(options)) {}

ConnectionManager::~ConnectionManager() { HangUp(); }

bool ConnectionManager::ConnectedLocked() {
  if (handle_ == 0) return false;
  uint32_t status = 0;
  if (!backend_->Status(handle_, &status)) {
    WriteDialLog(kDialupLog, "DetectConnected False: ConnMgrConnectionStatus errcode =", 0, 0);
    return false;
  }
  bool connected = status == kConnStatusConnected;
  WriteDialLog(kDialupLog,
               connected ? "DetectConnected True: ConnMgrConnectionStatus ok"
                         : "DetectConnected False: ConnMgrConnectionStatus ok",
               status, 0);
  return connected;
}

void ConnectionManager::DropStaleLocked() {
  if (hangup_pending_.exchange(false) && connected_index_ != remembered_.load()) HangUpLocked();
}

bool ConnectionManager::DetectConnected() {
  std::lock_guard<std::mutex> lock(conn_mu_);
  DropStaleLocked();
  return ConnectedLocked();
}

void ConnectionManager::HangUpLocked() {
  if (handle_ != 0) {
    backend_->Release(handle_);
    WriteDialLog(kDialupLog, "In HangUp: ConnMgrReleaseConnection S_OK", 0, 0);
    handle_ = 0;
  } else {
    WriteDialLog(kDialupLog, "In HangUp: g_hConnection=NULL", 0, 0);
  }
  connected_index_ = -1;
  type_ = kNetNone;
}

void ConnectionManager::HangUp() {
  std::lock_guard<std::mutex> lock(conn_mu_);
  HangUpLocked();
}

NetworkType ConnectionManager::DialUpLocked(int index) {
  if (handle_ != 0 && connected_index_ == index && ConnectedLocked()) return type_;
  HangUpLocked();
  Destination dest;
  if (!backend_->EnumDestination(index, &dest)) dest = Destination{kDestNetWap, u""};
  WriteDialLog(kDialupLog, "In DialUp: NetworkType = ", static_cast<uint32_t>(index), 0);
  if (ClassifyDestination(dest) == kNetDirect) {
    type_ = kNetDirect;
    connected_index_ = index;
    return type_;
  }
  ConnectionHandle handle = 0;
  if (!backend_->Establish(dest, &handle) || handle == 0) {
    WriteDialLog(kDialupLog, "In DialUp: ConnMgrEstablishConnection fail", 0, 0);
    type_ = kNetNone;
    return type_;
  }
  handle_ = handle;
  connected_index_ = index;
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(options_.dial_deadline_ms);
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0 ||
        backend_->WaitForChange(handle_, static_cast<uint32_t>(std::min<int64_t>(left, kWaitMs))) !=
            WaitResult::kSignalled) {
      WriteDialLog(kDialupLog, "In DialUp fail: WaitForMultipleObjects timeout(errcode,183time)\r\n", 0, 0);
      HangUpLocked();  // a dial-up that gave up releases what it asked for
      return kNetNone;
    }
    uint32_t status = 0;
    if (!backend_->Status(handle_, &status)) {
      WriteDialLog(kDialupLog, "DialUp Fail: ConnMgrConnectionStatus FAILED(hr)", 0, 0);
      HangUpLocked();
      return kNetNone;
    }
    if (status == kConnStatusConnected) {
      WriteDialLog(kDialupLog, "DialUp Ok: dwStatus == CONNMGR_STATUS_CONNECTED", 0, 0);
      type_ = ClassifyDestination(dest);
      break;
    }
    if (IsWaitingStatus(status)) {
      WriteDialLog(kDialupLog, "In DialUp: ConnMgrConnectionStatus status == waiting, (dwStatus)", status, 0);
      continue;
    }
    WriteDialLog(kDialupLog,
                 "In DialUp: ConnMgrConnectionStatus status != CONNMGR_STATUS_CONNECTED err, (dwResult,dwStatus)",
                 0, status);
    HangUpLocked();
    type_ = kNetUnknown;
    return type_;
  }
  DropStaleLocked();  // the destination changed while we dialled
  return type_;
}

NetworkType ConnectionManager::DialUp(int index) {
  std::lock_guard<std::mutex> lock(conn_mu_);
  return DialUpLocked(index);
}

NetworkType ConnectionManager::DialUpEx(int index, const std::string& host, const std::string& path) {
  std::lock_guard<std::mutex> lock(conn_mu_);
  return DialUpExLocked(index, host, path);
}

NetworkType ConnectionManager::DialUpExLocked(int index, const std::string& host,
                                              const std::string& path) {
  NetworkType t = DialUpLocked(index);
  if (t != kNetUnknown) return t;
  // An unusable status: a GET through the proxy tells a WAP bearer; any
  // other bearer (also without a prober) is a direct network, whose
  // exchange then finds out for itself whether the gateway answers.
  if (ProbeHttp(true, host, path)) {
    WriteDialLog(kDialupLog, "In DialUpEx: enUnKnown to enCMWap", 0, 0);
    type_ = kNetWap;
  } else {
    WriteDialLog(kDialupLog, "In DialUpEx: enUnKnown to enByEthnet", 0, 0);
    type_ = kNetDirect;
  }
  return type_;
}

NetworkType ConnectionManager::DialUpAny(const std::string& host, const std::string& path) {
  // Held throughout: a second worker waits here and then finds the first
  // one's connection instead of hanging it up.
  std::lock_guard<std::mutex> lock(conn_mu_);
  DropStaleLocked();
  if (ConnectedLocked()) return type_;
  auto try_one = [&](int index) { return DialUpExLocked(index, host, path); };
  const int remembered = remembered_.load();
  if (remembered >= 0) {
    NetworkType t = try_one(remembered);
    if (t != kNetNone) return t;
  }
  Destination dest;
  for (int i = 0; backend_->EnumDestination(i, &dest); ++i) {
    if (i == remembered) continue;
    NetworkType t = try_one(i);
    if (t != kNetNone) return t;
  }
  return kNetNone;
}

void ConnectionManager::SetDestination(int index) {
  std::lock_guard<std::mutex> lock(dest_mu_);
  if (index == destination_) return;
  destination_ = index;
  remembered_.store(index);
  if (conn_mu_.try_lock()) {
    HangUpLocked();
    conn_mu_.unlock();
  } else {
    hangup_pending_.store(true);  // the dial-up holding the lock sees it
  }
}

int ConnectionManager::destination() {
  std::lock_guard<std::mutex> lock(dest_mu_);
  return destination_;
}

InternetAccess ConnectionManager::OpenInternet(NetworkType type) const {
  if (type == kNetDirect || type == kNetInternet || type == 4) return InternetAccess{true, ""};
  return InternetAccess{false, options_.proxy_host};
}

bool ConnectionManager::ProbeHttp(bool via_proxy, const std::string& host, const std::string& path) {
  if (!prober_) return false;
  return prober_->Probe(OpenInternet(via_proxy ? kNetWap : kNetInternet), host, path);
}

NetworkType ConnectionManager::current_type() {
  std::lock_guard<std::mutex> lock(conn_mu_);
  return type_;
}

}  // namespace engine
}  // namespace quill
