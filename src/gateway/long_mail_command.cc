#include "gateway/long_mail_command.h"

#include <algorithm>
#include <chrono>
#include <set>

#include "gateway/gateway_server.h"
#include "gateway/mime_builder.h"
#include "platform/ascii.h"
#include "platform/crypto.h"
#include "platform/hex.h"
#include "protocol/codec_status.h"
#include "protocol/typed_list.h"

namespace quill {
namespace gateway {
namespace {

using protocol::CodecOk;
using protocol::TagCodec;
using protocol::TypedListReader;
using protocol::TypedListWriter;

constexpr size_t kMaxNameBytesOnWire = 4200;
constexpr size_t kMaxKeyBytes = 128;
constexpr int32_t kStatusDelivered = 0;
constexpr int32_t kStatusContinue = -10;

int64_t Now() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

bool Text(const TagCodec& c, uint32_t tag, size_t max, std::string* out) {
  return c.GetString(tag, out) == CodecOk && out->size() <= max;
}

// TAB and line breaks cannot stand in a header or in the book's lines.
std::string OneLine(std::string s) {
  for (char& c : s) {
    if (c == '\t' || c == '\r' || c == '\n') c = ' ';
  }
  return s;
}

bool IsDigest(const std::string& s) {
  return s.size() == 32 && std::all_of(s.begin(), s.end(), [](char c) {
           return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
         });
}

// An address of one local part, '@' and a domain, without spaces.
bool IsAddress(const std::string& a) {
  const size_t at = a.find('@');
  return at != std::string::npos && at > 0 && at + 1 < a.size() && a.find('@', at + 1) == std::string::npos &&
         a.find_first_of(" <>\"\t\r\n,;") == std::string::npos;
}

// The file name of a protocol name: its path's last component.
std::string FileNameOf(const std::string& protocol_name) {
  const size_t cut = protocol_name.find_last_of("/\\");
  return cut == std::string::npos ? protocol_name : protocol_name.substr(cut + 1);
}

bool Put(int status) { return status == CodecOk; }

}  // namespace

// A request as read, before anything is trusted beyond its bounds.
struct LongMailCommand::Request {
  struct Part {
    int32_t type = 0;
    std::vector<DeliveryAddress> recipients;
    std::string subject;
    std::string name;
    int32_t offset = 0;
    std::string data;
  };
  std::string key;
  bool described = false;
  int32_t mode = 0;
  uint32_t source = 0;
  std::string sender_name;
  int32_t body_length = -1;  // -1: no body-length entry
  std::vector<DeliveryFile> files;
  std::vector<Part> parts;
};

namespace {

bool ReadAddresses(const TagCodec& part, uint32_t tag, char list,
                   std::vector<DeliveryAddress>* out) {
  TypedListReader reader;
  if (reader.Open(part, tag) != CodecOk) return false;
  int32_t type = 0;
  TagCodec a;
  while (reader.Next(&type, &a)) {
    DeliveryAddress d;
    d.list = list;
    if (!Text(a, 1, kMaxNameBytes, &d.name) || !Text(a, 2, kMaxNameBytes, &d.address)) return false;
    d.name = OneLine(d.name);
    out->push_back(std::move(d));
  }
  return !reader.failed();
}

}  // namespace

LongMailCommand::LongMailCommand(FileSystem* fs, std::string state_dir, const AccountBook* accounts,
                                 const SmtpRelay* relay, MailboxSet* boxes)
    : fs_(fs),
      state_dir_(state_dir),
      accounts_(accounts),
      relay_(relay),
      boxes_(boxes),
      book_(fs, state_dir) {}

bool LongMailCommand::Refuse(int32_t code, protocol::WireMessage* response) {
  TypedListWriter results;
  TagCodec error;
  response->SetType(type());
  TagCodec& out = response->Body();
  return Put(error.PutInt(1, code)) && PutText(&error, 2, "refused", kMaxSubjectBytes) &&
         Put(results.Add(1, &error)) && Put(out.PutInt(1, 0)) && Put(out.PutCodec(3, results.list()));
}

bool LongMailCommand::Answer(const GatewaySession& session, const protocol::WireMessage& request,
                             protocol::WireMessage* response) {
  const TagCodec& body = request.Body();
  Request r;
  bool ok = Text(body, 6, kMaxKeyBytes, &r.key);
  TypedListReader items;
  ok = ok && items.Open(body, 7) == CodecOk;
  int32_t item_type = 0;
  TagCodec item;
  while (ok && items.Next(&item_type, &item)) {
    if (item_type == 1) {
      int32_t source = 0;
      ok = item.GetInt(1, &r.mode) == CodecOk && item.GetInt(2, &source) == CodecOk &&
           Text(item, 3, kMaxNameBytes, &r.sender_name);
      r.source = static_cast<uint32_t>(source);
      r.sender_name = OneLine(r.sender_name);
      r.described = true;
      TypedListReader entries;
      ok = ok && entries.Open(item, 5) == CodecOk;
      int32_t entry_type = 0;
      TagCodec entry;
      while (ok && entries.Next(&entry_type, &entry)) {
        if (entry_type == 3) {
          ok = entry.GetInt(1, &r.body_length) == CodecOk && r.body_length >= 0;
        } else if (entry_type == 4) {
          DeliveryFile f;
          int32_t size = 0;
          ok = Text(entry, 1, kMaxNameBytesOnWire, &f.name) && entry.GetInt(2, &size) == CodecOk &&
               size >= 0 && Text(entry, 3, 32, &f.digest) && IsDigest(f.digest) && !f.name.empty();
          f.size = static_cast<uint64_t>(size);
          r.files.push_back(std::move(f));
        }
      }
      ok = ok && !entries.failed();
    } else if (item_type == 2) {
      TypedListReader parts;
      ok = parts.Open(item, 1) == CodecOk;
      int32_t part_type = 0;
      TagCodec content;
      while (ok && parts.Next(&part_type, &content)) {
        Request::Part p;
        p.type = part_type;
        int32_t length = 0;
        switch (part_type) {
          case 1:
            ok = ReadAddresses(content, 1, 'T', &p.recipients) &&
                 ReadAddresses(content, 2, 'C', &p.recipients) &&
                 ReadAddresses(content, 3, 'B', &p.recipients);
            break;
          case 2:
            ok = Text(content, 1, kMaxSubjectBytes, &p.subject);
            p.subject = OneLine(p.subject);
            break;
          case 3:
            ok = content.GetInt(1, &p.offset) == CodecOk && content.GetInt(2, &length) == CodecOk &&
                 content.GetString(3, &p.data) == CodecOk;
            break;
          case 4:
            ok = Text(content, 1, kMaxNameBytesOnWire, &p.name) &&
                 content.GetInt(2, &p.offset) == CodecOk && content.GetInt(3, &length) == CodecOk &&
                 content.GetString(4, &p.data) == CodecOk;
            break;
          default:
            ok = false;
        }
        ok = ok && p.offset >= 0 && length >= 0 && p.data.size() == static_cast<size_t>(length);
        r.parts.push_back(std::move(p));
      }
      ok = ok && !parts.failed();
    }
  }
  if (!ok || items.failed()) return AnswerResult(type(), kMailResultBadRequest, response);
  std::lock_guard<std::mutex> lock(mu_);
  return Decide(session, r, response);
}

bool LongMailCommand::Decide(const GatewaySession& session, const Request& r,
                             protocol::WireMessage* response) {
  Delivery d;
  const bool fresh = r.key.empty();
  if (fresh) {
    uint64_t total = 0;
    for (const DeliveryFile& f : r.files) total += f.size;
    if (!r.described || r.body_length < 0 ||
        static_cast<uint64_t>(r.body_length) > kMaxLongMailBodyBytes ||
        r.files.size() > kMaxLongMailFiles || total > kMaxLongMailFiles * kMaxLongMailFileBytes ||
        std::any_of(r.files.begin(), r.files.end(),
                    [](const DeliveryFile& f) { return f.size > kMaxLongMailFileBytes; })) {
      return AnswerResult(type(), kMailResultBadRequest, response);
    }
    uint8_t random[16];
    if (!crypto::RandomBytes(random, sizeof random)) return false;
    d.key = HexEncodeLower(ByteView(random, sizeof random));
    d.account = session.account;
    d.created = Now();
    d.mode = r.mode;
    d.source = r.source;
    d.sender_name = r.sender_name;
    d.body_length = static_cast<uint64_t>(r.body_length);
    d.files = r.files;
    // A small mail: everything in its first request. Its content is what
    // tells a repeat.
    bool has_subject = false, has_recipients = false, whole_body = false;
    for (const Request::Part& p : r.parts) {
      has_subject |= p.type == 2;
      has_recipients |= p.type == 1;
      whole_body |= p.type == 3 && p.offset == 0 && p.data.size() == d.body_length;
    }
    if (d.files.empty() && has_subject && has_recipients && whole_body) {
      crypto::Md5Stream md5;
      md5.Update(ByteView(std::to_string(r.mode) + "\n" + std::to_string(r.source) + "\n" +
                          r.sender_name + "\n"));
      for (const Request::Part& p : r.parts) {
        md5.Update(ByteView(std::to_string(p.type) + "\n" + p.subject + "\n" + p.data + "\n"));
        for (const DeliveryAddress& a : p.recipients) {
          md5.Update(ByteView(std::string(1, a.list) + a.name + "\t" + a.address + "\n"));
        }
      }
      uint8_t digest[16];
      md5.Finish(digest);
      d.content = HexEncodeLower(ByteView(digest, sizeof digest));
      Delivery earlier;
      if (book_.FindSmall(d.account, d.content, d.created - kSmallMailRepeatSeconds, &earlier) &&
          earlier.delivered) {
        return AnswerDelivered(earlier, response);
      }
    }
  } else {
    bool found = false;
    if (auto live = live_.find(r.key); live != live_.end()) {
      d = live->second.delivery;
      found = true;
    } else {
      found = book_.Load(r.key, &d);
    }
    if (!found || !EqualsIgnoringAsciiCase(d.account, session.account)) {
      return Refuse(kLongMailUnknownKey, response);
    }
    if (d.delivered) return AnswerDelivered(d, response);
  }
  int32_t code = 0;
  std::string text;
  if (!Apply(r, &d, &code, &text)) {
    TypedListWriter results;
    TagCodec error;
    response->SetType(type());
    TagCodec& out = response->Body();
    return Put(error.PutInt(1, code)) && PutText(&error, 2, text, kMaxSubjectBytes) &&
           Put(results.Add(1, &error)) && Put(out.PutInt(1, 0)) &&
           PutText(&out, 2, d.key, kMaxKeyBytes) && Put(out.PutCodec(3, results.list()));
  }
  const bool complete = d.header && d.body_have == d.body_length &&
                        std::all_of(d.files.begin(), d.files.end(),
                                    [](const DeliveryFile& f) { return f.have == f.size; });
  // A new key is saved before it is given out, a complete mail before it
  // goes; in between the counts are saved about once a second, the spool
  // synced first. A crash loses at most the last second of pieces, which
  // are asked for again.
  const auto now = std::chrono::steady_clock::now();
  Live& live = live_[d.key];
  if (fresh || complete || now - live.saved >= kSaveInterval) {
    if (!book_.SyncSpool(d.key, d.files.size()) || !book_.Save(d)) {
      live_.erase(d.key);
      return AnswerResult(type(), kMailResultMailboxUnreadable, response);
    }
    live.saved = now;
  }
  live.delivery = d;
  if (!complete) return AnswerNext(d, response);
  const bool answered = Deliver(session, &d, response);
  if (d.delivered) {
    live_.erase(d.key);
  } else {
    live_[d.key].delivery = d;
  }
  return answered;
}

bool LongMailCommand::Apply(const Request& r, Delivery* d, int32_t* code, std::string* text) {
  bool subject = false, recipients = false;
  for (const Request::Part& p : r.parts) {
    const uint64_t offset = static_cast<uint64_t>(p.offset);
    if (p.type == 1) {
      for (const DeliveryAddress& a : p.recipients) {
        if (!IsAddress(a.address)) {
          *code = kLongMailBadPiece;
          *text = "收件人地址无效：" + a.address;
          return false;
        }
      }
      d->recipients = p.recipients;
      recipients = true;
    } else if (p.type == 2) {
      d->subject = p.subject;
      subject = true;
    } else if (p.type == 3) {
      // A piece past what is held (the gateway lost the pieces before it
      // in a crash) is not taken; the next answer asks for what is missing.
      if (offset > d->body_have) continue;
      if (offset + p.data.size() > d->body_length) {
        *code = kLongMailBadPiece;
        *text = "正文片段超出正文长度";
        return false;
      }
      if (!p.data.empty() && !book_.WritePiece(d->key, -1, offset, ByteView(p.data))) {
        *code = kLongMailCannotDeliver;
        *text = "无法保存正文";
        return false;
      }
      d->body_have = std::max<uint64_t>(d->body_have, offset + p.data.size());
    } else if (p.type == 4) {
      auto f = std::find_if(d->files.begin(), d->files.end(),
                            [&](const DeliveryFile& x) { return x.name == p.name; });
      if (f == d->files.end()) {
        *code = kLongMailBadPiece;
        *text = "没有这个附件";
        return false;
      }
      if (offset > f->have) continue;
      if (offset + p.data.size() > f->size) {
        *code = kLongMailSizeChanged;
        *text = "附件大小已改变";
        return false;
      }
      const int index = static_cast<int>(f - d->files.begin());
      if (!p.data.empty() && !book_.WritePiece(d->key, index, offset, ByteView(p.data))) {
        *code = kLongMailCannotDeliver;
        *text = "无法保存附件";
        return false;
      }
      f->have = std::max<uint64_t>(f->have, offset + p.data.size());
    }
  }
  // The header counts once both halves came, together.
  if (subject && recipients) d->header = true;
  return true;
}

bool LongMailCommand::AnswerNext(const Delivery& d, protocol::WireMessage* response) {
  TagCodec ask;
  int32_t ask_type = 1;  // the header, when nothing else is missing
  uint64_t held = d.header ? 1 : 0, total = 1 + d.body_length;
  for (const DeliveryFile& f : d.files) {
    held += f.have;
    total += f.size;
  }
  held += d.body_have;
  if (d.body_have < d.body_length) {
    ask_type = 3;
    if (!Put(ask.PutInt(1, static_cast<int32_t>(d.body_have))) ||
        !Put(ask.PutInt(2, static_cast<int32_t>(
                               std::min<uint64_t>(kLongMailPieceBytes, d.body_length - d.body_have))))) {
      return false;
    }
  } else {
    for (const DeliveryFile& f : d.files) {
      if (f.have == f.size) continue;
      ask_type = 4;
      if (!Put(ask.PutInt(1, static_cast<int32_t>(f.have))) ||
          !Put(ask.PutInt(2, static_cast<int32_t>(
                                 std::min<uint64_t>(kLongMailPieceBytes, f.size - f.have)))) ||
          !PutText(&ask, 3, f.name, kMaxNameBytesOnWire)) {
        return false;
      }
      break;
    }
  }
  TypedListWriter results, instructions;
  TagCodec status;
  response->SetType(type());
  TagCodec& out = response->Body();
  return Put(status.PutInt(1, kStatusContinue)) &&
         Put(status.PutInt(5, static_cast<int32_t>(held * 10000 / total))) &&
         Put(results.Add(3, &status)) && Put(instructions.Add(ask_type, &ask)) &&
         Put(out.PutInt(1, 0)) && PutText(&out, 2, d.key, kMaxKeyBytes) &&
         Put(out.PutCodec(3, results.list())) && Put(out.PutCodec(4, instructions.list()));
}

bool LongMailCommand::AnswerDelivered(const Delivery& d, protocol::WireMessage* response) {
  TypedListWriter results;
  TagCodec status;
  response->SetType(type());
  TagCodec& out = response->Body();
  return Put(status.PutInt(1, kStatusDelivered)) && PutText(&status, 2, "ok", kMaxSubjectBytes) &&
         Put(status.PutInt(3, static_cast<int32_t>(d.server_id))) &&
         Put(status.PutInt(4, static_cast<int32_t>(d.second))) && Put(status.PutInt(5, 10000)) &&
         Put(results.Add(3, &status)) && Put(out.PutInt(1, 0)) &&
         PutText(&out, 2, d.key, kMaxKeyBytes) && Put(out.PutCodec(3, results.list()));
}

bool LongMailCommand::Deliver(const GatewaySession& session, Delivery* d,
                              protocol::WireMessage* response) {
  // Entries of result item 2, one per recipient that cannot be reached.
  std::vector<std::pair<std::string, std::pair<int32_t, std::string>>> failed;
  auto refuse = [&](int32_t code, const std::string& text) {
    TypedListWriter results, entries;
    TagCodec list;
    response->SetType(type());
    TagCodec& out = response->Body();
    for (const auto& [name, why] : failed) {
      TagCodec entry;
      if (!PutText(&entry, 1, name, kMaxNameBytes) || !Put(entry.PutInt(2, why.first)) ||
          !PutText(&entry, 3, why.second, kMaxSubjectBytes) || !Put(entries.Add(1, &entry))) {
        return false;
      }
    }
    if (failed.empty()) {
      TagCodec entry;
      if (!Put(entry.PutInt(1, code)) || !PutText(&entry, 2, text, kMaxSubjectBytes) ||
          !Put(entries.Add(1, &entry))) {
        return false;
      }
    }
    return Put(list.PutCodec(1, entries.list())) && Put(results.Add(2, &list)) &&
           Put(out.PutInt(1, 0)) && PutText(&out, 2, d->key, kMaxKeyBytes) &&
           Put(out.PutCodec(3, results.list()));
  };

  // Every attachment must be what was described.
  for (size_t i = 0; i < d->files.size(); ++i) {
    Bytes bytes;
    if (d->files[i].size != 0 && !fs_->ReadFile(book_.SpoolPath(d->key, static_cast<int>(i)), &bytes)) {
      bytes.clear();
    }
    uint8_t digest[16];
    crypto::Md5(ByteView(bytes), digest);
    if (HexEncodeLower(ByteView(digest, sizeof digest)) != d->files[i].digest) {
      d->files[i].have = 0;  // asked for again from its start
      book_.Save(*d);
      TypedListWriter results;
      TagCodec error;
      response->SetType(type());
      TagCodec& out = response->Body();
      return Put(error.PutInt(1, kLongMailSizeChanged)) &&
             PutText(&error, 2, "附件大小已改变：" + FileNameOf(d->files[i].name), kMaxSubjectBytes) &&
             Put(results.Add(1, &error)) && Put(out.PutInt(1, 0)) &&
             PutText(&out, 2, d->key, kMaxKeyBytes) && Put(out.PutCodec(3, results.list()));
    }
  }

  const GatewayAccount* sender = accounts_->Find(session.account);
  if (sender == nullptr) return refuse(kLongMailCannotDeliver, "发件帐号不存在");
  // Recipients: this gateway's accounts once each, the others through the relay.
  std::vector<const GatewayAccount*> locals;
  std::vector<std::string> externals;
  std::set<std::string> seen;
  for (const DeliveryAddress& a : d->recipients) {
    const std::string lower = AsciiLowered(a.address);
    if (!seen.insert(lower).second) continue;
    const GatewayAccount* local = accounts_->FindByAddress(a.address);
    if (local != nullptr) {
      if (std::find(locals.begin(), locals.end(), local) == locals.end()) locals.push_back(local);
    } else {
      externals.push_back(a.address);
    }
  }
  if (!externals.empty() && !relay_->configured()) {
    for (const std::string& e : externals) {
      failed.push_back({e, {kLongMailNoRelay, "网关没有配置SMTP中继，无法投递到外部地址"}});
    }
    return refuse(0, std::string());
  }

  OutgoingMail mail;
  mail.from = {d->sender_name.empty() ? sender->nickname : d->sender_name, sender->address};
  for (const DeliveryAddress& a : d->recipients) {
    if (a.list == 'T') mail.to.push_back({a.name, a.address});
    if (a.list == 'C') mail.cc.push_back({a.name, a.address});
  }
  mail.subject = d->subject;
  mail.date = d->created;
  const size_t at = sender->address.find('@');
  mail.message_id = d->key + "@" + (at == std::string::npos ? "quillpost" : sender->address.substr(at + 1));
  Bytes html;
  if (d->body_length != 0 && !fs_->ReadFile(book_.SpoolPath(d->key, -1), &html)) {
    return refuse(kLongMailCannotDeliver, "无法读取正文");
  }
  mail.html.assign(html.begin(), html.end());
  for (size_t i = 0; i < d->files.size(); ++i) {
    mail.attachments.push_back(
        {FileNameOf(d->files[i].name), book_.SpoolPath(d->key, static_cast<int>(i))});
  }
  std::string message;
  if (!BuildMessage(fs_, mail, &message)) return refuse(kLongMailCannotDeliver, "无法生成邮件");

  // The relay first: when it refuses, nothing has been delivered yet.
  constexpr char kRelayCopy[] = "\x01relay";
  if (!externals.empty() && !book_.HasCopy(d->key, kRelayCopy)) {
    std::string why;
    if (!SendThroughRelay(*relay_, sender->address, externals, message, &why)) {
      for (const std::string& e : externals) {
        failed.push_back({e, {kLongMailRelayFailed, "SMTP中继投递失败：" + why}});
      }
      return refuse(0, std::string());
    }
    book_.RecordCopy(d->key, kRelayCopy);
  }
  const std::string unique = std::to_string(d->created) + "." + d->key;
  for (const GatewayAccount* local : locals) {
    if (book_.HasCopy(d->key, local->name)) continue;
    if (!WriteToMaildir(fs_, MaildirPath(state_dir_, local->name), "new/" + unique, message) ||
        !book_.RecordCopy(d->key, local->name)) {
      return refuse(kLongMailCannotDeliver, "无法投递到 " + local->address);
    }
  }
  // The sender's copy, which the next sync brings as the sent mail.
  const std::string sent = MaildirPath(state_dir_, session.account);
  Mailbox* box = boxes_->For(session.account);
  uint32_t server_id = 0;
  if (!fs_->MakeDirs(sent + "/.Sent/new") ||
      !WriteToMaildir(fs_, sent, ".Sent/cur/" + unique + ".sent:2,S", message) || !box->Refresh() ||
      !box->FindUnique(unique + ".sent", &server_id)) {
    return refuse(kLongMailCannotDeliver, "无法保存到已发送");
  }
  d->server_id = server_id;
  d->second = static_cast<uint32_t>(locals.size() + externals.size());
  d->delivered = true;
  if (!book_.Save(*d)) return refuse(kLongMailCannotDeliver, "无法记录投递");
  book_.DropSpool(d->key, d->files.size());
  return AnswerDelivered(*d, response);
}

}  // namespace gateway
}  // namespace quill
