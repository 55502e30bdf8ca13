// The application object: the UI message loop hosted by Qt's, the
// connection backend, and the mail service facade (which owns the
// settings, the account's store and the worker pool). One per process.
//
// Exit order: the caller destroys the windows (they unsubscribe from the
// facade); Shutdown then ends the facade, whose pool ends each running job
// for its listener and only then closes the workers' endpoints, failing
// their blocked sends (the loop must still be running its endpoints then:
// a loop quit first fails a worker's last send early and the worker frees
// its job while the pool still reports it); the facade stores the traffic
// totals and "AbnormalOutFlag" 0; then the loop quits, and the bridge and
// the loop go.
//
// Threading: UI thread only.
#ifndef QUILL_APP_APPLICATION_H_
#define QUILL_APP_APPLICATION_H_

#include <memory>
#include <string>
#include <vector>

#include "engine/connection_backend.h"
#include "facade/mail_service.h"
#include "platform/message_loop.h"
#include "ui/loop_bridge.h"

namespace quill {
namespace app {

class Application {
 public:
  Application();
  ~Application();
  Application(const Application&) = delete;
  Application& operator=(const Application&) = delete;

  // Makes the facade over data_dir. gateway_config, when not empty, is
  // copied into data_dir as its "gateway.cfg" first. False with *why when
  // the data directory or the gateway configuration is unusable.
  bool Start(const std::string& data_dir, const std::string& gateway_config, std::string* why);

  MessageLoop* loop() { return loop_.get(); }
  facade::MailService* service() { return service_.get(); }
  // The connection manager's destinations, by index, for the login screen.
  std::vector<std::u16string> Destinations();

  // Ends the facade (pool, totals), then quits and ends the loop and its
  // bridge. Idempotent.
  void Shutdown();

  // The running program's directory with its trailing '/'.
  static std::u16string ProgramDir();

 private:
  std::unique_ptr<MessageLoop> loop_;
  std::unique_ptr<ui::LoopBridge> bridge_;
  engine::LinuxConnectionBackend backend_;
  std::unique_ptr<facade::MailService> service_;
};

}  // namespace app
}  // namespace quill

#endif  // QUILL_APP_APPLICATION_H_
