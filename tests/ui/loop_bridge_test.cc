#include "ui/loop_bridge.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <atomic>
#include <thread>
#include <vector>

#include "tests/ui/ui_test_util.h"

namespace quill {
namespace ui {
namespace {

constexpr uint32_t kMsg = kWmUser + 7;

TEST(LoopBridgeTest, WorkerSendsAreServedByQtsLoop) {
  MessageLoop loop;
  LoopBridge bridge(&loop);
  EndpointId ep = loop.CreateEndpoint([&](uint32_t, uintptr_t w, intptr_t) -> intptr_t {
    EXPECT_TRUE(loop.IsUiThread());
    return static_cast<intptr_t>(w * 2);
  });
  std::atomic<int> done{0};
  std::vector<intptr_t> results(20, 0);
  std::thread worker([&] {
    for (size_t i = 0; i < results.size(); ++i) {
      EXPECT_TRUE(loop.Send(ep, kMsg, i + 1, 0, &results[i]));
      ++done;
    }
  });
  EXPECT_TRUE(WaitFor([&] { return done == 20; }));
  worker.join();
  for (size_t i = 0; i < results.size(); ++i) EXPECT_EQ(results[i], static_cast<intptr_t>(2 * (i + 1)));
  loop.Quit(0);
}

// A handler that opens a modal box must not hold back the next send: the
// nested loop of the box serves it.
TEST(LoopBridgeTest, ModalBoxInAHandlerKeepsServingSends) {
  MessageLoop loop;
  LoopBridge bridge(&loop);
  std::atomic<bool> second_served{false};
  std::atomic<bool> box_opening{false};
  bool box_closed_after_second = false;
  EndpointId ep = loop.CreateEndpoint([&](uint32_t, uintptr_t w, intptr_t) -> intptr_t {
    if (w == 1) {
      QMessageBox box(QMessageBox::Question, "Quillpost", "modal", QMessageBox::Yes);
      QTimer closer;
      QObject::connect(&closer, &QTimer::timeout, [&] {
        if (second_served) box.done(QMessageBox::Yes);
      });
      closer.start(5);
      box_opening = true;
      box.exec();
      box_closed_after_second = second_served;
    } else {
      second_served = true;
    }
    return 0;
  });
  std::atomic<int> sent{0};
  std::thread first([&] {
    loop.Send(ep, kMsg, 1, 0);
    ++sent;
  });
  std::thread second([&] {
    // Only once the first handler runs (its box is open).
    while (!box_opening) std::this_thread::yield();
    loop.Send(ep, kMsg, 2, 0);
    ++sent;
  });
  EXPECT_TRUE(WaitFor([&] { return sent == 2; }));
  first.join();
  second.join();
  EXPECT_TRUE(box_closed_after_second);
  loop.Quit(0);
}

TEST(LoopBridgeTest, LoopTimersFireThroughQt) {
  MessageLoop loop;
  LoopBridge bridge(&loop);
  int ticks = 0;
  EndpointId ep = loop.CreateEndpoint([&](uint32_t msg, uintptr_t, intptr_t) -> intptr_t {
    if (msg == kWmTimer) ++ticks;
    return 0;
  });
  ASSERT_TRUE(loop.SetTimer(ep, 1, 10));
  EXPECT_TRUE(WaitFor([&] { return ticks >= 3; }));
  loop.KillTimer(ep, 1);
  loop.Quit(0);
}

// A handler that posts itself again and again (as the body loader does)
// leaves room for Qt's own timers between turns.
TEST(LoopBridgeTest, SelfPostingWorkDoesNotStarveQt) {
  MessageLoop loop;
  LoopBridge bridge(&loop);
  bool qt_timer_fired = false;
  int chunks = 0;
  EndpointId ep = 0;
  ep = loop.CreateEndpoint([&](uint32_t, uintptr_t, intptr_t) -> intptr_t {
    ++chunks;
    if (!qt_timer_fired) loop.Post(ep, kMsg, 0, 0);
    return 0;
  });
  ASSERT_TRUE(loop.Post(ep, kMsg, 0, 0));
  QTimer::singleShot(20, [&] { qt_timer_fired = true; });
  EXPECT_TRUE(WaitFor([&] { return qt_timer_fired; }));
  EXPECT_GT(chunks, 1);
  loop.Quit(0);
}

TEST(LoopBridgeTest, QuitFailsBlockedSendsAtOnce) {
  MessageLoop loop;
  LoopBridge bridge(&loop);
  EndpointId ep = loop.CreateEndpoint([](uint32_t, uintptr_t, intptr_t) -> intptr_t { return 0; });
  loop.Quit(0);
  std::atomic<bool> returned{false};
  bool ok = true;
  std::thread worker([&] {
    ok = loop.Send(ep, kMsg, 0, 0);
    returned = true;
  });
  worker.join();  // no turn needed
  EXPECT_TRUE(returned);
  EXPECT_FALSE(ok);
}

}  // namespace
}  // namespace ui
}  // namespace quill
