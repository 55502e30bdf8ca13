// Every response decoder of the client's commands over one arbitrary packed
// message: the bytes of a response come from the network.
#include <cstddef>
#include <cstdint>

#include "commands/attach_message.h"
#include "commands/auth_message.h"
#include "commands/body_message.h"
#include "commands/brief_message.h"
#include "commands/image_message.h"
#include "commands/sync_message.h"
#include "protocol/wire_message.h"

using namespace quill;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  protocol::WireMessage m;
  if (m.Unpack(data, static_cast<int64_t>(size)) != 0) return 0;
  // The decoders check the type first; give each its own.
  for (protocol::MessageType type :
       {protocol::MessageType::Auth, protocol::MessageType::Sync,
        protocol::MessageType::GetMailBrief, protocol::MessageType::GetMailBody,
        protocol::MessageType::GetMailAttach, protocol::MessageType::GetMailImg}) {
    m.SetType(type);
    commands::AuthResponse auth;
    commands::SyncResponse sync;
    commands::BriefResponse brief;
    commands::BodyResponse body;
    (void)commands::DecodeAuthResponse(m, &auth);
    (void)commands::DecodeSyncResponse(m, &sync);
    (void)commands::DecodeBriefResponse(m, &brief);
    (void)commands::DecodeBodyResponse(m, &body);
    for (commands::AttachKind kind : {commands::AttachKind::kDownload, commands::AttachKind::kText,
                                      commands::AttachKind::kPicture}) {
      commands::AttachResponse attach;
      (void)commands::DecodeAttachResponse(m, kind, &attach);
    }
    commands::MailImageResponse image;
    (void)commands::DecodeImageResponse(m, &image);
  }
  return 0;
}
