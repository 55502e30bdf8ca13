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

// The steps every exchange shares. Each failing step is reported once,
// through Fail, and the exchange stops there.
class Exchange {
 public:
  // The session is read once: every request of the exchange is sealed,
  // and every answer opened, with the same key, even when a login or a
  // session reset replaces it meanwhile.
  Exchange(const ExchangeContext& context, const ExchangeRequest& request, JobReporter* reporter)
      : context_(context),
        request_(request),
        reporter_(reporter),
        session_(request.mode == ExchangeMode::kLogin ? SessionSnapshot()
                                                      : context.account->session()) {}

  // Connection, daily limit, session and connect. kDelivered means "open".
  ExchangeOutcome Open();
  // Builds the body with encode, POSTs it to path and reads the response
  // into *response: kDelivered. kFailed when a step failed (reported);
  // kCancelled, without a report, when the job was cancelled meanwhile.
  template <typename Encode>
  ExchangeOutcome Post(const std::string& path, Encode encode, Bytes* response);
  // Unwraps *body into *message. A -3 session answer leaves *session_error
  // set and returns true. False: step 6 (not yet reported).
  bool Unwrap(Bytes* body, protocol::WireMessage* message, bool* session_error);

  ExchangeOutcome Fail(uint32_t error, uint32_t step, bool hang_up);
  // The pooled connection goes back once the exchange ended cleanly.
  void KeepConnection();
  // Every byte of the last request went out.
  bool request_delivered() const { return request_delivered_; }

 private:
  bool Seal(Bytes* packed);

  const ExchangeContext& context_;
  const ExchangeRequest& request_;
  JobReporter* const reporter_;
  const SessionSnapshot session_;               // the key of every request and answer
  std::unique_ptr<HttpSession> http_;           // step 1
  std::unique_ptr<HttpConnection> connection_;  // step 2
  bool request_delivered_ = false;              // the last request's body went out whole
};

ExchangeOutcome Exchange::Fail(uint32_t error, uint32_t step, bool hang_up) {
  if (const char* message = StepMessage(step)) WriteLog(kNetworkLog, message, error, step);
  if (hang_up) context_.connections->HangUp();
  reporter_->SendError(error, step);
  return ExchangeOutcome::kFailed;
}

ExchangeOutcome Exchange::Open() {
  const NetworkType type = EnsureConnection(context_, request_);
  if (type == kNetNone) {
    if (request_.mode != ExchangeMode::kLogin) return ExchangeOutcome::kNoConnection;
    reporter_->SendError(GetLastError(), kStepNoConnection);
    return ExchangeOutcome::kFailed;
  }
  if (request_.mode == ExchangeMode::kSync && context_.budget != nullptr &&
      context_.budget->Reached()) {
    return Fail(0, kStepFlowLimit, false);
  }
  // Step 1: the session, direct or through the WAP proxy.
  HttpOptions options = context_.http;
  options.body_limit = kResponseLimit;
  const InternetAccess access = context_.connections->OpenInternet(type);
  if (!access.direct) {
    options.proxy = context_.gateway->proxy.empty() ? access.proxy + ":80" : context_.gateway->proxy;
  }
  http_ = std::make_unique<HttpSession>(options);
  // Step 2.
  const GatewayConfig& gateway = *context_.gateway;
  connection_ = context_.http_cache != nullptr
                    ? context_.http_cache->Take(*http_, gateway.host, gateway.port)
                    : http_->Connect(gateway.host, gateway.port);
  if (!connection_) return Fail(GetLastError(), kStepConnect, true);
  return ExchangeOutcome::kDelivered;
}

bool Exchange::Seal(Bytes* packed) {
  protocol::RequestKeys keys;
  if (request_.mode == ExchangeMode::kLogin) {
    keys.public_key = context_.gateway->public_key();
  } else {
    keys.use_session = true;
    keys.session_key = ByteView(session_.session_key);
    keys.ticket = context_.account->ticket();
  }
  return protocol::WrapRequest(packed, keys) == 0;
}

template <typename Encode>
ExchangeOutcome Exchange::Post(const std::string& path, Encode encode, Bytes* response) {
  const bool counts_daily = request_.mode == ExchangeMode::kSync;
  // The body is built before anything goes on the network, and never sent
  // when building failed.
  Bytes body;
  protocol::WireMessage message;
  if (!encode(&message) || message.Pack(&body) != 0 || !Seal(&body)) {
    return Fail(kHttpErrorInternal, kStepSend, false);
  }
  // Step 3.
  std::unique_ptr<HttpRequest> http = connection_->OpenRequest(path);
  if (!http) return Fail(GetLastError(), kStepOpenRequest, true);
  // Step 4. A cancelled job (its operation replaced, the service going
  // away) stops its transfer within about a second and reports nothing:
  // nobody waits for it.
  request_delivered_ = false;
  const bool sent = http->Send(ByteView(body), [this] { return reporter_->ShouldContinue(); });
  request_delivered_ = http->body_delivered();
  if (!sent) {
    const uint32_t error = GetLastError();
    http.reset();
    connection_.reset();
    if (error == kHttpErrorCancelled) return ExchangeOutcome::kCancelled;
    return Fail(error, kStepSend, true);
  }
  context_.account->AddSent(body.size(), counts_daily);
  // Step 5: one fixed buffer, filled until the body ends or it is full.
  response->resize(kResponseLimit);
  size_t filled = 0;
  while (filled < response->size()) {
    size_t got = 0;
    if (!http->Read(response->data() + filled, response->size() - filled, &got)) {
      const uint32_t error = GetLastError();
      http.reset();
      connection_.reset();
      if (error == kHttpErrorCancelled) return ExchangeOutcome::kCancelled;
      return Fail(error, kStepReadBody, false);
    }
    if (got == 0) break;
    filled += got;
  }
  response->resize(filled);
  context_.account->AddReceived(filled, counts_daily);
  return ExchangeOutcome::kDelivered;
}

bool Exchange::Unwrap(Bytes* body, protocol::WireMessage* message, bool* session_error) {
  const bool login = request_.mode == ExchangeMode::kLogin;
  const std::string& key = login ? request_.login_key : session_.session_key;
  int32_t result = 0;
  *session_error = false;
  if (protocol::UnwrapResponse(body, ByteView(key), context_.account->ticket(), &result) != 0) {
    return false;
  }
  if (result == protocol::kSessionKeyError) {
    // The login has no session to lose: a -3 wrapper is a failed decode.
    if (login) return false;
    *session_error = true;
    return true;
  }
  return message->Unpack(body->data(), static_cast<int64_t>(body->size())) == 0;
}

void Exchange::KeepConnection() {
  if (context_.http_cache != nullptr && connection_) {
    context_.http_cache->Give(*http_, context_.gateway->host, context_.gateway->port,
                              std::move(connection_));
  }
}

// The partial file of a download: deleted with its version file when the
// download ends, unless it completed, Keep was called or the target keeps it.
class PartialFile {
 public:
  explicit PartialFile(const DownloadTarget& target) : target_(target) {}
  ~PartialFile() {
    file_.reset();
    if (kept_) return;
    target_.fs->Delete(target_.partial_path);
    if (!target_.version_path.empty()) target_.fs->Delete(target_.version_path);
  }
  bool Open() {
    file_ = target_.fs->Open(target_.partial_path, FileSystem::OpenMode::kCreate, 0600);
    return file_ != nullptr && file_->Truncate(target_.start_offset);
  }
  bool Write(uint64_t offset, const Bytes& piece) {
    return file_->WriteAt(offset, piece.data(), piece.size());
  }
  // Drops every byte held (the file changed on the gateway).
  bool Restart() { return file_->Truncate(0); }
  // Sync, close and rename to final_path; the file is kept from then on.
  bool Complete(const std::string& final_path) {
    const bool synced = file_->Sync();
    file_.reset();
    if (!synced) return false;
    if (!final_path.empty() && !target_.fs->Rename(target_.partial_path, final_path)) {
      return false;
    }
    kept_ = true;
    if (!target_.version_path.empty()) target_.fs->Delete(target_.version_path);
    return true;
  }
  // The download stopped for a passing reason: a resumable target keeps
  // what it holds.
  void KeepIfResumable() { kept_ = kept_ || target_.resumable; }

 private:
  const DownloadTarget& target_;
  std::unique_ptr<File> file_;  // open while the download runs
  bool kept_ = false;           // completed, or kept for resuming: not deleted
};

// The steps of one exchange after its Exchange was made; reports through
// the exchange's reporter.
ExchangeOutcome RunExchangeSteps(Exchange* exchange_ptr, ExchangeCommand* command,
                                 JobReporter* reporter) {
  Exchange& exchange = *exchange_ptr;
  const ExchangeOutcome opened = exchange.Open();
  if (opened != ExchangeOutcome::kDelivered) return opened;
  Bytes response;
  auto encode = [command](protocol::WireMessage* m) { return command->EncodeRequest(m); };
  const ExchangeOutcome posted = exchange.Post(command->RequestPath(), encode, &response);
  if (posted != ExchangeOutcome::kDelivered) return posted;
  exchange.KeepConnection();
  // Step 6.
  protocol::WireMessage message;
  bool session_error = false;
  std::unique_ptr<JobResult> result;
  if (exchange.Unwrap(&response, &message, &session_error)) {
    result = session_error ? std::make_unique<SessionKeyErrorResult>()
                           : command->DecodeResponse(message);
  }
  if (!result) return exchange.Fail(kHttpErrorInvalidResponse, kStepDecodeBody, false);
  reporter->SendData(std::move(result));
  return ExchangeOutcome::kDelivered;
}

// Records the one report of an exchange instead of sending it; asks the
// job whether to go on.
class AttemptRecorder : public JobReporter {
 public:
  AttemptRecorder(ExchangeAttempt* attempt, const JobReporter* job) : attempt_(attempt), job_(job) {}
  bool ShouldContinue() const override { return job_->ShouldContinue(); }
  bool SendError(uint32_t system_error, uint32_t step) override {
    attempt_->error = system_error;
    attempt_->step = step;
    return true;
  }
  bool SendData(std::unique_ptr<JobResult> response, uintptr_t) override {
    attempt_->result = std::move(response);
    return true;
  }
  bool SendPercent(std::unique_ptr<JobResult>) override { return false; }

 private:
  ExchangeAttempt* const attempt_;
  const JobReporter* const job_;
};

}  // namespace

ExchangeOutcome RunExchange(const ExchangeContext& context, const ExchangeRequest& request,
                            ExchangeCommand* command, JobReporter* reporter) {
  Exchange exchange(context, request, reporter);
  return RunExchangeSteps(&exchange, command, reporter);
}

ExchangeAttempt ExchangeOnce(const ExchangeContext& context, const ExchangeRequest& request,
                             ExchangeCommand* command, const JobReporter* job) {
  ExchangeAttempt attempt;
  AttemptRecorder recorder(&attempt, job);
  Exchange exchange(context, request, &recorder);
  attempt.outcome = RunExchangeSteps(&exchange, command, &recorder);
  attempt.request_delivered = exchange.request_delivered();
  return attempt;
}

std::string ChunkedDownloadCommand::FinalPath(const DownloadTarget& target) const {
  return target.final_path;
}

ExchangeOutcome RunChunkedDownload(const ExchangeContext& context, ChunkedDownloadCommand* command,
                                   const DownloadTarget& target, JobReporter* reporter) {
  const ExchangeRequest request;  // session mode
  Exchange exchange(context, request, reporter);
  const ExchangeOutcome opened = exchange.Open();
  if (opened != ExchangeOutcome::kDelivered) return opened;
  PartialFile file(target);
  if (!file.Open()) return exchange.Fail(GetLastError(), target.file_step, false);
  // The answer contradicts the bytes held: the file goes, and the report is
  // the command's message for it, else a decode failure.
  auto contradicted = [&](std::unique_ptr<JobResult> message) {
    if (message == nullptr) return exchange.Fail(kHttpErrorInvalidResponse, kStepDecodeBody, false);
    exchange.KeepConnection();
    reporter->SendData(std::move(message));
    return ExchangeOutcome::kDelivered;
  };
  uint64_t offset = target.start_offset;
  bool total_known = target.total_known;
  uint64_t total = target.known_total;
  int restarts = 0;
  for (;;) {
    if (!reporter->ShouldContinue()) {
      file.KeepIfResumable();
      return ExchangeOutcome::kCancelled;
    }
    Bytes response;
    auto encode = [command, offset](protocol::WireMessage* m) {
      return command->EncodeChunk(offset, m);
    };
    const ExchangeOutcome posted = exchange.Post(command->RequestPath(), encode, &response);
    if (posted != ExchangeOutcome::kDelivered) {
      file.KeepIfResumable();
      return posted;
    }
    protocol::WireMessage message;
    bool session_error = false;
    ChunkReply reply;
    if (!exchange.Unwrap(&response, &message, &session_error) ||
        (!session_error && !command->DecodeChunk(message, &reply))) {
      file.KeepIfResumable();
      return exchange.Fail(kHttpErrorInvalidResponse, kStepDecodeBody, false);
    }
    if (session_error) {
      file.KeepIfResumable();
      exchange.KeepConnection();
      reporter->SendData(std::make_unique<SessionKeyErrorResult>());
      return ExchangeOutcome::kDelivered;
    }
    if (reply.result != 0) {
      exchange.KeepConnection();
      reporter->SendData(std::move(reply.message));
      return ExchangeOutcome::kDelivered;
    }
    if (reply.kind == ChunkReply::Kind::kRestart) {
      if (restarts++ >= target.max_restarts) return contradicted(std::move(reply.message));
      if (!file.Restart()) return exchange.Fail(GetLastError(), target.file_step, false);
      offset = 0;
      total_known = false;
      continue;
    }
    if (reply.has_total) {
      // A total must stay what it was and hold what is held already.
      if (reply.total > target.max_total || reply.total < offset ||
          (total_known && reply.kind == ChunkReply::Kind::kPiece && reply.total != total)) {
        return contradicted(nullptr);
      }
      total = reply.total;
      total_known = true;
    }
    if (reply.kind == ChunkReply::Kind::kAtEnd) {
      if (!total_known || offset != total) return contradicted(std::move(reply.message));
    } else {
      // A piece must start at the bytes held, move the offset forward and
      // stay within the total, or the download could loop or grow without end.
      if (reply.has_offset && reply.offset != offset) {
        if (target.offset_step == 0) return contradicted(nullptr);
        return exchange.Fail(kHttpErrorInvalidResponse, target.offset_step, false);
      }
      if (!reply.has_total || reply.piece.size() > total - offset ||
          (reply.piece.empty() && offset != total)) {
        return contradicted(nullptr);
      }
      if (!reply.piece.empty() && !file.Write(offset, reply.piece)) {
        return exchange.Fail(GetLastError(), target.file_step, false);
      }
      offset += reply.piece.size();
    }
    if (offset == total) {
      if (!file.Complete(command->FinalPath(target))) {
        return exchange.Fail(GetLastError(), target.file_step, false);
      }
      exchange.KeepConnection();
      reporter->SendData(command->Finished(total));
      return ExchangeOutcome::kDelivered;
    }
    if (std::unique_ptr<JobResult> progress = command->Progress(offset, total)) {
      reporter->SendPercent(std::move(progress));
    }
  }
}

}  // namespace engine
}  // namespace quill
