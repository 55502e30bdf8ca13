// The deliveries the "sendlongmail" command holds: "deliveries.db", an
// SQLite database in the state directory, and the pieces received so far
// in "spool/KEY/" beside it ("body", "file0", "file1", ...).
//
// A delivery is known by its key from the first answer on. The counts of
// bytes held that Save commits never run ahead of the spool: the caller
// syncs the spool (SyncSpool) before it saves counts that grew, so after a
// crash the book holds what it says, and at worst asks again for pieces
// that came after its last save. A delivered one keeps its row (state,
// ServerID), so a client that lost the last answer and asks again is told
// the same result; its spool is removed.
//
// Tables: deliveries(key, account, created, state, mode, source, sender,
// body_length, body_have, header, subject, recipients, server_id, second,
// content); files(key, idx, name, size, digest, have); copies(key,
// recipient), the local copies made already. Commits are synchronous=FULL.
//
// Thread safety: none; the command serialises its calls.
#ifndef QUILL_GATEWAY_DELIVERY_BOOK_H_
#define QUILL_GATEWAY_DELIVERY_BOOK_H_

#include <cstdint>
#include <string>
#include <vector>

#include "platform/file_system.h"

struct sqlite3;

namespace quill {
namespace gateway {

struct DeliveryAddress {
  char list = 'T';      // 'T' To, 'C' Cc, 'B' Bcc
  std::string name;     // UTF-8
  std::string address;
};

struct DeliveryFile {
  std::string name;     // the client's protocol name: MD5 hex, backslash, path
  uint64_t size = 0;
  std::string digest;   // 32 lower-case hexadecimal digits
  uint64_t have = 0;    // bytes held from 0
};

struct Delivery {
  std::string key;
  std::string account;          // the session account that made it
  int64_t created = 0;          // seconds since 1970: the mail's date
  bool delivered = false;
  int32_t mode = 0;             // compose mode
  uint32_t source = 0;          // ServerID of the source mail
  std::string sender_name;
  uint64_t body_length = 0;     // UTF-8 bytes
  uint64_t body_have = 0;
  bool header = false;          // subject and recipients held
  std::string subject;
  std::vector<DeliveryAddress> recipients;
  std::vector<DeliveryFile> files;
  uint32_t server_id = 0;       // delivered: the copy in the sender's Sent folder
  uint32_t second = 0;          // delivered: the recipients it reached
  std::string content;          // a small mail: the digest of what it said, else ""
};

class DeliveryBook {
 public:
  DeliveryBook(FileSystem* fs, std::string state_dir);
  ~DeliveryBook();
  DeliveryBook(const DeliveryBook&) = delete;
  DeliveryBook& operator=(const DeliveryBook&) = delete;

  // Opens (or creates) the database; the later calls open it when needed.
  bool Open();

  // Writes a new or changed delivery (its files and flags) in one
  // transaction.
  bool Save(const Delivery& d);
  bool Load(const std::string& key, Delivery* out);
  // The newest small mail of the account with this content digest made
  // since `since`.
  bool FindSmall(const std::string& account, const std::string& content, int64_t since,
                 Delivery* out);
  // The local copies recorded for a delivery; recording one commits it.
  bool HasCopy(const std::string& key, const std::string& recipient);
  bool RecordCopy(const std::string& key, const std::string& recipient);

  // The spool file of the body (index -1) or of file `index`.
  std::string SpoolPath(const std::string& key, int index) const;
  // Writes a piece at offset (not yet durable).
  bool WritePiece(const std::string& key, int index, uint64_t offset, ByteView bytes);
  // Makes the body and the first `files` files of the spool durable.
  bool SyncSpool(const std::string& key, size_t files);
  // Removes the spool of a delivery.
  void DropSpool(const std::string& key, size_t files);

 private:
  bool Exec(const char* sql);

  FileSystem* const fs_;
  const std::string state_dir_;
  sqlite3* db_ = nullptr;
};

}  // namespace gateway
}  // namespace quill

#endif  // QUILL_GATEWAY_DELIVERY_BOOK_H_
