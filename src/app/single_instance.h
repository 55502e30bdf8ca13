// One running copy per user and data directory: two writers would corrupt
// the store. The first copy holds a lock file in the data directory and
// listens on a local socket named after the user and the directory; a
// second copy hands it its command line there, the first raises its
// window, and the second exits. While the first copy has not listened yet,
// the second retries (kRetries x kRetryMs) and then gives up with a clear
// message instead of running beside it.
//
// Threading: UI thread only.
#ifndef QUILL_APP_SINGLE_INSTANCE_H_
#define QUILL_APP_SINGLE_INSTANCE_H_

#include <QLocalServer>
#include <QLockFile>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

namespace quill {
namespace app {

class SingleInstance {
 public:
  static constexpr int kRetries = 25;
  static constexpr int kRetryMs = 100;

  enum class Claim {
    kFirst,       // this copy runs
    kHandedOver,  // another copy got the command line: exit with 1
    kNoAnswer,    // another copy holds the data but never answered
    kError,       // the lock file could not be made
  };

  explicit SingleInstance(const QString& data_dir);
  ~SingleInstance();

  Claim Take(const QStringList& arguments);
  // The first copy: from now on other copies are answered; on_handover gets
  // each one's command line.
  bool Listen(std::function<void(const QStringList&)> on_handover);
  const QString& server_name() const { return server_name_; }

 private:
  bool HandOver(const QStringList& arguments);

  const QString data_dir_;
  const QString server_name_;
  QLockFile lock_;
  std::unique_ptr<QLocalServer> server_;
};

}  // namespace app
}  // namespace quill

#endif  // QUILL_APP_SINGLE_INSTANCE_H_
