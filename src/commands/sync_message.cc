#include "commands/sync_message.h"

#include "protocol/codec_status.h"
#include "protocol/list_codec.h"

namespace quill {
namespace commands {
namespace {

using protocol::CodecOk;
using protocol::ErrMalformed;
using protocol::ListReader;
using protocol::ListWriter;
using protocol::TagCodec;

// Reads optional-by-mask and required fields into a command.
class FieldReader {
 public:
  explicit FieldReader(const TagCodec& body) : body_(body) {}
  bool Int(uint32_t tag, int32_t* out) { return Ok(body_.GetInt(tag, out)); }
  bool UInt(uint32_t tag, uint32_t* out) { return Ok(body_.GetUInt(tag, out)); }
  bool Text(uint32_t tag, SyncCommand* c) {
    std::string s;
    if (!Ok(body_.GetString(tag, &s))) return false;
    c->texts.push_back(std::move(s));
    return true;
  }
  bool List(uint32_t tag) {
    TagCodec list;
    return Ok(body_.GetCodec(tag, &list));
  }
  int status() const { return status_; }

 private:
  bool Ok(int s) {
    if (s != CodecOk && status_ == CodecOk) status_ = s;
    return s == CodecOk;
  }
  const TagCodec& body_;
  int status_ = CodecOk;
};

int DecodeCommand(int32_t type, const TagCodec& body, SyncCommand* c) {
  c->type = type;
  FieldReader r(body);
  int32_t v = 0;
  const auto id = [&](uint32_t tag) {
    if (r.Int(tag, &v)) c->id = static_cast<uint32_t>(v);
  };
  switch (type) {
    case kRbcmdAddMailFolder:
      id(1);
      r.Text(2, c);
      break;
    case kRbcmdUpdateMailFolder:
      r.Int(1, &c->mask);
      id(2);
      if (c->mask & 1) r.Text(3, c);
      break;
    case kRbcmdDelMailFolder:
    case kRbcmdDelMail:
      id(1);
      break;
    case kRbcmdAddMail:
      id(1);
      r.Int(2, &c->flags);
      r.Text(3, c);
      r.Text(4, c);
      r.Text(5, c);
      r.Int(6, &c->folder_id);
      r.UInt(7, &c->date);
      break;
    case kRbcmdUpdateMail:
      r.Int(1, &c->mask);
      id(2);
      if (c->mask & 1) r.Int(3, &c->flags);
      if (c->mask & 2) r.Text(4, c);
      if (c->mask & 4) r.Text(5, c);
      if (c->mask & 8) r.Text(6, c);
      if (c->mask & 16) r.Int(7, &c->folder_id);
      if (c->mask & 32) r.UInt(8, &c->date);
      break;
    case kRbcmdAddContact:
      r.UInt(1, &c->id);
      r.Text(2, c);
      r.Text(3, c);
      r.Int(4, &c->number);
      r.Text(5, c);
      r.Text(6, c);
      break;
    case kRbcmdUpdateContact:
      r.Int(1, &c->mask);
      r.UInt(2, &c->id);
      if (c->mask & 1) r.Text(3, c);
      if (c->mask & 2) r.Text(4, c);
      if (c->mask & 4) r.Int(5, &c->number);
      if (c->mask & 8) r.Text(6, c);
      if (c->mask & 16) r.Text(7, c);
      break;
    case kRbcmdDelContact:
    case kRbcmdDelGroup:
      r.UInt(1, &c->id);
      break;
    case kRbcmdAddGroup:
      r.UInt(1, &c->id);
      r.Text(2, c);
      r.List(3);
      break;
    case kRbcmdUpdateGroup:
      r.Int(1, &c->mask);
      r.UInt(2, &c->id);
      if (c->mask & 1) r.Text(3, c);
      if (c->mask & 2) r.List(4);
      if (c->mask & 4) r.List(5);
      break;
    default:
      return ErrMalformed;
  }
  return r.status();
}

bool EncodeClientCommand(const SyncCommand& c, TagCodec* item) {
  TagCodec body;
  bool ok;
  if (c.type == kRbcmdDelMail) {
    ok = body.PutInt(1, static_cast<int32_t>(c.id)) == CodecOk;
  } else if (c.type == kRbcmdUpdateMail && c.mask == 1) {
    ok = body.PutInt(1, c.mask) == CodecOk &&
         body.PutInt(2, static_cast<int32_t>(c.id)) == CodecOk &&
         body.PutInt(3, c.flags) == CodecOk;
  } else {
    return false;
  }
  return ok && item->PutInt(1, c.type) == CodecOk && item->PutCodec(2, &body) == CodecOk;
}

}  // namespace

bool EncodeSyncRequest(const SyncRequest& request, protocol::WireMessage* message) {
  protocol::StartRequest(protocol::MessageType::Sync, request.head, message);
  const protocol::RequestHead& h = request.head;
  TagCodec& body = message->Body();
  ListWriter commands;
  for (const SyncCommand& c : request.commands) {
    TagCodec item;
    if (!EncodeClientCommand(c, &item) || commands.Add(&item) != CodecOk) {
      body.Reset();
      return false;
    }
  }
  TagCodec excluded;  // integers tagged 1..N
  uint32_t tag = 1;
  for (uint32_t folder : request.excluded_folders) {
    if (excluded.PutInt(tag++, static_cast<int32_t>(folder)) != CodecOk) {
      body.Reset();
      return false;
    }
  }
  bool ok = body.PutInt(8, static_cast<int32_t>(h.client_version)) == CodecOk &&
            body.PutBytes(9, ByteView(h.platform)) == CodecOk &&
            body.PutBytes(1, ByteView(h.session_key)) == CodecOk &&
            body.PutBytes(2, ByteView(h.data_id.data(), h.data_id.size())) == CodecOk &&
            body.PutInt(3, h.sync_key) == CodecOk && body.PutInt(4, request.reason) == CodecOk &&
            body.PutInt(6, commands.count()) == CodecOk && body.PutBytes(5, ByteView()) == CodecOk &&
            (commands.count() == 0 || body.PutCodec(7, commands.list()) == CodecOk) &&
            body.PutUInt(10, request.auto_delete_seconds) == CodecOk &&
            (request.excluded_folders.empty() || body.PutCodec(11, &excluded) == CodecOk);
  if (!ok) body.Reset();
  return ok;
}

int DecodeSyncResponse(const protocol::WireMessage& message, SyncResponse* response) {
  *response = SyncResponse();
  int status = protocol::DecodeResponseHead(message, protocol::MessageType::Sync, &response->head);
  if (status != CodecOk || response->head.result != 0) return status;
  const TagCodec& body = message.Body();
  if ((status = body.GetInt(2, &response->new_key)) != CodecOk ||
      (status = body.GetInt(3, &response->more)) != CodecOk) {
    return status;
  }
  ListReader commands;
  if ((status = commands.Open(body, 4, 6, /*exact=*/true)) != CodecOk) return status;
  for (int32_t i = 1; i <= commands.count(); ++i) {
    TagCodec item, command_body;
    int32_t type = 0;
    SyncCommand c;
    if ((status = commands.Item(i, &item)) != CodecOk ||
        (status = item.GetInt(1, &type)) != CodecOk ||
        (status = item.GetCodec(2, &command_body)) != CodecOk ||
        (status = DecodeCommand(type, command_body, &c)) != CodecOk) {
      return status == CodecOk ? ErrMalformed : status;
    }
    response->commands.push_back(std::move(c));
  }
  // Briefs are byte strings, each a packed getmailbrief response.
  int32_t brief_count = 0;
  if ((status = body.GetInt(5, &brief_count)) != CodecOk) return status;
  if (brief_count < 0) return ErrMalformed;
  if (brief_count == 0) return CodecOk;
  TagCodec briefs;
  if (body.GetCodec(7, &briefs) != CodecOk ||
      briefs.FieldCount() != static_cast<uint64_t>(brief_count)) {
    return ErrMalformed;
  }
  for (int32_t i = 1; i <= brief_count; ++i) {
    ByteView packed;
    protocol::WireMessage brief_message;
    BriefResponse brief;
    if (briefs.GetView(static_cast<uint32_t>(i), &packed) != CodecOk ||
        brief_message.Unpack(packed.data, static_cast<int64_t>(packed.size)) != CodecOk ||
        DecodeBriefResponse(brief_message, &brief) != CodecOk) {
      return ErrMalformed;
    }
    response->briefs.push_back(std::move(brief));
  }
  return CodecOk;
}

}  // namespace commands
}  // namespace quill
