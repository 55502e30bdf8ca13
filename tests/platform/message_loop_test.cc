#include "platform/message_loop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include "platform/last_error.h"

namespace quill {
namespace {

constexpr uint32_t kMsg = kWmUser + 1;

// A host that only counts wakes. A worker's send wakes it once the message
// is queued, so a test waits on that, not on a sleep.
class CountingHost : public MessageLoopHost {
 public:
  void Wake() override { ++wakes; }
  std::atomic<int> wakes{0};
};

// Spins (yielding) until done(), at most ten seconds; no message is handled.
bool SpinUntil(const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::yield();
  }
  return true;
}

TEST(MessageLoopTest, SendBlocksUntilHandledAndReturnsResult) {
  MessageLoop loop;
  std::atomic<bool> handled{false};
  EndpointId ep = loop.CreateEndpoint([&](uint32_t msg, uintptr_t w, intptr_t l) -> intptr_t {
    EXPECT_TRUE(loop.IsUiThread());
    handled = true;
    return static_cast<intptr_t>(msg + w + l);
  });
  std::atomic<bool> returned{false};
  intptr_t result = 0;
  bool ok = false;
  std::thread worker([&] {
    ok = loop.Send(ep, kMsg, 2, 3, &result);
    EXPECT_TRUE(handled);  // never returns before the UI thread ran it
    returned = true;
  });
  EXPECT_TRUE(loop.PumpUntil([&] { return returned.load(); }, 5000));
  worker.join();
  EXPECT_TRUE(ok);
  EXPECT_EQ(result, static_cast<intptr_t>(kMsg + 5));
}

TEST(MessageLoopTest, SendOnUiThreadCallsHandlerDirectly) {
  MessageLoop loop;
  EndpointId ep = loop.CreateEndpoint([](uint32_t, uintptr_t w, intptr_t) -> intptr_t {
    return static_cast<intptr_t>(w * 2);
  });
  intptr_t r = 0;
  EXPECT_TRUE(loop.Send(ep, kMsg, 21, 0, &r));
  EXPECT_EQ(r, 42);
}

TEST(MessageLoopTest, ClosedOrUnknownEndpointFailsAtOnce) {
  MessageLoop loop;
  EndpointId ep = loop.CreateEndpoint([](uint32_t, uintptr_t, intptr_t) -> intptr_t { return 0; });
  EXPECT_TRUE(loop.IsEndpoint(ep));
  loop.DestroyEndpoint(ep);
  EXPECT_FALSE(loop.IsEndpoint(ep));
  bool ok = true;
  std::thread worker([&] { ok = loop.Send(ep, kMsg, 0, 0); EXPECT_EQ(GetLastError(), kErrorInvalidHandle); });
  worker.join();  // returns without any pump
  EXPECT_FALSE(ok);
  EXPECT_FALSE(loop.Post(ep, kMsg, 0, 0));
  EXPECT_FALSE(loop.Send(12345, kMsg, 0, 0));
  // Ids are not reused: a stale id stays dead.
  EndpointId next = loop.CreateEndpoint([](uint32_t, uintptr_t, intptr_t) -> intptr_t { return 0; });
  EXPECT_NE(next, ep);
  EXPECT_FALSE(loop.IsEndpoint(ep));
}

TEST(MessageLoopTest, DestroyWakesWaitingSenderWithFailure) {
  MessageLoop loop;
  int calls = 0;
  EndpointId ep = loop.CreateEndpoint([&](uint32_t, uintptr_t, intptr_t) -> intptr_t {
    ++calls;
    return 0;
  });
  CountingHost host;
  loop.SetHost(&host);
  std::atomic<int> state{0};  // 1 failed, 2 succeeded
  std::thread worker([&] { state = loop.Send(ep, kMsg, 0, 0) ? 2 : 1; });
  // The send is queued (no pump runs); the endpoint closes under it.
  ASSERT_TRUE(SpinUntil([&] { return host.wakes > 0; }));
  EXPECT_EQ(state, 0);
  loop.DestroyEndpoint(ep);
  worker.join();
  EXPECT_EQ(state, 1);
  EXPECT_EQ(calls, 0);
  loop.SetHost(nullptr);
}

TEST(MessageLoopTest, QuitFailsWaitingAndLaterSends) {
  MessageLoop loop;
  EndpointId ep = loop.CreateEndpoint([](uint32_t, uintptr_t, intptr_t) -> intptr_t { return 0; });
  CountingHost host;
  loop.SetHost(&host);
  std::atomic<int> state{0};
  std::thread worker([&] { state = loop.Send(ep, kMsg, 0, 0) ? 2 : 1; });
  ASSERT_TRUE(SpinUntil([&] { return host.wakes > 0; }));  // the send is queued
  EXPECT_EQ(state, 0);
  loop.Quit(7);
  worker.join();
  loop.SetHost(nullptr);
  EXPECT_EQ(state, 1);
  EXPECT_EQ(loop.Run(), 7);
  EXPECT_FALSE(loop.Post(ep, kMsg, 0, 0));
  EXPECT_EQ(loop.CreateEndpoint([](uint32_t, uintptr_t, intptr_t) -> intptr_t { return 0; }), 0u);
}

TEST(MessageLoopTest, RefOutlivesLoop) {
  EndpointRef ref;
  {
    MessageLoop loop;
    ref = loop.Ref(loop.CreateEndpoint([](uint32_t, uintptr_t, intptr_t) -> intptr_t { return 0; }));
    EXPECT_TRUE(ref.IsAlive());
  }
  EXPECT_FALSE(ref.IsAlive());
  EXPECT_FALSE(ref.Send(kMsg, 0, 0));
  EXPECT_FALSE(EndpointRef().Send(kMsg, 0, 0));
}

// Sent messages overtake posted ones, also in a pump nested in a handler.
TEST(MessageLoopTest, SentBeforePostedAlsoWhenNested) {
  MessageLoop loop;
  CountingHost host;
  loop.SetHost(&host);
  std::vector<int> order;
  std::atomic<bool> sent_queued{false};
  std::thread worker;
  EndpointId ep = 0;
  ep = loop.CreateEndpoint([&](uint32_t msg, uintptr_t w, intptr_t) -> intptr_t {
    order.push_back(static_cast<int>(w));
    if (msg == kMsg && w == 1) {
      // Nested wait: queue posts 10, 11, then let a worker send 20.
      loop.Post(ep, kMsg + 1, 10, 0);
      loop.Post(ep, kMsg + 1, 11, 0);
      const int posted = host.wakes;
      worker = std::thread([&] { loop.Send(ep, kMsg + 2, 20, 0); });
      // The send is queued before the nested pump looks.
      EXPECT_TRUE(SpinUntil([&] { return host.wakes > posted; }));
      loop.PumpUntil([&] { return order.size() >= 4; }, 5000);
    }
    return 0;
  });
  loop.Post(ep, kMsg, 1, 0);
  EXPECT_TRUE(loop.PumpUntil([&] { return order.size() >= 4; }, 5000));
  worker.join();
  loop.SetHost(nullptr);
  EXPECT_EQ(order, (std::vector<int>{1, 20, 10, 11}));
}

TEST(MessageLoopTest, TimersRepeatUntilKilled) {
  MessageLoop loop;
  int ticks = 0;
  EndpointId ep = 0;
  ep = loop.CreateEndpoint([&](uint32_t msg, uintptr_t w, intptr_t) -> intptr_t {
    if (msg == kWmTimer && w == 2025) ++ticks;
    if (ticks == 3) loop.KillTimer(ep, 2025);
    return 0;
  });
  ASSERT_TRUE(loop.SetTimer(ep, 2025, 5));
  EXPECT_TRUE(loop.PumpUntil([&] { return ticks == 3; }, 5000));
  EXPECT_FALSE(loop.PumpUntil([&] { return ticks > 3; }, 60));
  EXPECT_FALSE(loop.KillTimer(ep, 2025));
  EXPECT_FALSE(loop.SetTimer(999, 1, 5));
}

TEST(MessageLoopTest, QuitFromHandlerEndsRun) {
  MessageLoop loop;
  EndpointId ep = loop.CreateEndpoint([&](uint32_t, uintptr_t w, intptr_t) -> intptr_t {
    loop.Quit(static_cast<int>(w));
    return 0;
  });
  std::thread worker([&] { loop.Post(ep, kMsg, 3, 0); });
  EXPECT_EQ(loop.Run(), 3);
  worker.join();
}

TEST(MessageLoopTest, PumpUntilTimesOut) {
  MessageLoop loop;
  EXPECT_FALSE(loop.PumpUntil([] { return false; }, 20));
}


TEST(MessageLoopHostTest, QueuedWorkAndTimersWakeTheHost) {
  MessageLoop loop;
  CountingHost host;
  loop.SetHost(&host);
  EndpointId ep = loop.CreateEndpoint([](uint32_t, uintptr_t, intptr_t) -> intptr_t { return 0; });
  const int before = host.wakes;
  ASSERT_TRUE(loop.Post(ep, kMsg, 0, 0));
  EXPECT_GT(host.wakes, before);
  const int after_post = host.wakes;
  EXPECT_EQ(loop.NextTimerDelayMs(), -1);
  ASSERT_TRUE(loop.SetTimer(ep, 7, 60000));
  EXPECT_GT(host.wakes, after_post);
  const int64_t delay = loop.NextTimerDelayMs();
  EXPECT_GT(delay, 0);
  EXPECT_LE(delay, 60000);
  EXPECT_FALSE(loop.DispatchReady(100));  // the post ran; the timer is not due
  loop.SetHost(nullptr);
}

// A handler that runs a nested loop of the host's must find the host woken
// for the rest, and DispatchReady from inside it must run that rest.
TEST(MessageLoopHostTest, HostIsWokenBeforeAHandlerWhileMoreIsQueued) {
  MessageLoop loop;
  CountingHost host;
  loop.SetHost(&host);
  std::vector<int> order;
  int wakes_seen_by_first = 0;
  EndpointId ep = 0;
  ep = loop.CreateEndpoint([&](uint32_t, uintptr_t w, intptr_t) -> intptr_t {
    order.push_back(static_cast<int>(w));
    if (w == 1) {
      wakes_seen_by_first = host.wakes;
      EXPECT_FALSE(loop.DispatchReady(1000));  // the nested turn runs message 2
    }
    return 0;
  });
  ASSERT_TRUE(loop.Post(ep, kMsg, 1, 0));
  ASSERT_TRUE(loop.Post(ep, kMsg, 2, 0));
  const int queued = host.wakes;
  EXPECT_FALSE(loop.DispatchReady(1000));
  EXPECT_GT(wakes_seen_by_first, queued);
  EXPECT_EQ(order, (std::vector<int>{1, 2}));
  loop.SetHost(nullptr);
}

TEST(MessageLoopHostTest, SpentBudgetLeavesTheRestAndWakes) {
  MessageLoop loop;
  CountingHost host;
  loop.SetHost(&host);
  int handled = 0;
  EndpointId ep = loop.CreateEndpoint([&](uint32_t, uintptr_t, intptr_t) -> intptr_t {
    ++handled;
    return 0;
  });
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(loop.Post(ep, kMsg, 0, 0));
  const int queued = host.wakes;
  EXPECT_TRUE(loop.DispatchReady(0));  // one message per turn with no budget
  EXPECT_EQ(handled, 1);
  EXPECT_GT(host.wakes, queued);
  EXPECT_TRUE(loop.DispatchReady(0));
  EXPECT_FALSE(loop.DispatchReady(0));
  EXPECT_EQ(handled, 3);
  loop.SetHost(nullptr);
}

TEST(MessageLoopHostTest, SendFromWorkerIsServedByHostTurns) {
  MessageLoop loop;
  CountingHost host;
  loop.SetHost(&host);
  EndpointId ep = loop.CreateEndpoint([](uint32_t, uintptr_t w, intptr_t) -> intptr_t {
    return static_cast<intptr_t>(w + 1);
  });
  intptr_t result = 0;
  std::atomic<bool> done{false};
  std::thread worker([&] {
    EXPECT_TRUE(loop.Send(ep, kMsg, 41, 0, &result));
    done = true;
  });
  // The host's turns: wait for a wake, then dispatch, as a toolkit would.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!done && std::chrono::steady_clock::now() < deadline) {
    if (host.wakes > 0) loop.DispatchReady(8);
    std::this_thread::yield();
  }
  worker.join();
  EXPECT_EQ(result, 42);
  loop.Quit(0);
  EXPECT_FALSE(loop.DispatchReady(8));  // nothing after quit
  loop.SetHost(nullptr);
}

}  // namespace
}  // namespace quill
