// Helpers of the screens' tests: answering the message box a step opens,
// and waiting on conditions through Qt's event loop.
#ifndef QUILL_TESTS_UI_UI_TEST_UTIL_H_
#define QUILL_TESTS_UI_UI_TEST_UTIL_H_

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>

#include "ui/handheld_style.h"

namespace quill {
namespace ui {

// Watches for the next modal box or dialog; when it is up, records its text
// and presses the button whose text (without mnemonic) is `button`.
class BoxAnswerer {
 public:
  explicit BoxAnswerer(QString button) : button_(std::move(button)) {
    timer_.setInterval(10);
    QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
    timer_.start();
  }
  bool answered() const { return answered_; }
  const QString& text() const { return text_; }
  const QString& caption() const { return caption_; }

 private:
  void Poll() {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || !modal->isVisible()) return;
    if (auto* box = qobject_cast<QMessageBox*>(modal)) text_ = box->text();
    caption_ = modal->windowTitle();
    for (QAbstractButton* b : modal->findChildren<QAbstractButton*>()) {
      if (b->isVisible() && PlainButtonText(b->text()) == button_) {
        timer_.stop();
        answered_ = true;
        b->click();
        return;
      }
    }
  }
  const QString button_;
  QTimer timer_;
  bool answered_ = false;
  QString text_, caption_;
};

// Waits through Qt's event loop; a generous bound, never a timing check.
inline bool WaitFor(const std::function<bool()>& done, int ms = 20000) {
  return QTest::qWaitFor(done, ms);
}

}  // namespace ui
}  // namespace quill

#endif  // QUILL_TESTS_UI_UI_TEST_UTIL_H_
