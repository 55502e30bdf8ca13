// Where a delivered mail goes: into a Maildir of this gateway (the file is
// written in "tmp", synced, and renamed into place, so a reader never sees
// half a mail and a crash never loses one that was reported delivered), or
// through the SMTP relay named in "relay.cfg" of the state directory.
//
// "relay.cfg": KEY=VALUE lines (blank lines and '#' comments skipped):
//   host      the relay's host name or address (required)
//   port      its port (default 25)
//   starttls  yes: STARTTLS is required before the mail is sent
//   user      login name; with password: AUTH after the greeting
//   password
//
// Thread safety: every function may run on several threads at once.
#ifndef QUILL_GATEWAY_MAIL_TRANSPORT_H_
#define QUILL_GATEWAY_MAIL_TRANSPORT_H_

#include <string>
#include <vector>

#include "platform/file_system.h"

namespace quill {
namespace gateway {

constexpr char kRelayConfigFileName[] = "relay.cfg";

struct SmtpRelay {
  std::string host;        // empty: no relay
  int port = 25;
  bool starttls = false;   // require STARTTLS
  std::string user;        // empty: no login
  std::string password;

  bool configured() const { return !host.empty(); }
};

// Reads "relay.cfg"; a missing file is no relay (true). False with a
// message naming the line when it is malformed.
bool LoadRelayConfig(FileSystem* fs, const std::string& path, SmtpRelay* relay,
                     std::string* error);

// Writes message as `folder_dir`/`name` of the Maildir ("new/NAME",
// ".Sent/cur/NAME:2,S"): tmp, sync, rename, directory sync. An existing
// file of that name is kept (the same delivery done again).
bool WriteToMaildir(FileSystem* fs, const std::string& maildir, const std::string& relpath,
                    const std::string& message);

// Sends message to every recipient in one SMTP transaction. False with
// the relay's or the transport's reason.
bool SendThroughRelay(const SmtpRelay& relay, const std::string& from,
                      const std::vector<std::string>& recipients, const std::string& message,
                      std::string* error);

}  // namespace gateway
}  // namespace quill

#endif  // QUILL_GATEWAY_MAIL_TRANSPORT_H_
