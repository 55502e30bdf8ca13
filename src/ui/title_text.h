// The main window's title: the unread count, the offline mark, and the
// arrow that alternates once a second while network jobs run. The
// animation stops itself after 10 ticks (and forgets the job count), so a
// lost job end cannot animate the title for ever.
#ifndef QUILL_UI_TITLE_TEXT_H_
#define QUILL_UI_TITLE_TEXT_H_

#include <QString>
#include <cstdint>

namespace quill {
namespace ui {

class TitleAnimator {
 public:
  static constexpr int kMaxTicks = 10;

  // A JobStarted: true when the animation timer should run.
  bool JobStarted() { return ++activity_ > 0; }
  // A JobEnded: true when the jobs are all over (stop the timer).
  bool JobEnded();
  int activity() const { return activity_; }
  int counter() const { return counter_; }

  // The title for `unread` mails of view 0. A tick (timer 2026) moves the
  // arrow; other refreshes show it where it is, so a burst of store changes
  // neither spins it nor uses up its ticks. *stop_timer is set when the
  // animation gave up (more than kMaxTicks ticks).
  QString Build(bool offline, uint32_t unread, bool tick, bool* stop_timer);

 private:
  int activity_ = 0;  // JobStarted minus JobEnded, never below 0
  int counter_ = 0;   // ticks of the animation
};

}  // namespace ui
}  // namespace quill

#endif  // QUILL_UI_TITLE_TEXT_H_
