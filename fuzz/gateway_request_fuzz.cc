// The gateway's whole request path below HTTP over arbitrary bytes: the
// login seal opened with the private key, the session's ticket, cipher and
// compress layers, the packed message and each command's request decoder
// and answer, against an account with a small Maildir and a live session.
//
// Input: a mode byte, a command name ending in '\n' (a name the gateway
// does not serve picks one by its bytes), then the payload. By mode:
//   0  the payload is the request body as POSTed
//   1  the payload is the compress layer, sealed as the client seals it
//   2  the payload is the packed message, wrapped as the client wraps it
//   3  the payload is a script of the message body's fields (BuildBody),
//      under the command's own message type, packed and wrapped
//   4  the payload is a mail, put into the Maildir: mail comes from the
//      network too. Its brief and body are asked for (from 0, and from an
//      offset the name's bytes give)
// Sealing in the harness gets the fuzzer past the ciphers, and building
// the body gets it past the codec checksums, so the layers and decoders
// behind them are reached; mode 0 keeps the ciphers and the seal opened
// with the private key under fire too.
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "gateway/account_book.h"
#include "gateway/gateway_cli.h"
#include "gateway/gateway_server.h"
#include "gateway/key_store.h"
#include "protocol/cipher_layer.h"
#include "protocol/codec_status.h"
#include "protocol/compress_layer.h"
#include "protocol/envelope.h"
#include "protocol/list_codec.h"
#include "protocol/message_type.h"
#include "protocol/wire_message.h"

using namespace quill;
using namespace quill::gateway;

namespace {

// A gateway over a state directory of its own, on tmpfs where there is one
// (the mailbox commits on every change the fuzzer makes).
struct Rig {
  Rig() {
    char tmpl[] = "/dev/shm/quill-gateway-fuzz-XXXXXX";
    char tmpl_tmp[] = "/tmp/quill-gateway-fuzz-XXXXXX";
    const char* dir = mkdtemp(tmpl);
    if (dir == nullptr) dir = mkdtemp(tmpl_tmp);
    if (dir == nullptr) abort();
    state_dir = dir;
    static std::string* removed_at_exit = &state_dir;
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(*removed_at_exit, ignored);
    });
    FileSystem* fs = DefaultFileSystem();
    std::string error;
    if (!AddAccountWithMaildir(fs, state_dir,
                               {"alice", PasswordDigestText("secret"), 10001, "alice@example.com",
                                "爱丽丝"},
                               &error)) {
      abort();
    }
    const std::string maildir = MaildirPath(state_dir, "alice");
    const std::pair<std::string, std::string> mails[] = {
        {"cur/1796637600.a:2,S",
         "From: =?UTF-8?B?5byg5LiJ?= <z@example.cn>\r\nTo: a@x, b@x\r\nSubject: one\r\n"
         "Date: Mon, 07 Dec 2026 10:00:00 +0000\r\nContent-Type: text/plain; charset=utf-8\r\n\r\n"
         "plain \xF0\x9F\x98\x80 body\r\n"},
        {"new/1796637601.b",
         "From: b@x\r\nSubject: two\r\nMIME-Version: 1.0\r\n"
         "Content-Type: multipart/mixed; boundary=o\r\n\r\n--o\r\nContent-Type: text/html\r\n\r\n"
         "<p>html</p>\r\n--o\r\nContent-Type: application/octet-stream\r\n"
         "Content-Disposition: attachment; filename=a.bin\r\n"
         "Content-Transfer-Encoding: base64\r\n\r\nAAECAw==\r\n--o--\r\n"},
        {".Work/cur/1796637602.c:2,S",
         "Subject: three\r\n\r\n" + std::string(40000, 'x')},
        {std::string("new/") + kMailFile, std::string("Subject: ") + kMailFile + "\r\n\r\nmode 4"},
    };
    for (const auto& [name, message] : mails) {
      const std::string path = maildir + "/" + name;
      if (!fs->MakeDirs(DirName(path)) || !fs->ReplaceAtomically(path, ByteView(message))) {
        abort();
      }
    }
    fs->ReplaceAtomically(MailboxRoot(state_dir) + "/alice/contacts.txt",
                          ByteView(std::string("张三\tzhang@x.cn\nBob\tbob@x.com\n")));
    GatewayOptions options;
    options.state_dir = state_dir;
    server = std::make_unique<GatewayServer>(options);
    if (!server->LoadState(&error) ||
        !LoadOrCreateServerKey(fs, state_dir + "/" + kServerKeyFileName, &key, &error) ||
        !server->sessions()->Grant("alice", 10001, &session)) {
      abort();
    }
    modulus = key.ModulusHex();
    exponent = key.ExponentHex();
    names = server->CommandNames();
    mail_id = FindMailId();
  }

  // The message type of a command the gateway serves.
  static protocol::MessageType TypeOf(const std::string& name) {
    for (uint16_t t = 101; t <= 111; ++t) {
      const char* n = protocol::CommandName(t);
      if (n != nullptr && name == n) return static_cast<protocol::MessageType>(t);
    }
    return protocol::MessageType::Auth;
  }

  // Wraps a packed message as the client does for `name`; false when it
  // cannot be wrapped.
  bool Wrap(const std::string& name, Bytes* packed) {
    protocol::RequestKeys keys;
    keys.use_session = name != "auth";
    keys.public_key = {modulus, exponent};
    keys.session_key = ByteView(session.session_key);
    protocol::ServerTicket ticket;
    ticket.Replace(ByteView(session.ticket));
    keys.ticket = &ticket;
    return protocol::WrapRequest(packed, keys) == protocol::kEnvOk;
  }

  // Answers one request of `name` whose body `fill` writes; the opened
  // response, or false when there was none.
  bool Ask(const std::string& name, const std::function<void(protocol::TagCodec*)>& fill,
           protocol::WireMessage* response) {
    protocol::WireMessage m;
    m.SetType(TypeOf(name));
    fill(&m.Body());
    Bytes body, answer;
    if (m.Pack(&body) != protocol::CodecOk || !Wrap(name, &body) ||
        !server->AnswerRequest(name, Fault(), ByteView(body), &answer)) {
      return false;
    }
    protocol::ServerTicket ticket;
    int32_t result = 0;
    return protocol::UnwrapResponse(&answer, ByteView(session.session_key), &ticket, &result) ==
               protocol::kEnvOk &&
           result == 0 &&
           response->Unpack(answer.data(), static_cast<int64_t>(answer.size())) ==
               protocol::CodecOk;
  }

  // The ServerID of the mail file kMailFile, from syncs from key 0.
  int32_t FindMailId() {
    int32_t key = 0, found = 0;
    for (int page = 0; page < 60; ++page) {
      protocol::WireMessage r;
      int32_t result = -1, more = 0;
      const auto request = [key](protocol::TagCodec* b) {
        b->PutInt(3, key);
        b->PutInt(6, 0);  // no client commands
      };
      if (!Ask("sync", request, &r) || r.Body().GetInt(1, &result) != protocol::CodecOk ||
          result != 0) {
        abort();
      }
      r.Body().GetInt(2, &key);
      r.Body().GetInt(3, &more);
      protocol::ListReader commands;
      if (commands.Open(r.Body(), 4, 6) != protocol::CodecOk) abort();
      for (int32_t i = 1; i <= commands.count(); ++i) {
        protocol::TagCodec item, command;
        int32_t type = 0, id = 0;
        std::string subject;
        if (commands.Item(i, &item) != protocol::CodecOk || item.GetInt(1, &type) != protocol::CodecOk ||
            item.GetCodec(2, &command) != protocol::CodecOk) {
          abort();
        }
        if (type == 11 && command.GetInt(1, &id) == protocol::CodecOk &&
            command.GetString(3, &subject) == protocol::CodecOk && subject == kMailFile) {
          found = id;
        }
      }
      if (more == 0) break;
    }
    if (found == 0) abort();
    return found;
  }

  // Puts `mail` in place of the file kMailFile (the same mail to the
  // mailbox, so nothing piles up from one input to the next) and asks for
  // its brief and its body, from 0 and from `offset`.
  void ServeMail(ByteView mail, int32_t offset) {
    // Wherever requests of the other modes marked or deleted it.
    const std::string maildir = MaildirPath(state_dir, "alice");
    for (const char* where : {"/cur/", "/.Trash/cur/", "/.Trash/new/"}) {
      for (const char* info : {"", ":2,", ":2,S"}) {
        DefaultFileSystem()->Delete(maildir + where + kMailFile + info);
      }
    }
    if (!DefaultFileSystem()->ReplaceAtomically(maildir + "/new/" + kMailFile, mail)) abort();
    protocol::WireMessage r;
    Ask("getmailbrief", [&](protocol::TagCodec* b) { b->PutInt(2, mail_id); }, &r);
    for (int32_t from : {0, offset}) {
      Ask("getmailbody",
          [&](protocol::TagCodec* b) {
            b->PutInt(2, mail_id);
            b->PutInt(3, from);
            b->PutInt(7, 1);
          },
          &r);
    }
  }

  static constexpr char kMailFile[] = "fuzz";
  std::string state_dir;
  int32_t mail_id = 0;  // the ServerID of kMailFile
  crypto::RsaKeyPair key;
  std::string modulus, exponent;
  std::unique_ptr<GatewayServer> server;
  GatewaySession session;
  std::vector<std::string> names;  // "auth" first
};

// Fills `top` from a script of fields, so that every record the decoders
// see is well formed (lengths and checksums right) while its fields are the
// fuzzer's. Per field a tag byte and a kind byte, then by kind % 4:
//   0  a 32-bit integer: 4 bytes, most significant first
//   1  bytes (a text): a length byte, then that many bytes
//   2  a nested record begins; its fields follow
//   3  the innermost nested record ends (at the end of the script every
//      open one does)
void BuildBody(ByteView script, protocol::TagCodec* top) {
  struct Nested {
    protocol::TagCodec codec;
    uint32_t tag;
  };
  std::vector<Nested> open;
  auto current = [&]() { return open.empty() ? top : &open.back().codec; };
  auto close = [&]() {
    Nested done = std::move(open.back());
    open.pop_back();
    current()->PutCodec(done.tag, &done.codec);
  };
  const uint8_t* p = script.data;
  const uint8_t* const end = script.data + script.size;
  while (end - p >= 2) {
    const uint32_t tag = p[0];
    const uint8_t kind = p[1] % 4;
    p += 2;
    if (kind == 0) {
      uint32_t v = 0;
      for (int i = 0; i < 4 && p < end; ++i) v = v << 8 | *p++;
      current()->PutUInt(tag, v);
    } else if (kind == 1) {
      size_t n = p < end ? *p++ : 0;
      n = std::min<size_t>(n, static_cast<size_t>(end - p));
      current()->PutBytes(tag, ByteView(p, n));
      p += n;
    } else if (kind == 2) {
      if (open.size() < 8) open.push_back(Nested{protocol::TagCodec(), tag});
    } else if (!open.empty()) {
      close();
    }
  }
  while (!open.empty()) close();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Rig* rig = new Rig;  // lives for the process, like a serving gateway
  if (size < 2 || size > (1u << 20)) return 0;
  const uint8_t mode = data[0] % 5;
  size_t at = 1;
  std::string name;
  while (at < size && data[at] != '\n' && name.size() < 32) name += static_cast<char>(data[at++]);
  if (at < size && data[at] == '\n') ++at;
  uint32_t name_hash = 0;
  for (char c : name) name_hash = name_hash * 31 + static_cast<uint8_t>(c);
  bool served = false;
  for (const std::string& n : rig->names) served = served || n == name;
  if (!served) name = rig->names[name_hash % rig->names.size()];
  const ByteView payload(data + at, size - at);

  if (mode == 4) {
    rig->ServeMail(payload, static_cast<int32_t>(name_hash & 0x7FFF));
    return 0;
  }
  Bytes body;
  switch (mode) {
    case 0:
      body = payload.ToBytes();
      break;
    case 1: {
      // The compress layer as it arrives deciphered: sealed with the session
      // (the login is sealed with the public key, so mode 2 covers it).
      if (name == "auth") return 0;
      if (protocol::SealSession(payload, ByteView(rig->session.session_key), &body,
                                ByteView(rig->session.ticket)) != protocol::kEnvOk) {
        return 0;
      }
      break;
    }
    case 2:
      body = payload.ToBytes();
      if (!rig->Wrap(name, &body)) return 0;
      break;
    case 3: {
      protocol::WireMessage m;
      m.SetType(Rig::TypeOf(name));
      BuildBody(payload, &m.Body());
      if (m.Pack(&body) != protocol::CodecOk || !rig->Wrap(name, &body)) return 0;
      break;
    }
  }
  Bytes answer;
  if (!rig->server->AnswerRequest(name, Fault(), ByteView(body), &answer)) abort();
  if (answer.empty() || answer.size() > kMaxResponseBytes) abort();
  return 0;
}
