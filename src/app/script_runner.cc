#include "app/script_runner.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPixmap>
#include <QPointer>
#include <cstdio>
#include <memory>

#include "ui/handheld_style.h"
#include "ui/mail_list_view.h"
#include "ui/screen.h"
#include "ui/soft_key_bar.h"

namespace quill {
namespace app {
namespace {

struct VerbShape {
  const char* verb;
  int args;  // -1: the rest of the line as one argument
};
constexpr VerbShape kVerbs[] = {
    {"wait", 0}, {"key", 1},  {"tap", 2},  {"hold", 2},  {"menu", 1},
    {"type", -1}, {"answer", -1}, {"row", 1}, {"shot", -1}, {"dump", 0},
};

void PrintLine(FILE* to, const QString& line) {
  const QByteArray bytes = line.toUtf8();
  std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), to);
  std::fputc('\n', to);
  std::fflush(to);
}

bool ParseInt(const QString& text, int* out) {
  bool ok = false;
  *out = text.toInt(&ok);
  return ok;
}

}  // namespace

bool ScriptRunner::Parse(const QString& script, std::vector<Step>* steps, QString* why) {
  const QStringList lines = script.split(u'\n');
  for (int i = 0; i < lines.size(); ++i) {
    QString line = lines[i];
    if (line.endsWith(u'\r')) line.chop(1);
    const QString trimmed = line.trimmed();
    if (trimmed.isEmpty() || trimmed.startsWith(u'#')) continue;
    Step step;
    step.line = i + 1;
    step.text = trimmed;
    const qsizetype blank = trimmed.indexOf(u' ');
    step.verb = blank < 0 ? trimmed : trimmed.left(blank);
    const QString rest = blank < 0 ? QString() : trimmed.mid(blank + 1).trimmed();
    const VerbShape* shape = nullptr;
    for (const VerbShape& v : kVerbs) {
      if (step.verb == QLatin1String(v.verb)) shape = &v;
    }
    if (shape == nullptr) {
      *why = QStringLiteral("line %1: %2: unknown step").arg(step.line).arg(trimmed);
      return false;
    }
    if (shape->args < 0) {
      if (rest.isEmpty()) {
        *why = QStringLiteral("line %1: %2: needs an argument").arg(step.line).arg(trimmed);
        return false;
      }
      step.args = QStringList{rest};
    } else {
      step.args = rest.isEmpty() ? QStringList() : rest.split(u' ', Qt::SkipEmptyParts);
      if (step.args.size() != shape->args) {
        *why = QStringLiteral("line %1: %2: needs %3 argument(s)")
                   .arg(step.line)
                   .arg(trimmed)
                   .arg(shape->args);
        return false;
      }
    }
    steps->push_back(step);
  }
  return true;
}

ScriptRunner::ScriptRunner(std::vector<Step> steps, std::function<void(int)> finish)
    : steps_(std::move(steps)), finish_(std::move(finish)) {
  step_timer_.setSingleShot(true);
  QObject::connect(&step_timer_, &QTimer::timeout, [this] { Next(); });
  poll_timer_.setInterval(kPollMs);
}

void ScriptRunner::Attach(facade::MailService* service, QWidget* main_window) {
  service_ = service;
  main_window_ = main_window;
}

void ScriptRunner::Start() { Schedule(0); }

void ScriptRunner::Schedule(int delay_ms) {
  if (!finished_) step_timer_.start(delay_ms);
}

void ScriptRunner::Finish(int code) {
  if (finished_) return;
  finished_ = true;
  step_timer_.stop();
  poll_timer_.stop();
  finish_(code);
}

void ScriptRunner::Fail(const Step& step, const QString& why) {
  PrintLine(stderr, QStringLiteral("quillpost: script line %1: %2: %3")
                        .arg(step.line)
                        .arg(step.text, why));
  Finish(1);
}

void ScriptRunner::Next() {
  if (finished_) return;
  if (next_ >= steps_.size()) {
    Finish(0);
    return;
  }
  if (ActiveWindow() == nullptr) {
    Schedule(kPollMs);  // no window yet
    return;
  }
  const Step step = steps_[next_++];
  if (step.verb == "wait") {
    StartWait(step);
    return;
  }
  if (step.verb == "hold") {
    int x = 0, y = 0;
    if (!ParseInt(step.args[0], &x) || !ParseInt(step.args[1], &y)) {
      Fail(step, QStringLiteral("X and Y must be numbers"));
      return;
    }
    StartHold(step, QPoint(x, y));
    return;
  }
  // The next step is due before this one runs: a step that opens a modal
  // screen returns only when it closes, and the next step must run inside.
  Schedule(0);
  QString why;
  if (!Run(step, &why)) Fail(step, why);
}

QWidget* ScriptRunner::ActiveWindow() const {
  if (QWidget* popup = QApplication::activePopupWidget()) return popup;
  if (QWidget* modal = QApplication::activeModalWidget()) return modal;
  return main_window_.data();
}

QWidget* ScriptRunner::FocusTarget() const {
  QWidget* window = ActiveWindow();
  QWidget* focus = QApplication::focusWidget();
  if (focus != nullptr && focus->window() == window) return focus;
  return window->focusWidget() != nullptr ? window->focusWidget() : window;
}

void ScriptRunner::StartWait(const Step& step) {
  auto started = std::make_shared<QElapsedTimer>();
  started->start();
  QObject::disconnect(&poll_timer_, nullptr, nullptr, nullptr);
  QObject::connect(&poll_timer_, &QTimer::timeout, [this, step, started] {
    auto* screen = dynamic_cast<ui::Screen*>(ActiveWindow());
    auto* main = dynamic_cast<ui::Screen*>(main_window_.data());
    const bool busy = (service_ != nullptr && service_->JobsRunning()) ||
                      (screen != nullptr && screen->Busy()) || (main != nullptr && main->Busy());
    if (!busy) {
      poll_timer_.stop();
      Schedule(0);
    } else if (started->elapsed() > kWaitLimitMs) {
      poll_timer_.stop();
      Fail(step, QStringLiteral("still busy after %1 s").arg(kWaitLimitMs / 1000));
    }
  });
  poll_timer_.start();
}

bool ScriptRunner::SendClick(const QPoint& at, bool press, bool release, QString* why) {
  QWidget* window = ActiveWindow();
  if (!window->rect().contains(at)) {
    *why = QStringLiteral("(%1,%2) is outside the %3x%4 window")
               .arg(at.x())
               .arg(at.y())
               .arg(window->width())
               .arg(window->height());
    return false;
  }
  QWidget* target = window->childAt(at);
  if (target == nullptr) target = window;
  const QPointF local = target->mapFrom(window, at);
  const QPointF global = window->mapToGlobal(at);
  if (press) {
    QMouseEvent e(QEvent::MouseButtonPress, local, global, Qt::LeftButton, Qt::LeftButton,
                  Qt::NoModifier);
    QApplication::sendEvent(target, &e);
    held_ = target;
    held_at_ = local.toPoint();
  }
  if (release) {
    QWidget* to = held_ != nullptr ? held_.data() : target;
    QMouseEvent e(QEvent::MouseButtonRelease, press ? local : QPointF(held_at_), global,
                  Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    if (to != nullptr) QApplication::sendEvent(to, &e);
    held_ = nullptr;
  }
  return true;
}

void ScriptRunner::StartHold(const Step& step, const QPoint& at) {
  QString why;
  if (!SendClick(at, /*press=*/true, /*release=*/false, &why)) {
    Fail(step, why);
    return;
  }
  // The release goes straight to the pressed widget once the hold fired, so
  // a popup the hold opened does not take it as a choice.
  QTimer::singleShot(ui::MailListView::kHoldMs + 150, [this] {
    QString unused;
    if (held_ != nullptr) SendClick(QPoint(), /*press=*/false, /*release=*/true, &unused);
    Schedule(0);
  });
}

bool ScriptRunner::Run(const Step& step, QString* why) {
  const QString& verb = step.verb;
  if (verb == "key") {
    const QKeySequence sequence(step.args[0]);
    if (sequence.isEmpty() || sequence[0].key() == Qt::Key_unknown) {
      *why = QStringLiteral("unknown key name");
      return false;
    }
    const QKeyCombination key = sequence[0];
    QWidget* target = FocusTarget();
    QKeyEvent press(QEvent::KeyPress, key.key(), key.keyboardModifiers());
    QApplication::sendEvent(target, &press);
    QKeyEvent release(QEvent::KeyRelease, key.key(), key.keyboardModifiers());
    if (target != nullptr) QApplication::sendEvent(target, &release);
    return true;
  }
  if (verb == "tap") {
    int x = 0, y = 0;
    if (!ParseInt(step.args[0], &x) || !ParseInt(step.args[1], &y)) {
      *why = QStringLiteral("X and Y must be numbers");
      return false;
    }
    return SendClick(QPoint(x, y), true, true, why);
  }
  if (verb == "menu") {
    bool ok = false;
    const uint32_t command = step.args[0].toUInt(&ok);
    if (!ok) {
      *why = QStringLiteral("COMMAND-ID must be a number");
      return false;
    }
    if (auto* popup = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
      QAction* action = ui::FindCommand(popup, command);
      if (action == nullptr || !action->isEnabled()) {
        *why = action == nullptr ? QStringLiteral("the open menu has no such command")
                                 : QStringLiteral("the command is disabled");
        return false;
      }
      popup->close();
      action->trigger();
      return true;
    }
    auto* screen = dynamic_cast<ui::Screen*>(ActiveWindow());
    if (screen == nullptr) {
      *why = QStringLiteral("the active window has no menu");
      return false;
    }
    return screen->RunCommand(command, why);
  }
  if (verb == "type") {
    QKeyEvent e(QEvent::KeyPress, 0, Qt::NoModifier, step.args[0]);
    QApplication::sendEvent(FocusTarget(), &e);
    return true;
  }
  if (verb == "answer") {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr) {
      *why = QStringLiteral("no box is open");
      return false;
    }
    const QString wanted = ui::PlainButtonText(step.args[0]);
    for (QAbstractButton* b : modal->findChildren<QAbstractButton*>()) {
      if (b->isVisible() && b->isEnabled() && ui::PlainButtonText(b->text()) == wanted) {
        b->click();
        return true;
      }
    }
    *why = QStringLiteral("the open box has no button of that text");
    return false;
  }
  if (verb == "row") {
    int row = 0;
    if (!ParseInt(step.args[0], &row)) {
      *why = QStringLiteral("N must be a number");
      return false;
    }
    auto* screen = dynamic_cast<ui::Screen*>(ActiveWindow());
    if (screen == nullptr) {
      *why = QStringLiteral("the active window has no list");
      return false;
    }
    return screen->SelectRow(row, why);
  }
  if (verb == "shot") {
    if (!ActiveWindow()->grab().save(step.args[0], "PNG")) {
      *why = QStringLiteral("cannot write the picture");
      return false;
    }
    return true;
  }
  if (verb == "dump") return Dump(why);
  *why = QStringLiteral("unknown step");
  return false;
}

bool ScriptRunner::Dump(QString* why) {
  QWidget* window = ActiveWindow();
  QStringList lines;
  if (auto* box = qobject_cast<QMessageBox*>(window)) {
    lines.append("box: " + box->windowTitle());
    lines.append("text: " + box->text());
    QStringList buttons;
    for (QAbstractButton* b : box->buttons()) buttons.append(ui::PlainButtonText(b->text()));
    lines.append("buttons: " + buttons.join(" | "));
  } else if (auto* menu = qobject_cast<QMenu*>(window)) {
    lines.append(QStringLiteral("menu:"));
    for (QAction* a : menu->actions()) {
      if (a->isSeparator()) continue;
      lines.append(QStringLiteral("%1 %2%3")
                       .arg(a->data().toUInt())
                       .arg(a->text(), a->isEnabled() ? QString() : QStringLiteral(" (disabled)")));
    }
  } else if (auto* screen = dynamic_cast<ui::Screen*>(window)) {
    screen->DumpText(&lines);
  } else {
    *why = QStringLiteral("the active window cannot be dumped");
    return false;
  }
  for (const QString& line : lines) PrintLine(stdout, line);
  PrintLine(stdout, QString());
  return true;
}

}  // namespace app
}  // namespace quill
