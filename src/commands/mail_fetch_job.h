// The brief job (job type 3, "getmailbrief") and the body job (job type 5,
// "getmailbody"): one exchange each for one mail, completed by the mail
// service through MailFetchHost.
//
// Threading: made and completed on the UI thread; Run on a worker, which
// reads only the job's own request.
#ifndef QUILL_COMMANDS_MAIL_FETCH_JOB_H_
#define QUILL_COMMANDS_MAIL_FETCH_JOB_H_

#include <cstdint>
#include <memory>
#include <string>

#include "commands/body_message.h"
#include "commands/brief_message.h"
#include "engine/exchange.h"
#include "engine/net_job.h"
#include "protocol/codec_status.h"

namespace quill {
namespace commands {

inline constexpr char kBriefPath[] = "/cgi-bin/rb-bin/getmailbrief";
inline constexpr char kBodyPath[] = "/cgi-bin/rb-bin/getmailbody";

// What the fetch jobs need from the mail service; UI thread only. A
// response whose result is -3 (the session expired) arrives like any other.
class MailFetchHost {
 public:
  virtual ~MailFetchHost() = default;
  virtual void BriefArrived(uint32_t job_id, uint32_t mail_id, const BriefResponse& brief) = 0;
  // `asked_offset`: the offset the job asked for, where the slice is stored.
  virtual void BodyArrived(uint32_t job_id, uint32_t mail_id, int32_t asked_offset,
                           const BodyResponse& body) = 0;
  virtual void FetchFailed(uint32_t job_id, int job_type, uint32_t mail_id, uint32_t system_error,
                           uint32_t step) = 0;
  virtual void FetchAbandoned(uint32_t job_id, int job_type, uint32_t mail_id) = 0;
};

// A decoded response as the UI thread receives it.
template <typename Response>
class FetchResult : public engine::JobResult {
 public:
  int32_t ResultCode() const override { return response.head.result; }
  Response response;  // as decoded; only head.result for -3
};

// What differs between the two jobs.
struct BriefTraits {
  using Request = BriefRequest;
  using Response = BriefResponse;
  static constexpr int kJobType = engine::kJobMailBrief;
  static const char* Path() { return kBriefPath; }
  static bool Encode(const Request& r, protocol::WireMessage* m) { return EncodeBriefRequest(r, m); }
  static int Decode(const protocol::WireMessage& m, Response* r) { return DecodeBriefResponse(m, r); }
  static void Deliver(MailFetchHost* host, uint32_t job_id, uint32_t mail_id, const Request&,
                      const Response& response) {
    host->BriefArrived(job_id, mail_id, response);
  }
};

struct BodyTraits {
  using Request = BodyRequest;
  using Response = BodyResponse;
  static constexpr int kJobType = engine::kJobMailBody;
  static const char* Path() { return kBodyPath; }
  static bool Encode(const Request& r, protocol::WireMessage* m) { return EncodeBodyRequest(r, m); }
  static int Decode(const protocol::WireMessage& m, Response* r) { return DecodeBodyResponse(m, r); }
  static void Deliver(MailFetchHost* host, uint32_t job_id, uint32_t mail_id, const Request& request,
                      const Response& response) {
    host->BodyArrived(job_id, mail_id, request.offset, response);
  }
};

template <typename Traits>
class MailFetchJob : public engine::NetJob, private engine::ExchangeCommand {
 public:
  using Request = typename Traits::Request;
  using Response = typename Traits::Response;

  // context and host must outlive the job.
  MailFetchJob(const engine::ExchangeContext* context, MailFetchHost* host, uint32_t mail_id,
               Request request)
      : context_(context), host_(host), mail_id_(mail_id), request_(std::move(request)) {}

  void Run(engine::WorkerLink& link) override { RunWith(&link); }
  engine::ExchangeOutcome RunWith(engine::JobReporter* reporter) {
    return engine::RunExchange(*context_, engine::ExchangeRequest(), this, reporter);
  }
  int GetJobType() const override { return Traits::kJobType; }
  std::string GetRequestPath() const override { return Traits::Path(); }
  bool CopyRequestTo(engine::NetJob* other) const override {
    auto* same = dynamic_cast<MailFetchJob*>(other);
    if (same == nullptr) return false;
    same->mail_id_ = mail_id_;
    same->request_ = request_;
    return true;
  }
  void RenewSession(const std::string& session_key, uint32_t uin) override {
    request_.head.session_key = session_key;
    request_.head.uin = uin;
  }
  void Abandon() override { host_->FetchAbandoned(job_id(), Traits::kJobType, mail_id_); }
  void OnDataCome(uint32_t job_id, int, engine::JobResult* result, uint32_t) override {
    if (auto* decoded = dynamic_cast<FetchResult<Response>*>(result)) {
      Traits::Deliver(host_, job_id, mail_id_, request_, decoded->response);
      return;
    }
    Response expired;  // the session-key error is the only other response
    expired.head.result = result != nullptr ? result->ResultCode() : protocol::kSessionKeyError;
    Traits::Deliver(host_, job_id, mail_id_, request_, expired);
  }
  void OnError(uint32_t job_id, int, uint32_t system_error, uint32_t step, uint32_t) override {
    host_->FetchFailed(job_id, Traits::kJobType, mail_id_, system_error, step);
  }

  uint32_t mail_id() const { return mail_id_; }
  const Request& request() const { return request_; }

 private:
  std::string RequestPath() const override { return Traits::Path(); }
  bool EncodeRequest(protocol::WireMessage* m) override { return Traits::Encode(request_, m); }
  std::unique_ptr<engine::JobResult> DecodeResponse(const protocol::WireMessage& m) override {
    auto result = std::make_unique<FetchResult<Response>>();
    if (Traits::Decode(m, &result->response) != protocol::CodecOk) return nullptr;
    return result;
  }

  const engine::ExchangeContext* const context_;  // shared by all jobs
  MailFetchHost* const host_;                     // the mail service
  uint32_t mail_id_;                              // the local mail the answer belongs to
  Request request_;                               // as made (ServerID, offset, version)
};

using BriefJob = MailFetchJob<BriefTraits>;
using BodyJob = MailFetchJob<BodyTraits>;

}  // namespace commands
}  // namespace quill

#endif  // QUILL_COMMANDS_MAIL_FETCH_JOB_H_
