#include "platform/event.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/clock.h"

namespace quill {
namespace {

TEST(EventTest, AutoResetPassesOneWaiter) {
  Event e(Event::ResetMode::kAuto);
  EXPECT_FALSE(e.Wait(1));
  e.Set();
  EXPECT_TRUE(e.Wait(0));
  EXPECT_FALSE(e.Wait(1));  // consumed
}

TEST(EventTest, ManualResetStaysSet) {
  Event e(Event::ResetMode::kManual, true);
  EXPECT_TRUE(e.Wait(0));
  EXPECT_TRUE(e.Wait(0));
  e.Reset();
  EXPECT_FALSE(e.Wait(1));
}

TEST(EventTest, SetWakesWaiterAndCloseFailsWaits) {
  Event e(Event::ResetMode::kAuto);
  std::atomic<bool> woke{false};
  std::thread t([&] { woke = e.Wait(10000); });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  e.Set();
  t.join();
  EXPECT_TRUE(woke);
  uint32_t start = GetTickCount();
  std::thread t2([&] { woke = e.Wait(10000); });
  e.Close();
  t2.join();
  EXPECT_FALSE(woke);
  EXPECT_LT(GetTickCount() - start, 5000u);
  e.Set();
  EXPECT_FALSE(e.Wait(0));  // closed stays closed
}

}  // namespace
}  // namespace quill
