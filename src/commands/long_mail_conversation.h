// The client's side of one long-mail delivery: what it asks first, how it
// follows the service's instructions, and when it gives up. It owns the
// attachment files it opened; the job (long_mail_job.h) carries its
// requests to the gateway.
//
// Run state, as a table of what each answer leads to (stage in brackets):
//
//   state / event                 next request                    or end
//   ----------------------------  ------------------------------  ---------------
//   start, key held               resume query [2]
//   start, small mail             the whole mail [8]
//   start, otherwise              description [3] after every     356 (a file)
//                                 file's digest [4]
//   answer lost, key held         resume query [2]
//   answer lost, no key                                           the job's step
//   answer: result not 0                                          737
//   answer: result item 1/2 error                                 750 / 768
//   answer: no status / other                                     779 / 792
//   answer: status 0                                              delivered
//   answer: status -10, no key                                    803
//   answer: -10, no instruction                                   813
//   answer: -10, header           subject and recipients [6]
//   answer: -10, body O L         body bytes [O, O+L) [5]         658 (O past end)
//   answer: -10, attachment N O L the file's bytes [O, O+L) [7]   493, 506, 521, 531
//   an instruction that does not advance, of no known type, with a
//   negative offset or length, or one request past the bound       813
//
// Where this differs from a trusting client: a file is opened only when its
// path is one of this mail's own local attachments (a service cannot make
// the client read any other file: 493, -855); lengths are clamped to the
// piece limit; the conversation ends after max_requests() requests,
// derived from the sizes; sizes and offsets are 64-bit, a file larger than
// the wire's 31 bits is refused when it is described; after a resume query
// the next instruction may repeat the last one served.
//
// Threading: made on the UI thread, then used by the job's worker only.
#ifndef QUILL_COMMANDS_LONG_MAIL_CONVERSATION_H_
#define QUILL_COMMANDS_LONG_MAIL_CONVERSATION_H_

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "commands/long_mail_message.h"
#include "platform/file_system.h"

namespace quill {
namespace commands {

// Kind of an attachment entry that is a local file named by its full path.
constexpr uint32_t kLocalFileKind = 0x40001;
// The longest slice a request carries.
constexpr uint32_t kMaxPieceBytes = 20480;
// A mail without attachment entries whose body has fewer UTF-16 units goes
// in one request.
constexpr size_t kSmallMailChars = 5000;

enum LongMailStage : int {
  kStageConnecting = 1,
  kStageResuming = 2,
  kStageDescribing = 3,
  kStageScanning = 4,
  kStageBody = 5,
  kStageHeader = 6,
  kStageAttachment = 7,
  kStageSmallMail = 8,
};

// Failing steps of a delivery.
enum LongMailStep : uint32_t {
  kLongStepNoRequest = 103,
  kLongStepNoConnection = 112,
  kLongStepOpenRequest = 131,
  kLongStepSend = 141,
  kLongStepRead = 154,
  kLongStepDecode = 163,
  kLongStepDescribeFile = 356,
  kLongStepOpenNamedFile = 493,
  kLongStepDigestDiffers = 506,
  kLongStepFileOffset = 521,
  kLongStepReadFile = 531,
  kLongStepBodyOffset = 658,
  kLongStepNoResponse = 730,
  kLongStepResult = 737,
  kLongStepServiceError = 750,
  kLongStepServiceEntry = 768,
  kLongStepNoStatus = 779,
  kLongStepStatus = 792,
  kLongStepNoKey = 803,
  kLongStepInstruction = 813,
};

constexpr int32_t kCodeSizeChanged = -853;
constexpr int32_t kCodeContentChanged = -854;
constexpr int32_t kCodeCannotOpen = -855;

// The text shown for a failure's code.
const char16_t* LongMailErrorText(int32_t code);

struct LongMailAttachment {
  std::string name;   // UTF-8; a local file's full path
  uint64_t size = 0;  // bytes, as listed
  uint32_t kind = 0;  // kLocalFileKind for a local file
};

// What a delivery sends, copied from the mail when the job is made.
struct LongMailDraft {
  protocol::RequestHead head;   // session key, uin, AccountDataId, sync key
  uint32_t mail_id = 0;
  int32_t compose_mode = 0;     // 1..3, else 0
  uint32_t source_server_id = 0xFFFFFFFF;
  std::string sender_name;      // UTF-8
  std::string sender_address;
  std::string subject;
  std::string body;             // UTF-8
  size_t body_chars = 0;        // UTF-16 units of the body
  std::vector<LongMailAddress> to, cc, bcc;
  std::vector<LongMailAttachment> attachments;
  std::string key;              // "sendmailid.txt"; empty for none
};

// One progress report.
struct LongMailProgress {
  uint32_t mail_id = 0;
  int stage = kStageConnecting;
  int32_t percent = 0;           // the service's, 0..10000
  int attachment_count = 0;      // local files of the mail
  int attachment_index = -1;     // the file file_name names, or -1
  std::string file_name;         // UTF-8 full path, or empty
  uint64_t file_size = 0;
  uint64_t offset = 0;           // of the slice being sent
  std::string key_to_save;       // not empty: write it to "sendmailid.txt"
};

class LongMailConversation {
 public:
  enum class Next { kSend, kDelivered, kFailed };
  // Called at every request (worker thread). *key_saved tells whether the
  // report's key_to_save was written. False stops the delivery.
  using Reporter = std::function<bool(const LongMailProgress&, bool* key_saved)>;

  // fs must outlive the conversation.
  LongMailConversation(LongMailDraft draft, FileSystem* fs, Reporter report);
  ~LongMailConversation();
  LongMailConversation(const LongMailConversation&) = delete;
  LongMailConversation& operator=(const LongMailConversation&) = delete;

  // Reports stage 1 and prepares the first request.
  Next Start();
  // The answer to the request just sent was lost after the gateway got it
  // whole: with a key, prepares the resume query; else fails with `step`.
  Next AnswerLost(uint32_t step, uint32_t system_error);
  // The request goes again as it is (the gateway never got it whole); the
  // gateway may have lost pieces meanwhile, so the next instruction may
  // repeat the last one served.
  void Resending() { last_type_ = 0; }
  // Follows a decoded answer (result not -3).
  Next Handle(const LongMailResponse& response);
  // Ends the delivery as failed.
  Next Fail(uint32_t step, int32_t code);

  // The prepared request.
  const LongMailRequest& request() const { return request_; }
  // Requests prepared so far, and the most a delivery may send.
  int requests() const { return requests_; }
  int max_requests() const { return max_requests_; }

  const LongMailDraft& draft() const { return draft_; }
  const std::string& key() const { return draft_.key; }
  // After kFailed.
  uint32_t step() const { return step_; }
  int32_t code() const { return code_; }
  // After kDelivered.
  uint32_t server_id() const { return server_id_; }
  uint32_t second_value() const { return second_value_; }

 private:
  struct OpenFile;

  Next PrepareFirst();
  Next PrepareResume();
  Next Follow(const LongMailInstruction& in);
  Next PrepareBody(int64_t offset, int64_t length);
  Next PrepareAttachment(const std::string& name, int64_t offset, int64_t length);
  // Counts a request against the bound; reports its stage. False when one
  // of them says stop (failure set).
  bool Ready(int stage, int index, const std::string& file, uint64_t size, uint64_t offset);
  // The file kept under a protocol name, opened and digested when it is one
  // of the mail's local files. Null with the failure set.
  OpenFile* FileFor(const std::string& name);
  // Digests a whole file; false with the system error in *error.
  bool Digest(File* file, uint64_t size, std::string* hex, uint32_t* error);
  void ClearRequest();

  LongMailDraft draft_;
  FileSystem* const fs_;
  Reporter report_;
  std::map<std::string, std::unique_ptr<OpenFile>> files_;  // by protocol name
  std::vector<std::string> local_paths_;                    // the mail's local files, in order
  LongMailRequest request_;      // the prepared request
  int requests_ = 0;             // requests prepared
  int max_requests_ = 0;         // derived from the sizes at Start
  bool key_unsaved_ = false;     // a key the service gave is not yet in "sendmailid.txt"
  int32_t percent_ = 0;          // the service's last progress
  // The last instruction served, for the rule that an instruction must advance.
  int32_t last_type_ = 0;        // 0 after a resume query
  int64_t last_offset_ = 0;
  std::string last_name_;
  uint32_t step_ = 0;
  int32_t code_ = 0;
  uint32_t server_id_ = 0;
  uint32_t second_value_ = 0;
};

}  // namespace commands
}  // namespace quill

#endif  // QUILL_COMMANDS_LONG_MAIL_CONVERSATION_H_
