#include "ui/new_mail_alert.h"

#include <canberra.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDir>
#include <QFile>
#include <QVariantMap>
#include <cmath>

#include "ui/texts.h"

namespace quill {
namespace ui {
namespace {

constexpr char kService[] = "org.freedesktop.Notifications";
constexpr char kPath[] = "/org/freedesktop/Notifications";
constexpr char kInterface[] = "org.freedesktop.Notifications";
constexpr int kNoticeMs = 16000;  // how long the notice stays

void PutLe(QByteArray* out, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out->append(static_cast<char>((v >> (8 * i)) & 0xFF));
}

}  // namespace

QByteArray NewMailWave() {
  constexpr uint32_t kRate = 8000;
  constexpr double kPi = 3.14159265358979323846;
  QByteArray samples;
  // Two tones of 0.1 s with 0.05 s of silence between, faded at the edges.
  const struct { double hz; int count; } parts[] = {{880, 800}, {0, 400}, {1320, 800}};
  for (const auto& part : parts) {
    for (int i = 0; i < part.count; ++i) {
      const double fade = std::min(1.0, std::min(i, part.count - i) / 80.0);
      const double v = part.hz == 0 ? 0 : std::sin(2 * kPi * part.hz * i / kRate) * 0.6 * fade;
      samples.append(static_cast<char>(128 + static_cast<int>(std::lround(v * 127))));
    }
  }
  QByteArray wave("RIFF");
  PutLe(&wave, 36 + static_cast<uint32_t>(samples.size()), 4);
  wave.append("WAVEfmt ");
  PutLe(&wave, 16, 4);     // format chunk size
  PutLe(&wave, 1, 2);      // PCM
  PutLe(&wave, 1, 2);      // mono
  PutLe(&wave, kRate, 4);  // sample rate
  PutLe(&wave, kRate, 4);  // bytes per second
  PutLe(&wave, 1, 2);      // block align
  PutLe(&wave, 8, 2);      // bits per sample
  wave.append("data");
  PutLe(&wave, static_cast<uint32_t>(samples.size()), 4);
  wave.append(samples);
  return wave;
}

DesktopAlert::DesktopAlert(QString wave_dir) : wave_path_(wave_dir + "/newmail.wav") {
  QDBusConnection::sessionBus().connect(kService, kPath, kInterface, "ActionInvoked", this,
                                        SLOT(OnActionInvoked(uint, QString)));
}

DesktopAlert::~DesktopAlert() {
  Withdraw();
  if (sound_ != nullptr) ca_context_destroy(sound_);
}

void DesktopAlert::PlaySound() {
  if (sound_failed_) return;
  if (sound_ == nullptr) {
    QFile file(wave_path_);
    QDir().mkpath(QFileInfo(wave_path_).absolutePath());
    const QByteArray wave = NewMailWave();
    if (!file.exists() || file.size() != wave.size()) {
      if (!file.open(QIODevice::WriteOnly) || file.write(wave) != wave.size()) {
        sound_failed_ = true;
        return;
      }
      file.close();
    }
    if (ca_context_create(&sound_) != CA_SUCCESS) {
      sound_ = nullptr;
      sound_failed_ = true;
      return;
    }
  }
  // ca_context_play returns at once; the sound server plays it.
  ca_context_play(sound_, 0, CA_PROP_MEDIA_FILENAME, wave_path_.toUtf8().constData(),
                  CA_PROP_EVENT_DESCRIPTION, text::kProduct, nullptr);
}

void DesktopAlert::Notify(int count) {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return;
  QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, "Notify");
  const QString body = T(text::kNotificationBody).arg(count);
  call << T(text::kProduct) << notice_id_ << QString() << T(text::kProduct) << body
       << QStringList{QStringLiteral("default"), body} << QVariantMap() << kNoticeMs;
  auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
  QObject::connect(watcher, &QDBusPendingCallWatcher::finished, this,
                   [this](QDBusPendingCallWatcher* w) {
                     QDBusPendingReply<uint> reply = *w;
                     if (!reply.isError()) notice_id_ = reply.value();
                     w->deleteLater();
                   });
}

void DesktopAlert::Withdraw() {
  if (notice_id_ == 0) return;
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (bus.isConnected()) {
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kPath, kInterface, "CloseNotification");
    call << notice_id_;
    bus.call(call, QDBus::NoBlock);
  }
  notice_id_ = 0;
}

void DesktopAlert::OnActionInvoked(uint id, const QString&) {
  if (id == notice_id_ && on_clicked) on_clicked();
}

}  // namespace ui
}  // namespace quill
