// The service side of "getmailattach" (106) and "getmailimg" (108): a
// mail's attachments, found by name in its MIME structure, and the images
// its body refers to.
//
// getmailattach serves an attachment three ways: its bytes in pieces
// (download), its text in slices of UTF-16 units that never split a pair
// (converted from the part's charset, GBK and GB2312 included), and a
// picture preview in pieces, scaled down to the request's box. Every form
// has a version (a checksum of what is served): a picture piece asked with
// another version held is answered -8 with the new one, a text slice asked
// with another version held -7.
//
// getmailimg serves "cid:" and Content-Location references from the mail's
// own parts, scaled to the request's box; its continuation value is the
// image's version, and a piece asked with another one is answered -7. A
// remote image (http:, https:) is refused with kImageRemoteRefused unless
// the gateway allows remote images: then it is fetched in the background
// (answered -10 with a delay of one second meanwhile), at most
// kMaxRemoteImageBytes, and kept for later requests.
//
// Thread safety: commands run on request threads at once; the caches lock
// themselves.
#ifndef QUILL_GATEWAY_ATTACH_COMMAND_H_
#define QUILL_GATEWAY_ATTACH_COMMAND_H_

#include <tuple>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "gateway/image_scale.h"
#include "gateway/mail_commands.h"
#include "gateway/mail_parts.h"

namespace quill {
namespace gateway {

// Bytes of one download or picture piece; with the envelope an answer
// stays within the client's 20480 bytes.
constexpr size_t kAttachPieceBytes = 18432;
// UTF-8 bytes of one text slice at most.
constexpr size_t kTextSliceBytes = 16000;
// Results of these commands beside the mailbox ones.
constexpr int32_t kImageResultNotReady = -10;
constexpr int32_t kImageResultRemoteRefused = -12;
constexpr int32_t kImageResultChanged = -7;
constexpr size_t kMaxRemoteImageBytes = 8u << 20;

// One mail's parts and what is derived from them (previews, texts), kept
// while the mail's file stays as it was.
class MailContent {
 public:
  explicit MailContent(std::vector<MailPart> parts) : parts_(std::move(parts)) {}
  const std::vector<MailPart>& parts() const { return parts_; }
  // The part's bytes scaled to the box, made once per box.
  std::shared_ptr<const ScaledPicture> Preview(const MailPart* part, int width, int height);
  // The part's text as UTF-16, made once.
  std::shared_ptr<const std::u16string> Text(const MailPart* part);
  // ContentVersion of bytes that live as long as this content (a part's
  // data, a preview, a text's UTF-8), computed once.
  int32_t VersionOf(ByteView bytes);

 private:
  const std::vector<MailPart> parts_;
  std::mutex mu_;
  std::map<std::tuple<const MailPart*, int, int>, std::shared_ptr<const ScaledPicture>> previews_;
  std::map<const MailPart*, std::shared_ptr<const std::u16string>> texts_;
  std::map<const void*, int32_t> versions_;  // by the bytes' address
};

// The parts of the few mails served last (a download of a large attachment
// asks for the same mail hundreds of times).
class MailContentCache {
 public:
  static constexpr size_t kMails = 4;
  explicit MailContentCache(FileSystem* fs) : fs_(fs) {}
  // Null when the file cannot be read.
  std::shared_ptr<MailContent> For(const std::string& message_file);

 private:
  struct Entry {
    std::string file;
    int64_t modified_ns = 0;
    uint64_t size = 0;
    std::shared_ptr<MailContent> content;
  };
  FileSystem* const fs_;
  std::mutex mu_;
  std::list<Entry> entries_;  // most recently used first
};

// Remote images fetched in the background for getmailimg.
class RemoteImages {
 public:
  static constexpr size_t kMaxEntries = 256;
  static constexpr size_t kMaxRunning = 4;
  enum class State { kPending, kReady, kFailed };
  RemoteImages() = default;
  ~RemoteImages();  // waits for the fetches under way (each is bounded)
  // The image at url: kReady with its content (one part), else kPending
  // (a fetch was started or runs) or kFailed.
  State Get(const std::string& url, std::shared_ptr<MailContent>* content);

 private:
  struct Entry {
    State state = State::kPending;
    bool started = false;
    std::shared_ptr<MailContent> content;  // kReady
  };
  void Fetch(uint64_t id, std::string url);
  // Joins the fetch threads that finished. Needs mu_.
  void JoinFinishedLocked();
  std::mutex mu_;
  std::map<std::string, Entry> entries_;     // guarded by mu_
  size_t running_ = 0;                       // guarded by mu_
  uint64_t next_thread_ = 0;                 // guarded by mu_
  std::map<uint64_t, std::thread> threads_;  // guarded by mu_: every fetch not joined yet
  std::vector<uint64_t> finished_;           // guarded by mu_: fetches about to return
};

class AttachCommand : public SessionCommand {
 public:
  AttachCommand(MailboxSet* boxes, MailContentCache* cache) : boxes_(boxes), cache_(cache) {}
  protocol::MessageType type() const override { return protocol::MessageType::GetMailAttach; }
  bool Answer(const GatewaySession& session, const protocol::WireMessage& request,
              protocol::WireMessage* response) override;

 private:
  MailboxSet* const boxes_;
  MailContentCache* const cache_;
};

class ImageCommand : public SessionCommand {
 public:
  ImageCommand(MailboxSet* boxes, MailContentCache* cache, bool allow_remote)
      : boxes_(boxes), cache_(cache), allow_remote_(allow_remote) {}
  protocol::MessageType type() const override { return protocol::MessageType::GetMailImg; }
  bool Answer(const GatewaySession& session, const protocol::WireMessage& request,
              protocol::WireMessage* response) override;

 private:
  MailboxSet* const boxes_;
  MailContentCache* const cache_;
  const bool allow_remote_;
  RemoteImages remote_;
};

}  // namespace gateway
}  // namespace quill

#endif  // QUILL_GATEWAY_ATTACH_COMMAND_H_
