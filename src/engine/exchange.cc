#include "engine/exchange.h"

#include <utility>

#include "engine/trace.h"
#include "platform/last_error.h"
#include "protocol/envelope.h"
#include "protocol/message_heads.h"

namespace quill {
namespace engine {

int32_t SessionKeyErrorResult::ResultCode() const { return protocol::kSessionKeyError; }

namespace {

// Ensures a connection; the type it has, kNetNone when there is none.
NetworkType EnsureConnection(const ExchangeContext& context, const ExchangeRequest& request) {
  ConnectionManager* cm = context.connections;
  const std::string& host = context.gateway->host;
  if (request.mode == ExchangeMode::kLogin && request.access_point != cm->destination()) {
    return cm->DialUpEx(request.access_point, host, std::string());
  }
  if (cm->DetectConnected()) {
    const NetworkType type = cm->current_type();
    return type == kNetNone ? kNetInternet : type;
  }
  return cm->DialUpAny(host, std::string());
}

// One exchange's reporting and clean-up.
class Exchange {
 public:
  Exchange(const ExchangeContext& context, const ExchangeRequest& request,
           ExchangeCommand* command, JobReporter* reporter)
      : context_(context), request_(request), command_(command), reporter_(reporter) {}

  ExchangeOutcome Run();

 private:
  ExchangeOutcome Fail(uint32_t error, uint32_t step, bool hang_up);
  bool BuildBody(Bytes* body);
  std::unique_ptr<JobResult> Decode(Bytes* body);
  void KeepConnection();

  const ExchangeContext& context_;
  const ExchangeRequest& request_;
  ExchangeCommand* const command_;
  JobReporter* const reporter_;
  std::unique_ptr<HttpSession> session_;        // step 1
  std::unique_ptr<HttpConnection> connection_;  // step 2; back to the cache when clean
};

ExchangeOutcome Exchange::Fail(uint32_t error, uint32_t step, bool hang_up) {
  if (const char* message = StepMessage(step)) WriteLog(kNetworkLog, message, error, step);
  if (hang_up) context_.connections->HangUp();
  reporter_->SendError(error, step);
  return ExchangeOutcome::kFailed;
}

bool Exchange::BuildBody(Bytes* body) {
  protocol::WireMessage message;
  if (!command_->EncodeRequest(&message)) return false;
  if (message.Pack(body) != 0) return false;
  protocol::RequestKeys keys;
  SessionSnapshot session;
  if (request_.mode == ExchangeMode::kLogin) {
    keys.public_key = context_.gateway->public_key();
  } else {
    session = context_.account->session();
    keys.use_session = true;
    keys.session_key = ByteView(session.session_key);
    keys.ticket = context_.account->ticket();
  }
  return protocol::WrapRequest(body, keys) == 0;
}

std::unique_ptr<JobResult> Exchange::Decode(Bytes* body) {
  const bool login = request_.mode == ExchangeMode::kLogin;
  const std::string key = login ? request_.login_key : context_.account->session().session_key;
  int32_t result = 0;
  if (protocol::UnwrapResponse(body, ByteView(key), context_.account->ticket(), &result) != 0) {
    return nullptr;
  }
  if (result == protocol::kSessionKeyError) {
    // The login has no session to lose: a -3 wrapper is a failed decode.
    if (login) return nullptr;
    return std::make_unique<SessionKeyErrorResult>();
  }
  protocol::WireMessage message;
  if (message.Unpack(body->data(), static_cast<int64_t>(body->size())) != 0) return nullptr;
  return command_->DecodeResponse(message);
}

void Exchange::KeepConnection() {
  if (context_.http_cache != nullptr && connection_) {
    context_.http_cache->Give(*session_, context_.gateway->host, context_.gateway->port,
                              std::move(connection_));
  }
}

ExchangeOutcome Exchange::Run() {
  const bool login = request_.mode == ExchangeMode::kLogin;
  const bool counts_daily = request_.mode == ExchangeMode::kSync;
  const NetworkType type = EnsureConnection(context_, request_);
  if (type == kNetNone) {
    if (!login) return ExchangeOutcome::kNoConnection;
    reporter_->SendError(GetLastError(), kStepNoConnection);
    return ExchangeOutcome::kFailed;
  }
  if (counts_daily && context_.budget != nullptr && context_.budget->Reached()) {
    return Fail(0, kStepFlowLimit, false);
  }

  // Step 1: the session, direct or through the WAP proxy.
  HttpOptions options = context_.http;
  options.body_limit = kResponseLimit;
  const InternetAccess access = context_.connections->OpenInternet(type);
  if (!access.direct) {
    options.proxy = context_.gateway->proxy.empty() ? access.proxy + ":80" : context_.gateway->proxy;
  }
  session_ = std::make_unique<HttpSession>(options);

  // Step 2.
  const GatewayConfig& gateway = *context_.gateway;
  connection_ = context_.http_cache != nullptr
                    ? context_.http_cache->Take(*session_, gateway.host, gateway.port)
                    : session_->Connect(gateway.host, gateway.port);
  if (!connection_) return Fail(GetLastError(), kStepConnect, true);

  // The body is built before anything goes on the network, and never sent
  // when building failed.
  Bytes body;
  if (!BuildBody(&body)) return Fail(kHttpErrorInternal, kStepSend, false);

  // Step 3.
  std::unique_ptr<HttpRequest> http = connection_->OpenRequest(command_->RequestPath());
  if (!http) return Fail(GetLastError(), kStepOpenRequest, true);

  // Step 4.
  if (!http->Send(ByteView(body))) {
    http.reset();
    connection_.reset();
    return Fail(GetLastError(), kStepSend, true);
  }
  context_.account->AddSent(body.size(), counts_daily);

  // Step 5: one fixed buffer, filled until the body ends or it is full.
  Bytes response(kResponseLimit);
  size_t filled = 0;
  while (filled < response.size()) {
    size_t got = 0;
    if (!http->Read(response.data() + filled, response.size() - filled, &got)) {
      const uint32_t error = GetLastError();
      http.reset();
      connection_.reset();
      return Fail(error, kStepReadBody, false);
    }
    if (got == 0) break;
    filled += got;
  }
  response.resize(filled);
  context_.account->AddReceived(filled, counts_daily);
  http.reset();
  KeepConnection();

  // Step 6.
  std::unique_ptr<JobResult> result = Decode(&response);
  if (!result) return Fail(kHttpErrorInvalidResponse, kStepDecodeBody, false);
  reporter_->SendData(std::move(result));
  return ExchangeOutcome::kDelivered;
}

}  // namespace

ExchangeOutcome RunExchange(const ExchangeContext& context, const ExchangeRequest& request,
                            ExchangeCommand* command, JobReporter* reporter) {
  return Exchange(context, request, command, reporter).Run();
}

}  // namespace engine
}  // namespace quill
