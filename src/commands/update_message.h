// The update commands' messages: "queryupdate" (type 109) asks whether a
// newer client is offered, "getupdatepack" (type 107) fetches a piece of
// the offered package.
//
// queryupdate request: 3 client version, 4 platform, 1 session key (may be
// empty), 2 AccountDataId, 5 reason. Response: 1 result; for 0 also
// 2 update value (the package size in bytes; 0: nothing offered), 3 the
// offered version number (kept), 4 version text (at most 32 bytes), 5 the
// offer text: the package name, a line feed, the release notes. An answer
// that offers a package (update value above 0) without a package name in
// its offer text does not decode.
//
// getupdatepack request: 3 client version, 4 platform, 1 session key,
// 5 package name, 2 AccountDataId, 6 offset (bytes held), 7 length wanted
// (0x7FFFFFFF), 8 a value passed through. Response: 1 result; for 0 also
// 2 package name, 3 total size, 4 kept, 5 piece length, 6 piece bytes
// (exactly the piece length); for -7 (the package was replaced) also 2 the
// new package's name and 3 its total size. Sizes and offsets travel as
// unsigned 32-bit integers.
//
// A package name is the MD5 digest of the package as 32 hexadecimal digits
// (either case); the package file is that name followed by ".cab".
#ifndef QUILL_COMMANDS_UPDATE_MESSAGE_H_
#define QUILL_COMMANDS_UPDATE_MESSAGE_H_

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/bytes.h"
#include "protocol/message_heads.h"
#include "protocol/wire_message.h"

namespace quill {
namespace commands {

// Reasons of an update query.
enum UpdateQueryReason : int32_t {
  kUpdateAfterLogin = 2,  // the login reported a newer version
  kUpdateByUser = 3,      // the user asked
};

constexpr int32_t kUpdatePackReplaced = -7;
constexpr int32_t kUpdateLengthWanted = 0x7FFFFFFF;
constexpr size_t kPackageNameDigits = 32;
constexpr size_t kMaxVersionTextBytes = 32;
constexpr size_t kMaxOfferTextBytes = 4096;
constexpr char kPackageSuffix[] = ".cab";

struct UpdateQueryRequest {
  protocol::RequestHead head;  // session key, AccountDataId
  int32_t reason = kUpdateByUser;
};

// What the offer text of a queryupdate answer names.
struct UpdateOffer {
  std::string package;  // the package name
  std::string notes;    // UTF-8
};

struct UpdateQueryResponse {
  protocol::ResponseHead head;
  int32_t update_value = 0;    // package size offered; 0: nothing
  int32_t offered_version = 0; // kept
  std::string version_text;    // at most 32 bytes
  std::string offer_text;      // package name, line feed, notes
  UpdateOffer offer;           // offer_text split; empty unless update_value > 0
};

struct UpdatePackRequest {
  protocol::RequestHead head;  // session key, AccountDataId
  std::string package;         // 32 hexadecimal digits
  uint32_t offset = 0;         // bytes of the package held
  int32_t pass_through = 0;    // tag 8, as the caller gave it
};

struct UpdatePackResponse {
  protocol::ResponseHead head;
  std::string package;         // at most 32 bytes; the new one for -7
  uint32_t total = 0;          // size of the whole package
  int32_t kept4 = 0;           // read and kept, not used
  Bytes piece;                 // the bytes at the requested offset
};

bool EncodeUpdateQueryRequest(const UpdateQueryRequest& request, protocol::WireMessage* message);
int DecodeUpdateQueryResponse(const protocol::WireMessage& message, UpdateQueryResponse* response);
bool EncodeUpdatePackRequest(const UpdatePackRequest& request, protocol::WireMessage* message);
int DecodeUpdatePackResponse(const protocol::WireMessage& message, UpdatePackResponse* response);

// True when text is exactly 32 hexadecimal digits.
bool IsPackageName(std::string_view text);
// True when a and b name the same package (hexadecimal digits of either
// case).
bool SamePackageName(std::string_view a, std::string_view b);
// The 16 bytes a package name states; false unless IsPackageName.
bool PackageDigest(std::string_view name, std::array<uint8_t, 16>* digest);
// Splits an offer text; false unless its first line is a package name.
bool ParseUpdateOffer(std::string_view text, UpdateOffer* offer);

}  // namespace commands
}  // namespace quill

#endif  // QUILL_COMMANDS_UPDATE_MESSAGE_H_
