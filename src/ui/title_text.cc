#include "ui/title_text.h"

#include "ui/texts.h"

namespace quill {
namespace ui {

bool TitleAnimator::JobEnded() {
  if (activity_ > 0) --activity_;
  if (activity_ >= 1) return false;
  activity_ = 0;
  return true;
}

QString TitleAnimator::Build(bool offline, uint32_t unread, bool tick, bool* stop_timer) {
  *stop_timer = false;
  if (counter_ > kMaxTicks) {
    *stop_timer = true;
    counter_ = 0;
    activity_ = 0;
  }
  const QString product = T(text::kProduct);
  if (offline) {
    const QString base = product + T(text::kOffline);
    return unread == 0 ? base : QStringLiteral("%1(%2)").arg(base).arg(unread);
  }
  if (activity_ != 0) {
    if (tick) ++counter_;
    const bool even = (counter_ % 2) == 0;
    const QString arrow = even ? QStringLiteral("↑") : QStringLiteral("↓");
    return unread == 0 ? product + QStringLiteral(" ") + arrow
                       : QStringLiteral("%1%2(%3)").arg(product, arrow).arg(unread);
  }
  return unread == 0 ? product : QStringLiteral("%1 (%2)").arg(product).arg(unread);
}

}  // namespace ui
}  // namespace quill
