#include "app/single_instance.h"

#include <unistd.h>

#include <QCryptographicHash>
#include <QDir>
#include <QLocalSocket>
#include <QThread>

namespace quill {
namespace app {
namespace {

constexpr int kIoMs = 2000;  // one hand-over's reads and writes

QString ServerName(const QString& data_dir) {
  const QByteArray key = QDir(data_dir).absolutePath().toUtf8();
  return QStringLiteral("quillpost-%1-%2")
      .arg(getuid())
      .arg(QString::fromLatin1(
          QCryptographicHash::hash(key, QCryptographicHash::Md5).toHex().left(16)));
}

}  // namespace

SingleInstance::SingleInstance(const QString& data_dir)
    : data_dir_(data_dir),
      server_name_(ServerName(data_dir)),
      lock_(QDir(data_dir).filePath(QStringLiteral("quillpost.lock"))) {
  lock_.setStaleLockTime(0);  // held for the life of the process
}

SingleInstance::~SingleInstance() {
  if (server_) server_->close();
}

SingleInstance::Claim SingleInstance::Take(const QStringList& arguments) {
  if (!QDir().mkpath(data_dir_)) return Claim::kError;
  if (lock_.tryLock(0)) return Claim::kFirst;
  if (lock_.error() != QLockFile::LockFailedError) return Claim::kError;
  for (int i = 0; i < kRetries; ++i) {
    if (HandOver(arguments)) return Claim::kHandedOver;
    QThread::msleep(kRetryMs);
    // The other copy may have ended meanwhile.
    if (lock_.tryLock(0)) return Claim::kFirst;
  }
  return Claim::kNoAnswer;
}

bool SingleInstance::HandOver(const QStringList& arguments) {
  QLocalSocket socket;
  socket.connectToServer(server_name_);
  if (!socket.waitForConnected(kRetryMs)) return false;
  const QByteArray message = arguments.join(QChar(u'\n')).toUtf8() + '\0';
  socket.write(message);
  if (!socket.waitForBytesWritten(kIoMs)) return false;
  // The first copy answers once it has taken the command line.
  return socket.waitForReadyRead(kIoMs) && socket.readAll().startsWith("ok");
}

bool SingleInstance::Listen(std::function<void(const QStringList&)> on_handover) {
  server_ = std::make_unique<QLocalServer>();
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  QLocalServer::removeServer(server_name_);  // a socket left by a crash: we hold the lock
  if (!server_->listen(server_name_)) return false;
  QObject::connect(server_.get(), &QLocalServer::newConnection, server_.get(),
                   [this, on_handover] {
                     while (QLocalSocket* socket = server_->nextPendingConnection()) {
                       QObject::connect(socket, &QLocalSocket::disconnected, socket,
                                        &QObject::deleteLater);
                       auto buffer = std::make_shared<QByteArray>();
                       QObject::connect(socket, &QLocalSocket::readyRead, socket,
                                        [socket, buffer, on_handover] {
                                          buffer->append(socket->readAll());
                                          if (buffer->size() > 64 * 1024) {
                                            socket->abort();
                                            return;
                                          }
                                          if (!buffer->endsWith('\0')) return;
                                          buffer->chop(1);
                                          socket->write("ok");
                                          socket->flush();
                                          on_handover(QString::fromUtf8(*buffer).split(u'\n'));
                                        });
                     }
                   });
  return true;
}

}  // namespace app
}  // namespace quill
