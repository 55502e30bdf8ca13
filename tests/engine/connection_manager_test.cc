#include "engine/connection_manager.h"

#include <gtest/gtest.h>

#include <atomic>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace quill {
namespace engine {
namespace {

// A scriptable connection service: destinations, the statuses each
// establish goes through, wait results, failures and a wait delay.
class FakeBackend : public ConnectionBackend {
 public:
  bool EnumDestination(int index, Destination* out) override {
    std::lock_guard<std::mutex> l(mu);
    if (index < 0 || index >= static_cast<int>(dests.size())) return false;
    *out = dests[static_cast<size_t>(index)];
    return true;
  }
  bool Establish(const Destination& dest, ConnectionHandle* handle) override {
    std::lock_guard<std::mutex> l(mu);
    established.push_back(dest.guid);
    if (fail_establish) return false;
    *handle = ++last_handle;
    script = statuses;
    open_handles++;
    return true;
  }
  bool Status(ConnectionHandle, uint32_t* status) override {
    std::lock_guard<std::mutex> l(mu);
    if (fail_status) return false;
    *status = script.empty() ? current : script.front();
    if (!script.empty()) {
      current = script.front();
      script.pop_front();
    }
    return true;
  }
  WaitResult WaitForChange(ConnectionHandle, uint32_t timeout_ms) override {
    if (wait_delay_ms) std::this_thread::sleep_for(std::chrono::milliseconds(wait_delay_ms));
    std::lock_guard<std::mutex> l(mu);
    waits.push_back(timeout_ms);
    return wait_result;
  }
  void Release(ConnectionHandle) override {
    std::lock_guard<std::mutex> l(mu);
    releases++;
    open_handles--;
  }

  std::mutex mu;
  std::vector<Destination> dests;
  std::deque<uint32_t> statuses{kConnStatusConnected};  // per establish
  std::deque<uint32_t> script;
  uint32_t current = kConnStatusConnected;
  bool fail_establish = false, fail_status = false;
  WaitResult wait_result = WaitResult::kSignalled;
  int wait_delay_ms = 0;
  ConnectionHandle last_handle = 0;
  std::vector<std::string> established;
  std::vector<uint32_t> waits;
  int releases = 0, open_handles = 0;
};

class FakeProber : public HttpProber {
 public:
  bool Probe(const InternetAccess& access, const std::string&, const std::string&) override {
    probes.push_back(access.direct ? "direct" : access.proxy);
    return access.direct ? direct_works : proxy_works;
  }
  bool proxy_works = false, direct_works = false;
  std::vector<std::string> probes;
};

const Destination kWap{kDestNetWap, u"CMWAP"};
const Destination kInternet{kDestNetInternet, u"GPRS"};
const Destination kCorp{kDestNetCorp, u"Work"};
const Destination kCmnet{"{00000000-0000-0000-0000-000000000001}", u"My Cmnet"};
const Destination kOther{"{00000000-0000-0000-0000-000000000002}", u"Operator"};

TEST(ClassifyTest, Table) {
  EXPECT_EQ(ClassifyDestination(kWap), kNetWap);
  EXPECT_EQ(ClassifyDestination({kDestNetSecureWap, u"Internet"}), kNetWap);  // GUID first
  EXPECT_EQ(ClassifyDestination(kInternet), kNetInternet);
  EXPECT_EQ(ClassifyDestination(kCorp), kNetDirect);
  EXPECT_EQ(ClassifyDestination(kCmnet), kNetInternet);
  EXPECT_EQ(ClassifyDestination({"{x}", u"The Internet"}), kNetInternet);
  EXPECT_EQ(ClassifyDestination({"{x}", u"cmnet"}), kNetWap);  // case-sensitive
  EXPECT_EQ(ClassifyDestination(kOther), kNetWap);
}

TEST(ConnectionManagerTest, ProxyRule) {
  LinuxConnectionBackend backend;
  ConnectionManager cm(&backend, nullptr);
  for (int t : {1, 3, 4}) EXPECT_TRUE(cm.OpenInternet(static_cast<NetworkType>(t)).direct);
  for (int t : {0, 2, 5}) {
    InternetAccess a = cm.OpenInternet(static_cast<NetworkType>(t));
    EXPECT_FALSE(a.direct);
    EXPECT_EQ(a.proxy, "10.0.0.172");
  }
  ConnectionManager::Options o;
  o.proxy_host = "127.0.0.1";
  ConnectionManager other(&backend, nullptr, o);
  EXPECT_EQ(other.OpenInternet(kNetWap).proxy, "127.0.0.1");
}

TEST(ConnectionManagerTest, LinuxDefaultConnectsAtOnce) {
  LinuxConnectionBackend backend;
  ConnectionManager cm(&backend, nullptr);
  EXPECT_FALSE(cm.DetectConnected());
  EXPECT_EQ(cm.DialUpAny("gw", ""), kNetInternet);
  EXPECT_TRUE(cm.DetectConnected());
  cm.HangUp();
  EXPECT_FALSE(cm.DetectConnected());
  EXPECT_EQ(cm.current_type(), kNetNone);
}

TEST(ConnectionManagerTest, CorporateEstablishesNothing) {
  FakeBackend b;
  b.dests = {kCorp};
  ConnectionManager cm(&b, nullptr);
  EXPECT_EQ(cm.DialUp(0), kNetDirect);
  EXPECT_TRUE(b.established.empty());
}

TEST(ConnectionManagerTest, WaitingStatusesKeepWaiting) {
  FakeBackend b;
  b.dests = {kWap};
  b.statuses = {0x40, 0x81, kConnStatusConnected};
  ConnectionManager cm(&b, nullptr);
  EXPECT_EQ(cm.DialUp(0), kNetWap);
  EXPECT_EQ(b.waits, (std::vector<uint32_t>{30000, 30000, 30000}));
  EXPECT_TRUE(cm.DetectConnected());
}

TEST(ConnectionManagerTest, OverallDeadlineBoundsEndlessWaiting) {
  FakeBackend b;
  b.dests = {kWap};
  b.statuses = {};
  b.current = 0x40;  // waiting for ever
  b.wait_delay_ms = 5;
  ConnectionManager::Options o;
  o.dial_deadline_ms = 50;
  ConnectionManager cm(&b, nullptr, o);
  EXPECT_EQ(cm.DialUp(0), kNetNone);
  EXPECT_EQ(b.open_handles, 0);  // released
  for (uint32_t w : b.waits) EXPECT_LE(w, 50u);
}

TEST(ConnectionManagerTest, FailuresGiveNone) {
  FakeBackend b;
  b.dests = {kInternet};
  b.fail_establish = true;
  ConnectionManager cm(&b, nullptr);
  EXPECT_EQ(cm.DialUp(0), kNetNone);
  b.fail_establish = false;
  b.wait_result = WaitResult::kTimeout;
  EXPECT_EQ(cm.DialUp(0), kNetNone);
  b.wait_result = WaitResult::kSignalled;
  b.fail_status = true;
  EXPECT_EQ(cm.DialUp(0), kNetNone);
  EXPECT_EQ(b.open_handles, 0);
  // An unknown index dials the WAP destination.
  b.fail_status = false;
  EXPECT_EQ(cm.DialUp(7), kNetWap);
  EXPECT_EQ(b.established.back(), kDestNetWap);
}

TEST(ConnectionManagerTest, UnknownStatusIsResolvedByProbing) {
  FakeBackend b;
  b.dests = {kInternet};
  b.statuses = {kConnStatusConnectionFailed};
  FakeProber p;
  ConnectionManager cm(&b, &p);
  EXPECT_EQ(cm.DialUp(0), kNetUnknown);
  p.proxy_works = true;
  EXPECT_EQ(cm.DialUpEx(0, "gw", ""), kNetWap);
  p.proxy_works = false;
  EXPECT_EQ(cm.DialUpEx(0, "gw", ""), kNetDirect);  // any bearer but WAP is direct
  EXPECT_EQ(p.probes, (std::vector<std::string>{"10.0.0.172", "10.0.0.172"}));
  EXPECT_EQ(cm.current_type(), kNetDirect);
  // Without a prober the unknown bearer is direct too, not "no connection".
  ConnectionManager unprobed(&b, nullptr);
  EXPECT_EQ(unprobed.DialUpEx(0, "gw", ""), kNetDirect);
  EXPECT_EQ(unprobed.OpenInternet(unprobed.current_type()).direct, true);
}

TEST(ConnectionManagerTest, DialUpAnyOrder) {
  FakeBackend b;
  b.dests = {kOther, kWap, kInternet};
  b.fail_establish = true;
  ConnectionManager cm(&b, nullptr);
  EXPECT_EQ(cm.DialUpAny("gw", ""), kNetNone);
  EXPECT_EQ(b.established.size(), 3u);  // every destination in order
  b.established.clear();
  cm.SetDestination(2);
  EXPECT_EQ(cm.DialUpAny("gw", ""), kNetNone);
  EXPECT_EQ(b.established, (std::vector<std::string>{kDestNetInternet, kOther.guid, kDestNetWap}));
  b.fail_establish = false;
  EXPECT_EQ(cm.DialUpAny("gw", ""), kNetInternet);
}

TEST(ConnectionManagerTest, SetDestinationHangsUpOnlyOnChange) {
  FakeBackend b;
  b.dests = {kWap, kInternet};
  ConnectionManager cm(&b, nullptr);
  cm.SetDestination(0);
  ASSERT_EQ(cm.DialUpAny("gw", ""), kNetWap);
  cm.SetDestination(0);
  EXPECT_TRUE(cm.DetectConnected());
  EXPECT_EQ(b.releases, 0);
  cm.SetDestination(1);
  EXPECT_FALSE(cm.DetectConnected());
  EXPECT_EQ(b.releases, 1);
  EXPECT_EQ(cm.destination(), 1);
}

TEST(ConnectionManagerTest, ConcurrentDialUpsShareOneConnection) {
  FakeBackend b;
  b.dests = {kOther, kInternet};
  b.statuses = {0x40, kConnStatusConnected};
  b.wait_delay_ms = 20;
  ConnectionManager cm(&b, nullptr);
  std::vector<std::thread> workers;
  std::atomic<int> ok{0};
  for (int i = 0; i < 3; ++i) {
    workers.emplace_back([&] {
      if (!cm.DetectConnected() && cm.DialUpAny("gw", "") == kNetNone) return;
      ++ok;
    });
  }
  for (auto& t : workers) t.join();
  EXPECT_EQ(ok, 3);
  EXPECT_EQ(b.established.size(), 1u);  // nobody hung up another's connection
  EXPECT_EQ(b.releases, 0);
}

TEST(ConnectionManagerTest, SetDestinationDoesNotWaitForADialUp) {
  FakeBackend b;
  b.dests = {kWap, kInternet};
  b.statuses = {0x40, 0x40, 0x40, 0x40, kConnStatusConnected};
  b.wait_delay_ms = 50;
  ConnectionManager cm(&b, nullptr);
  cm.SetDestination(0);
  std::thread dialer([&] { cm.DialUpAny("gw", ""); });
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  auto start = std::chrono::steady_clock::now();
  cm.SetDestination(1);  // the UI thread
  auto took = std::chrono::steady_clock::now() - start;
  EXPECT_LT(took, std::chrono::milliseconds(40));
  dialer.join();
  // The connection to the old destination was dropped when its dial-up
  // finished; the search went on and ended on the new one.
  EXPECT_EQ(b.releases, 1);
  EXPECT_EQ(b.established, (std::vector<std::string>{kDestNetWap, kDestNetInternet}));
  EXPECT_TRUE(cm.DetectConnected());
  EXPECT_EQ(cm.current_type(), kNetInternet);
}

}  // namespace
}  // namespace engine
}  // namespace quill
