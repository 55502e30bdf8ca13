#include "gateway/gateway_server.h"

#include <httplib.h>

#include <optional>

#include "gateway/key_store.h"
#include "gateway/stat_command.h"
#include "gateway/update_commands.h"
#include "platform/utf.h"
#include "protocol/codec_status.h"
#include "protocol/envelope.h"
#include "protocol/message_heads.h"
#include "protocol/message_type.h"
#include "protocol/response_wrapper.h"

namespace quill {
namespace gateway {
namespace {

constexpr char kAuthCommand[] = "auth";
constexpr char kContentType[] = "application/octet-stream";
// Requests carry at most an upload piece; anything larger is refused.
constexpr size_t kMaxRequestBytes = 1 << 20;
// Not a codec image: '<' is no mode byte.
constexpr char kGarbage[] = "<html>garbage, not a response</html>";

Bytes Wrapper(int32_t result) {
  Bytes out;
  protocol::WriteWrapper(result, ByteView(), &out);
  return out;
}

// The response sealed in a wrapper with result 0, or the failed wrapper.
Bytes Seal(protocol::WireMessage* response, ByteView key, const ByteView* ticket) {
  Bytes packed, body;
  if (response->Pack(&packed) != protocol::CodecOk ||
      protocol::WrapResponse(packed, key, ticket, &body) != protocol::kEnvOk) {
    return Wrapper(kWrapperRequestFailed);
  }
  return body;
}

}  // namespace

std::string AccountsPath(const std::string& state_dir) {
  return state_dir + "/" + kAccountsFileName;
}

std::string MailboxRoot(const std::string& state_dir) { return state_dir + "/accounts"; }

std::string MaildirPath(const std::string& state_dir, const std::string& account) {
  return MailboxRoot(state_dir) + "/" + account + "/Maildir";
}

GatewayServer::GatewayServer(GatewayOptions options, FileSystem* fs)
    : options_(std::move(options)),
      fs_(fs),
      sessions_(options_.session_lifetime),
      mailboxes_(fs, options_.state_dir),
      contents_(fs),
      stats_(options_.state_dir + "/" + kStatsFileName),
      updates_(fs, options_.state_dir) {
  // One line per session command.
  Register(std::make_unique<SyncCommand>(&mailboxes_));
  Register(std::make_unique<BriefCommand>(&mailboxes_));
  Register(std::make_unique<BodyCommand>(&mailboxes_));
  Register(std::make_unique<AttachCommand>(&mailboxes_, &contents_));
  Register(std::make_unique<ImageCommand>(&mailboxes_, &contents_, options_.allow_remote_images));
  Register(std::make_unique<LongMailCommand>(fs, options_.state_dir, &accounts_, &relay_,
                                             &mailboxes_));
  Register(std::make_unique<StatInfoCommand>(&stats_));
  Register(std::make_unique<QueryUpdateCommand>(&updates_));
  Register(std::make_unique<UpdatePackCommand>(&updates_));
}

void GatewayServer::Register(std::unique_ptr<SessionCommand> command) {
  commands_[protocol::CommandName(static_cast<uint16_t>(command->type()))] = std::move(command);
}

GatewayServer::~GatewayServer() { Stop(); }

std::unique_ptr<SessionCommand> GatewayServer::AddSessionCommand(
    const std::string& name, std::unique_ptr<SessionCommand> command) {
  commands_[name].swap(command);
  return command;
}

bool GatewayServer::LoadState(std::string* error) {
  const std::string& dir = options_.state_dir;
  if (!fs_->MakeDirs(MailboxRoot(dir))) {
    *error = dir + ": the state directory cannot be created";
    return false;
  }
  if (!LoadOrCreateServerKey(fs_, dir + "/" + kServerKeyFileName, &key_, error) ||
      !accounts_.Load(fs_, AccountsPath(dir), error) ||
      !LoadRelayConfig(fs_, dir + "/" + kRelayConfigFileName, &relay_, error)) {
    return false;
  }
  AuthPolicy policy;
  policy.mailbox_root = MailboxRoot(dir);
  policy.min_client_version = options_.min_client_version;
  policy.updates = &updates_;
  auth_ = std::make_unique<AuthService>(&accounts_, &sessions_, fs_, policy);
  return true;
}

std::vector<std::string> GatewayServer::CommandNames() const {
  std::vector<std::string> names = {kAuthCommand};
  for (const auto& [name, command] : commands_) names.push_back(name);
  return names;
}

bool GatewayServer::Start(std::string* error) {
  const std::string& dir = options_.state_dir;
  if (!LoadState(error)) return false;

  http_ = std::make_unique<httplib::Server>();
  const size_t threads = options_.threads;
  http_->new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
  // Without it every small response waits for the client's delayed ACK.
  http_->set_tcp_nodelay(true);
  http_->set_keep_alive_max_count(1000000);
  http_->set_keep_alive_timeout(options_.keep_alive_seconds);
  http_->set_payload_max_length(kMaxRequestBytes);
  // The library's default also sets SO_REUSEPORT, which would let a second
  // gateway share a busy port silently.
  http_->set_socket_options([](socket_t sock) {
    int yes = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  });
  http_->Post(R"(/cgi-bin/rb-bin/([A-Za-z0-9_]+))",
              [this](const httplib::Request& req, httplib::Response& res) { Handle(req, &res); });

  port_ = options_.port == 0 ? http_->bind_to_any_port(options_.host)
                             : (http_->bind_to_port(options_.host, options_.port) ? options_.port
                                                                                  : -1);
  if (port_ <= 0) {
    *error = "cannot listen on " + options_.host + ":" + std::to_string(options_.port) +
             " (address in use or not available)";
    http_.reset();
    return false;
  }
  client_config_ = ClientConfig{options_.host, port_, key_.ModulusHex(), key_.ExponentHex()};
  if (!WriteClientConfig(fs_, dir + "/" + kClientConfigFileName, client_config_)) {
    *error = dir + "/" + kClientConfigFileName + ": cannot be written";
    http_.reset();
    return false;
  }
  {
    std::lock_guard<std::mutex> lock(stop_mu_);
    stopping_ = false;
  }
  listener_done_ = false;
  listener_ = std::thread([this] {
    http_->listen_after_bind();
    listener_done_ = true;
  });
  // A stop before the listener runs would be lost and its join would hang.
  while (!http_->is_running() && !listener_done_) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

void GatewayServer::Stop() {
  {
    std::lock_guard<std::mutex> lock(stop_mu_);
    stopping_ = true;
  }
  stop_cv_.notify_all();
  if (http_ != nullptr) http_->stop();
  if (listener_.joinable()) listener_.join();
  http_.reset();
}

bool GatewayServer::Delay(int32_t ms) {
  std::unique_lock<std::mutex> lock(stop_mu_);
  return !stop_cv_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopping_; });
}

bool GatewayServer::AnswerRequest(const std::string& command, const Fault& fault, ByteView body,
                                  Bytes* out) {
  if (command == kAuthCommand) {
    *out = AnswerAuth(fault, body);
  } else {
    auto it = commands_.find(command);
    if (it == commands_.end()) return false;
    *out = AnswerSession(it->second.get(), fault, body);
  }
  if (out->size() > kMaxResponseBytes) *out = Wrapper(kWrapperRequestFailed);
  return true;
}

void GatewayServer::Handle(const httplib::Request& req, httplib::Response* res) {
  const std::string command = req.matches[1];
  if (command != kAuthCommand && commands_.count(command) == 0) {
    res->status = 404;
    return;
  }
  const Fault fault = faults_.For(command);
  if (fault.mode == FaultMode::kDelay && !Delay(fault.argument)) {
    res->status = 503;
    return;
  }
  if (fault.mode == FaultMode::kHttp500) {
    res->status = 500;
    return;
  }
  if (fault.mode == FaultMode::kGarbage) {
    res->set_content(kGarbage, kContentType);
    return;
  }
  if (fault.mode == FaultMode::kCut) {
    // The request was read whole; the connection closes before an answer.
    res->set_content_provider(1, kContentType, [](size_t, size_t, httplib::DataSink&) { return false; });
    return;
  }
  Bytes answer;
  AnswerRequest(command, fault, ByteView(req.body), &answer);
  auto shared = std::make_shared<const std::string>(ByteView(answer).ToString());
  if (fault.mode == FaultMode::kDrop) {
    // Announce every byte, send half, then fail the provider: the server
    // closes the connection with the body incomplete.
    res->set_content_provider(shared->size(), kContentType,
                              [shared](size_t, size_t, httplib::DataSink& sink) {
                                sink.write(shared->data(), shared->size() / 2);
                                return false;
                              });
    return;
  }
  res->set_content(*shared, kContentType);
}

Bytes GatewayServer::AnswerAuth(const Fault& fault, ByteView body) {
  Bytes packed, ticket;
  protocol::WireMessage request;
  if (protocol::OpenRequest(body, &key_, ByteView(), &packed, &ticket) !=
          protocol::kEnvOk ||
      request.Unpack(packed.data(), static_cast<int64_t>(packed.size())) != protocol::CodecOk) {
    return Wrapper(kWrapperRequestFailed);
  }
  std::optional<int32_t> forced;
  if (fault.mode == FaultMode::kResult) forced = fault.argument;
  const AuthAnswer answer = auth_->Decide(request, forced);
  // Without a password there is no key the client could open an answer with.
  if (!answer.has_password) return Wrapper(kWrapperRequestFailed);
  const std::string key = protocol::NarrowLoginKey(Utf8ToUtf16(answer.password));
  if (key.empty()) return Wrapper(kWrapperRequestFailed);
  protocol::WireMessage response;
  if (!auth_->Encode(answer, &response)) return Wrapper(kWrapperRequestFailed);
  if (!answer.session.has_value()) return Seal(&response, ByteView(key), nullptr);
  const ByteView new_ticket(answer.session->ticket);
  return Seal(&response, ByteView(key), &new_ticket);
}

Bytes GatewayServer::AnswerSession(SessionCommand* command, const Fault& fault,
                                   ByteView body) {
  Bytes echoed;
  GatewaySession session;
  if (protocol::ReadTicket(body, &echoed) != protocol::kEnvOk ||
      !sessions_.Find(echoed, &session)) {
    return Wrapper(protocol::kSessionKeyError);
  }
  if (fault.mode == FaultMode::kExpire) {
    sessions_.Expire(echoed);
    return Wrapper(protocol::kSessionKeyError);
  }
  Bytes packed, ticket;
  protocol::WireMessage request;
  if (protocol::OpenRequest(body, nullptr, ByteView(session.session_key), &packed,
                            &ticket) != protocol::kEnvOk ||
      request.Unpack(packed.data(), static_cast<int64_t>(packed.size())) != protocol::CodecOk ||
      request.GetType() != static_cast<uint16_t>(command->type())) {
    return Wrapper(kWrapperRequestFailed);
  }
  protocol::WireMessage response;
  if (fault.mode == FaultMode::kResult) {
    response.SetType(command->type());
    if (response.Body().PutInt(1, fault.argument) != protocol::CodecOk) {
      return Wrapper(kWrapperRequestFailed);
    }
  } else if (fault.mode == FaultMode::kRefuse) {
    if (!command->Refuse(fault.argument, &response)) return Wrapper(kWrapperRequestFailed);
  } else if (!command->Answer(session, request, &response)) {
    return Wrapper(kWrapperRequestFailed);
  }
  response.SetUin(session.uin);
  return Seal(&response, ByteView(session.session_key), nullptr);
}

}  // namespace gateway
}  // namespace quill
