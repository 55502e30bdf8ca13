// The service side of the update commands, answered from the published
// release (update_shelf.h).
//
// "queryupdate" (109). Request body: 3 client version, 4 platform, 1 session
// key, 2 AccountDataId, 5 reason. Response body: 1 result; for 0 also
// 2 the package size (0: nothing offered, the client is not older than the
// release), 3 the release's version number, 4 its text ("1.0.49"), 5 the
// package name, a line feed and the notes.
//
// "getupdatepack" (107). Request body: 3 client version, 4 platform,
// 1 session key, 5 package name, 2 AccountDataId, 6 offset, 7 length
// wanted, 8 passed through. Response body: 1 result; for 0 also 2 package
// name, 3 total size, 4 0, 5 piece length, 6 piece (at most kPackPieceBytes);
// for -7 (the name is not the published package: it was replaced) also
// 2 the published package's name and 3 its size. Results beside: -2 a field
// missing or malformed, or an offset past the end; -5 nothing published;
// -6 the package cannot be read.
//
// Thread safety: Answer may run on several request threads at once.
#ifndef QUILL_GATEWAY_UPDATE_COMMANDS_H_
#define QUILL_GATEWAY_UPDATE_COMMANDS_H_

#include "gateway/session_command.h"
#include "gateway/update_shelf.h"

namespace quill {
namespace gateway {

// The most package bytes one answer carries; with the envelope it stays
// below the 20480 bytes a response may hold.
constexpr size_t kPackPieceBytes = 16384;
constexpr int32_t kUpdateResultReplaced = -7;
// The offer text is cut to this many bytes.
constexpr size_t kMaxOfferTextBytes = 4096;

class QueryUpdateCommand : public SessionCommand {
 public:
  // shelf must outlive the command.
  explicit QueryUpdateCommand(const UpdateShelf* shelf) : shelf_(shelf) {}
  protocol::MessageType type() const override { return protocol::MessageType::QueryUpdate; }
  bool Answer(const GatewaySession& session, const protocol::WireMessage& request,
              protocol::WireMessage* response) override;

 private:
  const UpdateShelf* const shelf_;
};

class UpdatePackCommand : public SessionCommand {
 public:
  // shelf must outlive the command.
  explicit UpdatePackCommand(const UpdateShelf* shelf) : shelf_(shelf) {}
  protocol::MessageType type() const override { return protocol::MessageType::GetUpdatePack; }
  bool Answer(const GatewaySession& session, const protocol::WireMessage& request,
              protocol::WireMessage* response) override;

 private:
  const UpdateShelf* const shelf_;
};

}  // namespace gateway
}  // namespace quill

#endif  // QUILL_GATEWAY_UPDATE_COMMANDS_H_
