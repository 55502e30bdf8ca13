#include "commands/long_mail_message.h"

#include "commands/text_limits.h"
#include "protocol/codec_status.h"
#include "protocol/typed_list.h"

namespace quill {
namespace commands {
namespace {

using protocol::CodecOk;
using protocol::ErrMalformed;
using protocol::TagCodec;
using protocol::TypedListReader;
using protocol::TypedListWriter;

bool Ok(int status) { return status == CodecOk; }

bool PutText(TagCodec* c, uint32_t tag, const std::string& text) {
  return Ok(c->PutBytes(tag, ByteView(text)));
}

bool PutAddressList(TagCodec* part, uint32_t tag, const std::vector<LongMailAddress>& list) {
  if (list.empty()) return true;
  TypedListWriter writer;
  for (const LongMailAddress& a : list) {
    TagCodec content;
    if (!PutText(&content, 1, a.name) || !PutText(&content, 2, a.address) ||
        !Ok(writer.Add(1, &content))) {
      return false;
    }
  }
  return Ok(part->PutCodec(tag, writer.list()));
}

bool PutDescription(const LongMailDescription& d, TagCodec* content) {
  TypedListWriter entries;
  TagCodec length;
  if (!Ok(length.PutInt(1, static_cast<int32_t>(d.body_length))) ||
      !Ok(entries.Add(kEntryBodyLength, &length))) {
    return false;
  }
  for (const LongMailFileEntry& f : d.files) {
    TagCodec file;
    if (!PutText(&file, 1, f.protocol_name) || !Ok(file.PutInt(2, static_cast<int32_t>(f.size))) ||
        !PutText(&file, 3, f.digest) || !Ok(entries.Add(kEntryFile, &file))) {
      return false;
    }
  }
  return Ok(content->PutInt(1, d.compose_mode)) &&
         Ok(content->PutInt(2, static_cast<int32_t>(d.source_server_id))) &&
         PutText(content, 3, d.sender_name) && PutText(content, 4, d.sender_address) &&
         Ok(content->PutCodec(5, entries.list()));
}

bool PutPart(const LongMailPart& p, TypedListWriter* parts) {
  TagCodec content;
  bool ok = true;
  switch (p.type) {
    case kPartRecipients:
      ok = PutAddressList(&content, 1, p.to) && PutAddressList(&content, 2, p.cc) &&
           PutAddressList(&content, 3, p.bcc);
      break;
    case kPartSubject:
      ok = PutText(&content, 1, p.subject);
      break;
    case kPartBody:
      ok = Ok(content.PutInt(1, static_cast<int32_t>(p.offset))) &&
           Ok(content.PutInt(2, static_cast<int32_t>(p.data.size()))) &&
           Ok(content.PutBytes(3, ByteView(p.data)));
      break;
    case kPartAttachment:
      ok = PutText(&content, 1, p.name) && Ok(content.PutInt(2, static_cast<int32_t>(p.offset))) &&
           Ok(content.PutInt(3, static_cast<int32_t>(p.data.size()))) &&
           Ok(content.PutBytes(4, ByteView(p.data)));
      break;
    default:
      return false;
  }
  return ok && Ok(parts->Add(p.type, &content));
}

// Result item 1 or one entry of result item 2: {1 code, 2 text}, or, with
// a tag 3, {1 name, 2 code, 3 text}.
int DecodeError(const TagCodec& c, bool named, LongMailServiceError* out) {
  const uint32_t code_tag = named ? 2 : 1;
  const uint32_t text_tag = named ? 3 : 2;
  int status = c.GetInt(code_tag, &out->code);
  if (status != CodecOk) return status;
  status = GetCutText(c, text_tag, kMaxServiceTextBytes, &out->text);
  return status == protocol::ErrNotPresent ? CodecOk : status;
}

int DecodeStatus(const TagCodec& c, LongMailStatus* out) {
  int32_t v1 = 0, v2 = 0;
  int status = c.GetInt(1, &out->status);
  if (status != CodecOk) return status;
  // Everything but the status may be absent.
  if (c.GetInt(3, &v1) == ErrMalformed || c.GetInt(4, &v2) == ErrMalformed ||
      c.GetInt(5, &out->percent) == ErrMalformed) {
    return ErrMalformed;
  }
  out->value1 = static_cast<uint32_t>(v1);
  out->value2 = static_cast<uint32_t>(v2);
  status = GetCutText(c, 2, kMaxServiceTextBytes, &out->text);
  return status == protocol::ErrNotPresent ? CodecOk : status;
}

int DecodeResults(const TagCodec& body, LongMailResponse* r) {
  TypedListReader results;
  if (results.Open(body, 3) != CodecOk) return ErrMalformed;
  int32_t type = 0;
  TagCodec item;
  while (results.Next(&type, &item)) {
    if (type == kResultError) {
      LongMailServiceError e;
      if (DecodeError(item, /*named=*/false, &e) != CodecOk) return ErrMalformed;
      if (e.code != 0 && !r->item1_error) r->item1_error = e;
    } else if (type == kResultEntries) {
      TypedListReader entries;
      if (entries.Open(item, 1) != CodecOk) return ErrMalformed;
      int32_t entry_type = 0;
      TagCodec entry;
      while (entries.Next(&entry_type, &entry)) {
        LongMailServiceError e;
        ByteView probe;
        const bool named = entry.GetView(3, &probe) == CodecOk;
        if (DecodeError(entry, named, &e) != CodecOk) return ErrMalformed;
        if (e.code != 0 && !r->item2_error) r->item2_error = e;
      }
      if (entries.failed()) return ErrMalformed;
    } else if (type == kResultStatus && !r->status) {
      LongMailStatus s;
      if (DecodeStatus(item, &s) != CodecOk) return ErrMalformed;
      r->status = s;
    }
  }
  return results.failed() ? ErrMalformed : CodecOk;
}

int DecodeInstruction(const TagCodec& body, LongMailResponse* r) {
  TypedListReader instructions;
  if (instructions.Open(body, 4) != CodecOk) return ErrMalformed;
  int32_t type = 0;
  TagCodec content;
  if (!instructions.Next(&type, &content)) return instructions.failed() ? ErrMalformed : CodecOk;
  LongMailInstruction in;
  in.type = type;
  if (type == kAskBody || type == kAskAttachment) {
    if (content.GetInt(1, &in.offset) != CodecOk || content.GetInt(2, &in.length) != CodecOk) {
      return ErrMalformed;
    }
  }
  if (type == kAskAttachment &&
      GetBoundedText(content, 3, kMaxProtocolNameBytes, &in.name) != CodecOk) {
    return ErrMalformed;
  }
  r->instruction = std::move(in);
  return CodecOk;
}

}  // namespace

bool EncodeLongMailRequest(const LongMailRequest& request, protocol::WireMessage* message) {
  protocol::StartRequest(protocol::MessageType::SendLongMail, request.head, message);
  const protocol::RequestHead& h = request.head;
  TagCodec& body = message->Body();
  TypedListWriter items;
  bool ok = true;
  if (request.description) {
    TagCodec content;
    ok = PutDescription(*request.description, &content) && Ok(items.Add(kItemDescription, &content));
  }
  if (ok && !request.parts.empty()) {
    TypedListWriter parts;
    for (const LongMailPart& p : request.parts) ok = ok && PutPart(p, &parts);
    TagCodec content;
    ok = ok && Ok(content.PutCodec(1, parts.list())) && Ok(items.Add(kItemUpload, &content));
  }
  ok = ok && Ok(items.Add(kItemClosing)) && PutText(&body, 1, h.session_key) &&
       Ok(body.PutInt(2, h.sync_key)) &&
       Ok(body.PutBytes(3, ByteView(h.data_id.data(), h.data_id.size()))) &&
       Ok(body.PutInt(4, static_cast<int32_t>(h.client_version))) && PutText(&body, 5, h.platform) &&
       PutText(&body, 6, request.key) && Ok(body.PutCodec(7, items.list()));
  if (!ok) body.Reset();
  return ok;
}

int DecodeLongMailResponse(const protocol::WireMessage& message, LongMailResponse* response) {
  *response = LongMailResponse();
  int status =
      protocol::DecodeResponseHead(message, protocol::MessageType::SendLongMail, &response->head);
  if (status != CodecOk || response->head.result != 0) return status;
  const TagCodec& body = message.Body();
  status = GetBoundedText(body, 2, kMaxLongMailKeyBytes, &response->key);
  if (status != CodecOk && status != protocol::ErrNotPresent) return ErrMalformed;
  if ((status = DecodeResults(body, response)) != CodecOk) return status;
  return DecodeInstruction(body, response);
}

}  // namespace commands
}  // namespace quill
