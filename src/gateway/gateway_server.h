// The gateway: the service side of every command, over real HTTP.
//
// POST /cgi-bin/rb-bin/<command> with a sealed request; every other method
// or path, and an unknown command, is 404. "auth" opens the public-key
// seal with the gateway's private key and answers sealed with the key the
// client derives from its password; every other command finds its session
// by the ticket the request echoes and answers sealed with the session key,
// or with the bare wrapper result -3 when the session is unknown or expired.
// A request the gateway cannot open gets the wrapper result 1. No response
// body exceeds 20480 bytes.
//
// State directory: "server.key", "accounts.cfg", "client.cfg", the
// optional "relay.cfg" (mail_transport.h), the mailboxes under
// "accounts/NAME/Maildir/", the deliveries of "sendlongmail"
// ("deliveries.db", "spool/"), the statistics uploads in "stats.db" and
// the published client update under "updates/".
//
// Threading: Start and Stop from one controlling thread; requests are
// served on a pool of threads; faults(), sessions() may be used from any
// thread while serving.
#ifndef QUILL_GATEWAY_GATEWAY_SERVER_H_
#define QUILL_GATEWAY_GATEWAY_SERVER_H_

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "gateway/account_book.h"
#include "gateway/attach_command.h"
#include "gateway/auth_service.h"
#include "gateway/client_config.h"
#include "gateway/fault_plan.h"
#include "gateway/long_mail_command.h"
#include "gateway/mail_commands.h"
#include "gateway/mail_transport.h"
#include "gateway/sync_command.h"
#include "gateway/session_command.h"
#include "gateway/session_table.h"
#include "gateway/stats_store.h"
#include "gateway/update_shelf.h"
#include "platform/crypto.h"
#include "platform/file_system.h"

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

namespace quill {
namespace gateway {

// The most a response body may hold: the client reads no more.
constexpr size_t kMaxResponseBytes = 20480;
// Wrapper result of a request that could not be opened or answered.
constexpr int32_t kWrapperRequestFailed = 1;

struct GatewayOptions {
  std::string state_dir;                  // created on first start
  std::string host = "127.0.0.1";         // address to listen on
  int port = 0;                           // 0: any free port
  uint32_t min_client_version = 0;        // older clients are told to upgrade (-8)
  std::chrono::seconds session_lifetime{3600};
  // Request threads. A kept-alive client connection holds one thread while
  // it lasts, so this bounds the connections served at once; idle ones are
  // closed after keep_alive_seconds and give their thread back.
  size_t threads = 32;
  int keep_alive_seconds = 5;
  // Fetch the http: and https: images a mail refers to for the client;
  // off, they are refused (tracking pixels tell a sender the mail was read).
  bool allow_remote_images = false;
};

// Paths inside a state directory.
std::string AccountsPath(const std::string& state_dir);
std::string MailboxRoot(const std::string& state_dir);
std::string MaildirPath(const std::string& state_dir, const std::string& account);

class GatewayServer {
 public:
  explicit GatewayServer(GatewayOptions options, FileSystem* fs = DefaultFileSystem());
  ~GatewayServer();  // stops serving
  GatewayServer(const GatewayServer&) = delete;
  GatewayServer& operator=(const GatewayServer&) = delete;

  // Adds a session command, or replaces a built-in one (sync,
  // getmailbrief, getmailbody, getmailattach, getmailimg, sendlongmail); only before Start. Returns the command
  // replaced (null when there was none), so a test can wrap a built-in.
  std::unique_ptr<SessionCommand> AddSessionCommand(const std::string& name,
                                                    std::unique_ptr<SessionCommand> command);

  // Loads (or creates) the key pair and loads the accounts; Start does it
  // first. False with a message when the state is unusable.
  bool LoadState(std::string* error);

  // Loads the state, binds, writes "client.cfg" and serves on a thread of
  // its own. False with a message when the state is unusable or the address
  // cannot be bound.
  bool Start(std::string* error);
  // Stops accepting, ends the delays in progress and joins every thread.
  // Safe to call twice.
  void Stop();

  // The whole request path below HTTP, as every POST is served: the
  // response body (a wrapper) for a request body POSTed to `command`, with
  // `fault` forcing a result or expiring the session (the transport faults
  // are HTTP's). False, with nothing answered, for a command not served.
  // Needs LoadState; may run on any thread while serving.
  bool AnswerRequest(const std::string& command, const Fault& fault, ByteView body, Bytes* out);
  // The names of the commands served: "auth", then the session commands.
  std::vector<std::string> CommandNames() const;

  int port() const { return port_; }
  const std::string& host() const { return options_.host; }
  const ClientConfig& client_config() const { return client_config_; }
  FaultPlan* faults() { return &faults_; }
  SessionTable* sessions() { return &sessions_; }

 private:
  // Serves a session command under its message type's name.
  void Register(std::unique_ptr<SessionCommand> command);
  void Handle(const httplib::Request& req, httplib::Response* res);
  Bytes AnswerAuth(const Fault& fault, ByteView body);
  Bytes AnswerSession(SessionCommand* command, const Fault& fault, ByteView body);
  // Sleeps `ms` unless Stop comes first; false when stopped.
  bool Delay(int32_t ms);

  const GatewayOptions options_;
  FileSystem* const fs_;
  crypto::RsaKeyPair key_;          // loaded in LoadState
  AccountBook accounts_;            // loaded in LoadState, read-only while serving
  SmtpRelay relay_;                 // "relay.cfg", loaded in LoadState
  SessionTable sessions_;
  FaultPlan faults_;
  std::unique_ptr<AuthService> auth_;  // made in LoadState
  MailboxSet mailboxes_;            // the accounts' Maildirs
  MailContentCache contents_;       // parts of the mails served last
  StatsStore stats_;                // the statistics uploads
  UpdateShelf updates_;             // the published client update
  std::map<std::string, std::unique_ptr<SessionCommand>> commands_;  // fixed while serving
  ClientConfig client_config_;      // written in Start
  int port_ = 0;                    // bound port
  std::unique_ptr<httplib::Server> http_;
  std::thread listener_;
  std::atomic<bool> listener_done_{false};  // set when the listener thread returns

  std::mutex stop_mu_;
  std::condition_variable stop_cv_;
  bool stopping_ = false;  // guarded by stop_mu_
};

}  // namespace gateway
}  // namespace quill

#endif  // QUILL_GATEWAY_GATEWAY_SERVER_H_
