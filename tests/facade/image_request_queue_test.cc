// The image request queue (one job at a time, -10 retries on a timer) and
// the daily sync budget's window.
#include "facade/image_request_queue.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "facade/daily_sync_budget.h"

namespace quill {
namespace facade {
namespace {

ImageRequest Image(const char16_t* url) {
  ImageRequest r;
  r.mail_id = 7;
  r.url = url;
  return r;
}

class ImageRequestQueueTest : public ::testing::Test {
 protected:
  MessageLoop loop_;
  ImageRequestQueue queue_{&loop_,
                           [this](const ImageRequest& r) {
                             started_.push_back(r.url);
                             return start_ok_;
                           },
                           [this] { return now_; }};
  std::vector<std::u16string> started_;
  bool start_ok_ = true;
  int64_t now_ = 1000;
};

TEST_F(ImageRequestQueueTest, RequestsRunOneAfterAnotherInOrder) {
  EXPECT_TRUE(queue_.Request(Image(u"a")));
  EXPECT_TRUE(queue_.Request(Image(u"b")));
  EXPECT_TRUE(queue_.Request(Image(u"c")));
  EXPECT_EQ(started_, std::vector<std::u16string>{u"a"});
  queue_.JobEnded();
  queue_.JobEnded();
  EXPECT_EQ(started_, (std::vector<std::u16string>{u"a", u"b", u"c"}));
  queue_.JobEnded();
  EXPECT_FALSE(queue_.running());

  // A start that fails clears what waits.
  queue_.Request(Image(u"d"));
  queue_.Request(Image(u"e"));
  start_ok_ = false;
  queue_.JobEnded();
  EXPECT_EQ(queue_.waiting(), 0u);
  EXPECT_FALSE(queue_.running());
  EXPECT_FALSE(queue_.Request(Image(u"f")));
}

TEST_F(ImageRequestQueueTest, DelayedRequestsStartWhenDueAndRetriesAreCapped) {
  // In order of the answers; a negative delay is 0, one far beyond the
  // clamp is cut to it.
  ASSERT_TRUE(queue_.RetryLater(Image(u"soon"), -5));
  ASSERT_TRUE(queue_.RetryLater(Image(u"far"), 1 << 30));
  EXPECT_EQ(queue_.delayed(), 2u);
  now_ += ImageRequestQueue::kMaxDelaySeconds;  // the clamped delay has passed
  ASSERT_TRUE(loop_.PumpUntil([&] { return started_.size() == 1; }, 5000));
  EXPECT_EQ(started_[0], u"soon");
  // "far" is due as well: it waits only for the running job.
  ASSERT_TRUE(loop_.PumpUntil([&] { return queue_.delayed() == 0; }, 5000));
  EXPECT_EQ(queue_.waiting(), 1u);
  queue_.JobEnded();
  EXPECT_EQ(started_, (std::vector<std::u16string>{u"soon", u"far"}));

  ImageRequest r = Image(u"again");
  for (uint32_t i = 0; i < ImageRequestQueue::kMaxRetries; ++i) {
    ASSERT_TRUE(queue_.RetryLater(r, 1));
    r.retries = i + 1;
  }
  EXPECT_FALSE(queue_.RetryLater(r, 1));
  queue_.Clear();
  EXPECT_EQ(queue_.delayed(), 0u);
}

TEST(DailySyncBudgetTest, WindowOpensAtFirstCheckAndTurnsAfterADayOrAWrap) {
  engine::AccountState account;
  uint32_t now = 5000;
  DailySyncBudget budget(&account, 1000, [&] { return now; });
  account.AddReceived(50000, /*counts_daily=*/true);  // before the window: not counted
  EXPECT_FALSE(budget.Reached());
  account.AddReceived(1000, true);
  account.AddSent(5000, /*counts_daily=*/false);  // other traffic
  EXPECT_FALSE(budget.Reached());  // at most the limit is allowed
  account.AddSent(1, true);
  EXPECT_TRUE(budget.Reached());
  now += DailySyncBudget::kWindowMs;
  EXPECT_TRUE(budget.Reached());  // the same window, to the millisecond
  now += 1;
  EXPECT_FALSE(budget.Reached());
  account.AddReceived(2000, true);
  EXPECT_TRUE(budget.Reached());
  now = 10;  // the tick count wrapped
  EXPECT_FALSE(budget.Reached());
}

}  // namespace
}  // namespace facade
}  // namespace quill
