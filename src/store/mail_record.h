// The in-memory form of one mail's 8184-byte record in "mails.idx": the raw
// bytes, the decoded texts and a texts-changed flag. Fixed fields are read
// and written in the raw bytes; texts are encoded into the raw bytes by
// Encode when the flag is set.
//
// Layout (little-endian): 0 ServerID, 4 ServerID replied to, 8 FolderID,
// 12 date (FILETIME), 20 save time (FILETIME), 32 body length on the
// service, 36 body length held, 40 flags (bit 0 unread), 44/46/48 counts of
// To, Cc and attachments (16-bit), 50 state bits (0-2 body state, 3-4 local
// kind), 52 six 16-bit text lengths, 64 body version, 66 the 6144-byte text
// area, then zero.
//
// Texts: 0 sender, 1 subject, 2 reserved, 3 and 4 lists of lines, 5 the
// attachment list; all UTF-8 in the record. When they do not fit the text
// area, text 2 goes first (the body state falls to 0), then texts 3 and 4
// keep 10 lines, then text 5 is emptied; what still does not fit is cut at
// a character boundary.
#ifndef QUILL_STORE_MAIL_RECORD_H_
#define QUILL_STORE_MAIL_RECORD_H_

#include <cstdint>
#include <string>
#include <vector>

#include "platform/bytes.h"
#include "store/attachment_entry.h"

namespace quill {
namespace store {

inline constexpr uint32_t kLocalServerId = 0xFFFFFFFF;  // the mail exists only here
inline constexpr uint32_t kAllFolders = 0;
inline constexpr uint32_t kUnreadView = 0xFFFF9741;
inline constexpr uint32_t kSentFolder = 3;
inline constexpr uint32_t kLocalFolder = 4;  // mails written on the device
inline constexpr uint32_t kUnreadFlag = 1;

enum BodyState : uint16_t { kNoBody = 0, kBodyIncomplete = 2, kBodyComplete = 4 };

class MailRecord {
 public:
  static constexpr uint32_t kSize = 8184;
  static constexpr uint32_t kServerIdAt = 0;
  static constexpr uint32_t kReplyToAt = 4;
  static constexpr uint32_t kFolderAt = 8;
  static constexpr uint32_t kDateAt = 12;
  static constexpr uint32_t kSaveTimeAt = 20;
  static constexpr uint32_t kServerBodyLengthAt = 32;
  static constexpr uint32_t kLocalBodyLengthAt = 36;
  static constexpr uint32_t kFlagsAt = 40;
  static constexpr uint32_t kToCountAt = 44;
  static constexpr uint32_t kCcCountAt = 46;
  static constexpr uint32_t kAttachCountAt = 48;
  static constexpr uint32_t kStateAt = 50;
  static constexpr uint32_t kLengthsAt = 52;
  static constexpr uint32_t kBodyVersionAt = 64;
  static constexpr uint32_t kTextAt = 66;
  static constexpr uint32_t kTextArea = 6144;
  // The fixed fields a store index needs (ServerID to state bits).
  static constexpr uint32_t kSummaryBytes = 52;

  // A fresh record: zero except ServerIDs 0xFFFFFFFF.
  MailRecord();

  // Fills this mail from a record's bytes; false unless raw has kSize bytes.
  bool Decode(ByteView raw);
  // The record's bytes, the texts encoded first when they changed.
  const Bytes& Encode();
  const Bytes& raw() const { return raw_; }

  uint32_t server_id() const { return Get32(kServerIdAt); }
  void set_server_id(uint32_t v) { Put32(kServerIdAt, v); }
  uint32_t reply_to() const { return Get32(kReplyToAt); }
  void set_reply_to(uint32_t v) { Put32(kReplyToAt, v); }
  uint32_t folder() const { return Get32(kFolderAt); }
  void set_folder(uint32_t v) { Put32(kFolderAt, v); }
  uint64_t date() const { return Get64(kDateAt); }
  void set_date(uint64_t v) { Put64(kDateAt, v); }
  uint64_t save_time() const { return Get64(kSaveTimeAt); }
  void set_save_time(uint64_t v) { Put64(kSaveTimeAt, v); }
  uint32_t server_body_length() const { return Get32(kServerBodyLengthAt); }
  void set_server_body_length(uint32_t v) { Put32(kServerBodyLengthAt, v); }
  uint32_t local_body_length() const { return Get32(kLocalBodyLengthAt); }
  void set_local_body_length(uint32_t v) { Put32(kLocalBodyLengthAt, v); }
  uint32_t flags() const { return Get32(kFlagsAt); }
  void set_flags(uint32_t v) { Put32(kFlagsAt, v); }
  bool unread() const { return (flags() & kUnreadFlag) != 0; }
  uint16_t to_count() const { return Get16(kToCountAt); }
  void set_to_count(uint16_t v) { Put16(kToCountAt, v); }
  uint16_t cc_count() const { return Get16(kCcCountAt); }
  void set_cc_count(uint16_t v) { Put16(kCcCountAt, v); }
  uint16_t attach_count() const { return Get16(kAttachCountAt); }
  void set_attach_count(uint16_t v) { Put16(kAttachCountAt, v); }
  uint16_t body_state() const { return Get16(kStateAt) & 7; }
  void set_body_state(uint16_t v) { Put16(kStateAt, static_cast<uint16_t>((Get16(kStateAt) & ~7) | (v & 7))); }
  uint16_t local_kind() const { return (Get16(kStateAt) >> 3) & 3; }
  void set_local_kind(uint16_t v) {
    Put16(kStateAt, static_cast<uint16_t>((Get16(kStateAt) & 7) | ((v & 3) << 3)));
  }
  uint16_t body_version() const { return Get16(kBodyVersionAt); }
  void set_body_version(uint16_t v) { Put16(kBodyVersionAt, v); }
  uint16_t text_length(int i) const { return Get16(kLengthsAt + 2 * i); }

  // The texts; whoever changes one calls MarkTextsChanged.
  std::u16string sender;                    // text 0, "\"name\"<address>"
  std::u16string subject;                   // text 1
  std::u16string reserved;                  // text 2, empty from every writer
  std::vector<std::u16string> lines3;       // text 3, lines
  std::vector<std::u16string> lines4;       // text 4, lines
  std::vector<AttachmentEntry> attachments; // text 5
  void MarkTextsChanged() { texts_changed_ = true; }
  bool texts_changed() const { return texts_changed_; }

  // Reads fixed fields from the first kSummaryBytes of a record.
  static uint32_t ServerIdOf(const uint8_t* p);
  static uint32_t FolderOf(const uint8_t* p);
  static uint64_t DateOf(const uint8_t* p);
  static uint32_t FlagsOf(const uint8_t* p);
  static uint16_t LocalKindOf(const uint8_t* p);

 private:
  uint16_t Get16(uint32_t at) const;
  uint32_t Get32(uint32_t at) const;
  uint64_t Get64(uint32_t at) const;
  void Put16(uint32_t at, uint16_t v);
  void Put32(uint32_t at, uint32_t v);
  void Put64(uint32_t at, uint64_t v);

  Bytes raw_;                  // kSize bytes
  bool texts_changed_ = false; // texts differ from raw_
};

}  // namespace store
}  // namespace quill

#endif  // QUILL_STORE_MAIL_RECORD_H_
