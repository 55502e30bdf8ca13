// Drives the real program from a script, one step a line, through Qt's
// event queue (so modal screens opened by a step are driven from inside
// their own event loops):
//
//   wait                until no network job runs and the active screen is
//                       not busy (60 s at most)
//   key NAME            a key (Qt's names: Down, Return, Escape, F1 = left
//                       soft key, F2 = right soft key...) to the focus
//   tap X Y / hold X Y  a click / a long press at window coordinates
//   menu COMMAND-ID     a command of the open popup menu, else of the
//                       active screen's menu
//   type TEXT           text typed into the focus
//   answer BUTTON-TEXT  presses a button of the open box ("是", "是(&Y)")
//   row N               selects row N (from 0) of the screen's list
//   shot FILE.png       a picture of the active window
//   dump                the active window as text on stdout
//
// Blank lines and lines starting with '#' are skipped. A step that cannot
// be done prints one line naming it on stderr and ends the run with 1;
// after the last step the run ends with 0.
//
// Threading: UI thread only.
#ifndef QUILL_APP_SCRIPT_RUNNER_H_
#define QUILL_APP_SCRIPT_RUNNER_H_

#include <QPoint>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <vector>

#include "facade/mail_service.h"

namespace quill {
namespace app {

class ScriptRunner {
 public:
  static constexpr int kWaitLimitMs = 60000;
  static constexpr int kPollMs = 20;

  struct Step {
    int line = 0;      // in the file, from 1
    QString text;      // the line as written
    QString verb;      // wait, key, tap, ...
    QStringList args;  // the rest, split at blanks (type and answer keep one)
  };

  // Parses a script; false with *why naming the bad line.
  static bool Parse(const QString& script, std::vector<Step>* steps, QString* why);

  // finish is called once with the exit status. The runner may start
  // before the program has a window (a start-up question is answered from
  // its box); a step waits until some window is up.
  ScriptRunner(std::vector<Step> steps, std::function<void(int)> finish);

  // Where steps go when no modal screen is open, and whose jobs `wait`
  // waits for; both may be set later (null: none yet).
  void Attach(facade::MailService* service, QWidget* main_window);

  // Starts the first step from the event loop.
  void Start();

 private:
  void Next();
  void Schedule(int delay_ms);
  void Fail(const Step& step, const QString& why);
  void Finish(int code);
  // Runs one immediate step; false with *why when it cannot be done.
  bool Run(const Step& step, QString* why);
  void StartWait(const Step& step);
  void StartHold(const Step& step, const QPoint& at);
  QWidget* ActiveWindow() const;
  QWidget* FocusTarget() const;
  bool Dump(QString* why);
  bool SendClick(const QPoint& at, bool press, bool release, QString* why);

  std::vector<Step> steps_;
  facade::MailService* service_ = nullptr;
  QPointer<QWidget> main_window_;
  std::function<void(int)> finish_;
  size_t next_ = 0;       // the step to run next
  bool finished_ = false;
  QTimer step_timer_;     // starts the next step
  QTimer poll_timer_;     // a running wait
  QPointer<QWidget> held_;   // where a press is held
  QPoint held_at_;           // local position of that press
};

}  // namespace app
}  // namespace quill

#endif  // QUILL_APP_SCRIPT_RUNNER_H_
