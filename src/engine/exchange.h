// One HTTP exchange with the gateway, the same for every command: ensure a
// connection, POST the sealed request to the command's path, read at most
// 20480 response bytes, unwrap and decode, and report exactly one of
// WM_CMD_DATA_COME (the decoded response) or WM_CMD_ERR (platform error,
// failing step) to the job's UI endpoint. The exceptions: a job other
// than the login finds no connection, or any job is cancelled while its
// transfer runs (the transfer stops within about a second); it ends
// without a report, and its job-end notification (worker pool) is then
// all its starter sees.
//
// Steps of WM_CMD_ERR (engine/trace.h): 1 internet session, 2 connect,
// 3 open request, 4 send (also a request body that could not be built:
// nothing is sent, error kHttpErrorInternal, the connection is kept),
// 5 read, 6 decode, 101 no connection (login), 200 daily limit (sync).
// Steps 1 to 4 hang up the connection; 5 and 6 do not.
//
// Threading: runs on a worker thread. The context's members are shared by
// every worker and are thread-safe; the command is the job's own.
#ifndef QUILL_ENGINE_EXCHANGE_H_
#define QUILL_ENGINE_EXCHANGE_H_

#include <cstddef>
#include <cstdint>
#include <climits>
#include <memory>
#include <string>

#include "engine/account_state.h"
#include "engine/connection_manager.h"
#include "engine/gateway_config.h"
#include "engine/http_connection_cache.h"
#include "engine/job_result.h"
#include "engine/net_job.h"
#include "platform/file_system.h"
#include "platform/http_client.h"
#include "protocol/wire_message.h"

namespace quill {
namespace engine {

// The most response body bytes one exchange reads.
constexpr size_t kResponseLimit = 20480;

// What a command adds to the exchange.
class ExchangeCommand {
 public:
  virtual ~ExchangeCommand() = default;
  // e.g. "/cgi-bin/rb-bin/auth"
  virtual std::string RequestPath() const = 0;
  // Fills a fresh request message (type, uin, body). False when it could
  // not be built; nothing is sent then.
  virtual bool EncodeRequest(protocol::WireMessage* request) = 0;
  // The response decoded from the unpacked message; null when it does not
  // decode.
  virtual std::unique_ptr<JobResult> DecodeResponse(const protocol::WireMessage& response) = 0;
};

// The daily transfer limit of the mailbox sync.
class TransferBudget {
 public:
  virtual ~TransferBudget() = default;
  // True when no more sync traffic is allowed today. Any thread.
  virtual bool Reached() = 0;
};

// What every exchange of the process shares. All pointers must outlive the
// exchanges that use them.
struct ExchangeContext {
  ConnectionManager* connections = nullptr;  // required
  const GatewayConfig* gateway = nullptr;    // required
  AccountState* account = nullptr;           // required: session, ticket, counters
  HttpConnectionCache* http_cache = nullptr; // null: a fresh connection per exchange
  HttpOptions http;                          // timeouts; proxy and body limit are set here
  TransferBudget* budget = nullptr;          // sync only; null: no limit
};

enum class ExchangeMode {
  kSession,  // sealed with the session key, the ticket echoed
  kSync,     // kSession, and the bytes count toward the daily limit
  kLogin,    // sealed with the public key; the response with login_key
};

struct ExchangeRequest {
  ExchangeMode mode = ExchangeMode::kSession;
  int access_point = -1;  // login: the destination chosen for this login
  std::string login_key;  // login: NarrowLoginKey of the job's password
};

// How an exchange ended; its report has been sent (or could not be).
enum class ExchangeOutcome {
  kDelivered,     // WM_CMD_DATA_COME
  kFailed,        // WM_CMD_ERR
  kNoConnection,  // a non-login job found no connection: no report
  kCancelled,     // the job was cancelled (its transfer stopped): no report
};

// The response every session command gets when the gateway answers that
// the session key expired: its result is -3.
class SessionKeyErrorResult : public JobResult {
 public:
  int32_t ResultCode() const override;
};

ExchangeOutcome RunExchange(const ExchangeContext& context, const ExchangeRequest& request,
                            ExchangeCommand* command, JobReporter* reporter);

// --- One request of a conversation ---------------------------------------
//
// A job that holds a conversation of several requests (the long-mail
// delivery) runs each through ExchangeOnce: the steps of RunExchange, but
// nothing is reported; the job decides what a failure means, and whether
// the request may be sent again. The transfer stops (kCancelled) when
// `job` says the job should not continue.
struct ExchangeAttempt {
  ExchangeOutcome outcome = ExchangeOutcome::kFailed;  // kDelivered, kFailed, kNoConnection or kCancelled
  std::unique_ptr<JobResult> result;  // kDelivered: the decoded answer, or a -3 result
  uint32_t error = 0;                 // kFailed: the platform error
  uint32_t step = 0;                  // kFailed: the failing step (1-6)
  // kFailed: every byte of the request reached the gateway (the answer was
  // then lost, cut or undecodable), so the gateway may have acted on it.
  bool request_delivered = false;
};

ExchangeAttempt ExchangeOnce(const ExchangeContext& context, const ExchangeRequest& request,
                             ExchangeCommand* command, const JobReporter* job);

// --- Chunked download (attachments, inline images, update packages) ------
//
// One connection serves every chunk; each chunk is one POST carrying the
// current offset. The bytes go into a partial file at that offset. While the
// offset is below the total, WM_CMD_DATA_PERCENT reports progress; at the
// total the file is synced, closed and (when a final path is given) renamed,
// then WM_CMD_DATA_COME reports the end. So a file at the final path is
// always complete. A decoded chunk whose result is not 0 ends the download
// with WM_CMD_DATA_COME carrying that result.
//
// What becomes of the partial file when the download does not complete:
// a refusal (a result not 0), an answer that contradicts the bytes held
// (a piece at another offset, a total below them, a piece past the total
// or of nothing before it, an end before the total) and a failed write
// delete it, with the version file. Transport failures, an expired session
// and a cancel delete it too, unless the target is resumable: then it stays
// for the next attempt to continue.

struct DownloadTarget {
  FileSystem* fs = nullptr;     // required
  std::string partial_path;     // written while the download runs
  std::string final_path;       // renamed to at the end; empty: keep partial_path
  std::string version_path;     // deleted with the partial file and at the end; empty: none
  uint64_t start_offset = 0;    // bytes of partial_path already held (resume)
  bool total_known = false;     // an earlier attempt learnt the total:
  uint64_t known_total = 0;     //   a kAtEnd that comes first is checked against it
  uint64_t max_total = UINT64_MAX;  // a larger announced total is refused
  bool resumable = false;       // transport failures and cancels keep the partial file
  int max_restarts = 0;         // kRestart answers followed; one more ends the download
  uint32_t file_step = 0;       // the job's step code for a failed file operation
  uint32_t offset_step = 0;     // the job's step for a piece at another offset; 0: decode
};

// One decoded chunk response.
struct ChunkReply {
  enum class Kind {
    kPiece,    // `piece` follows (at `offset` when has_offset)
    kAtEnd,    // the gateway has nothing more: done when every byte is held
    kRestart,  // the file changed on the gateway: start again from offset 0
  };
  int32_t result = 0;   // not 0: refused, `message` is reported
  Kind kind = Kind::kPiece;
  bool has_total = true;  // kAtEnd may come without a total
  uint64_t total = 0;   // size of the whole file
  bool has_offset = false;
  uint64_t offset = 0;  // where the piece starts, as the gateway says
  Bytes piece;          // the bytes at the requested offset
  // What WM_CMD_DATA_COME carries for a refusal, and for a kAtEnd before
  // the total or a kRestart beyond max_restarts (null: a decode failure).
  std::unique_ptr<JobResult> message;
};

class ChunkedDownloadCommand {
 public:
  virtual ~ChunkedDownloadCommand() = default;
  virtual std::string RequestPath() const = 0;
  // The request for the piece at offset.
  virtual bool EncodeChunk(uint64_t offset, protocol::WireMessage* request) = 0;
  // False when the response does not decode.
  virtual bool DecodeChunk(const protocol::WireMessage& response, ChunkReply* reply) = 0;
  // The progress report (WM_CMD_DATA_PERCENT) after a piece; null: none.
  virtual std::unique_ptr<JobResult> Progress(uint64_t offset, uint64_t total) = 0;
  // The end report (WM_CMD_DATA_COME) once the file is complete.
  virtual std::unique_ptr<JobResult> Finished(uint64_t total) = 0;
  // Where the complete file goes; by default the target's final path.
  virtual std::string FinalPath(const DownloadTarget& target) const;
};


// Session mode only: the context's session key and ticket seal every chunk.
ExchangeOutcome RunChunkedDownload(const ExchangeContext& context, ChunkedDownloadCommand* command,
                                   const DownloadTarget& target, JobReporter* reporter);

}  // namespace engine
}  // namespace quill

#endif  // QUILL_ENGINE_EXCHANGE_H_
