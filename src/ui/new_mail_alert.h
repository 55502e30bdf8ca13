// How the main window announces new mail: a short sound, and a desktop
// notice while the window is in the background. The desktop one plays a
// wave through libcanberra (asynchronously; silently nothing without a
// sound server) and posts through the freedesktop notification service on
// the session bus (silently nothing without one).
//
// Threading: UI thread only.
#ifndef QUILL_UI_NEW_MAIL_ALERT_H_
#define QUILL_UI_NEW_MAIL_ALERT_H_

#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>

struct ca_context;

namespace quill {
namespace ui {

class NewMailAlert {
 public:
  virtual ~NewMailAlert() = default;
  // Starts the new-mail sound and returns at once.
  virtual void PlaySound() = 0;
  // Shows (or replaces) the notice for `count` new mails.
  virtual void Notify(int count) = 0;
  // Removes the notice if one is shown.
  virtual void Withdraw() = 0;
};

// The wave the program plays: 0.25 s of two short tones, 8 kHz mono 8-bit.
QByteArray NewMailWave();

class DesktopAlert : public QObject, public NewMailAlert {
  Q_OBJECT

 public:
  // wave_dir: where the wave file is written on first use.
  explicit DesktopAlert(QString wave_dir);
  ~DesktopAlert() override;

  void PlaySound() override;
  void Notify(int count) override;
  void Withdraw() override;

  // Called when the person clicks the notice.
  std::function<void()> on_clicked;

 private Q_SLOTS:
  void OnActionInvoked(uint id, const QString& action);

 private:
  const QString wave_path_;
  ca_context* sound_ = nullptr;  // made on first use; null when unavailable
  bool sound_failed_ = false;    // no sound context could be made
  uint32_t notice_id_ = 0;       // the notice shown, 0 none
};

}  // namespace ui
}  // namespace quill

#endif  // QUILL_UI_NEW_MAIL_ALERT_H_
