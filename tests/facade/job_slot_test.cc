// The job slot's transitions: each operation ends exactly once, whatever
// ends it, and a -3 retry is bounded.
#include "facade/job_slot.h"

#include <gtest/gtest.h>

namespace quill {
namespace facade {
namespace {

using State = JobSlot::State;

TEST(JobSlotTest, RunningEndsOnceAndOnlyForItsOwnJob) {
  JobSlot slot(2);
  EXPECT_FALSE(slot.Finish(0));  // nothing to end
  ASSERT_TRUE(slot.Run(7));
  EXPECT_EQ(slot.job_id(), 7u);
  EXPECT_FALSE(slot.Run(8));     // one job at a time
  EXPECT_FALSE(slot.Wait());
  EXPECT_FALSE(slot.Finish(6));  // a replaced job's late end
  EXPECT_FALSE(slot.Finish(0));  // no job waits
  EXPECT_TRUE(slot.Finish(7));
  EXPECT_FALSE(slot.Finish(7));  // the second end of the same job
  EXPECT_EQ(slot.state(), State::kNone);
  EXPECT_EQ(slot.job_id(), 0u);
}

TEST(JobSlotTest, AWaitingJobRunsAfterItsLoginOrEndsAsJobZero) {
  JobSlot slot(2);
  EXPECT_FALSE(slot.Run(0));  // a queued job has an id
  ASSERT_TRUE(slot.Wait());
  EXPECT_TRUE(slot.busy());
  EXPECT_TRUE(slot.Holds(0));
  EXPECT_EQ(slot.job_id(), 0u);
  EXPECT_FALSE(slot.WaitAgain());  // only a running job is answered -3
  ASSERT_TRUE(slot.Run(3));
  EXPECT_FALSE(slot.Holds(0));
  EXPECT_TRUE(slot.Finish(3));

  ASSERT_TRUE(slot.Wait());
  EXPECT_FALSE(slot.Finish(3));
  EXPECT_TRUE(slot.Finish(0));  // abandoned: its login failed
  EXPECT_FALSE(slot.busy());
}

TEST(JobSlotTest, RetriesAfterAnExpiredSessionAreBoundedPerOperation) {
  JobSlot slot(2);
  ASSERT_TRUE(slot.Run(1));
  ASSERT_TRUE(slot.WaitAgain());
  EXPECT_FALSE(slot.Finish(1));  // the expired job no longer ends it
  ASSERT_TRUE(slot.Run(2));
  ASSERT_TRUE(slot.WaitAgain());
  ASSERT_TRUE(slot.Run(3));
  EXPECT_FALSE(slot.WaitAgain());  // used up: the caller ends the operation
  EXPECT_EQ(slot.state(), State::kRunning);
  EXPECT_TRUE(slot.Finish(3));
  // A new operation has its own retries, whether it starts now or waits.
  ASSERT_TRUE(slot.Run(4));
  EXPECT_TRUE(slot.WaitAgain());
  ASSERT_TRUE(slot.Finish(0));
  ASSERT_TRUE(slot.Wait());
  ASSERT_TRUE(slot.Run(5));
  EXPECT_EQ(slot.retries(), 0);
  EXPECT_TRUE(slot.WaitAgain());

  JobSlot never(0);  // logins are not retried
  ASSERT_TRUE(never.Run(9));
  EXPECT_FALSE(never.WaitAgain());
}

}  // namespace
}  // namespace facade
}  // namespace quill
