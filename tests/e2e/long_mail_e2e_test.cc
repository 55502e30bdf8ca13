// Sending mail through our gateway: the facade's delivery between two
// accounts of one gateway (small and long mails, Chinese texts, attachments
// up to 5 MB checked byte for byte in the recipient's Maildir), resuming
// after cuts without a second copy, answers lost after the gateway acted,
// files changed between attempts, an SMTP relay (a real SMTP server started
// by the test), a hostile gateway, and quillpost-cli send and outbox.
#include <arpa/inet.h>
#include <gmime/gmime.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <map>
#include <optional>

#include "facade/mail_service.h"
#include "gateway/mail_parser.h"
#include "platform/ascii.h"
#include "platform/crypto.h"
#include "platform/hex.h"
#include "protocol/codec_status.h"
#include "protocol/typed_list.h"
#include "tests/e2e/client_rig.h"

namespace quill {
namespace {

constexpr uint32_t kWaitMs = 60000;

std::string Noise(size_t n, uint32_t seed) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) {
    seed = seed * 1103515245u + 12345u;
    s[i] = static_cast<char>(seed >> 16);
  }
  return s;
}

std::string ReadAll(const std::string& path) {
  Bytes b;
  EXPECT_TRUE(DefaultFileSystem()->ReadFile(path, &b)) << path;
  return std::string(b.begin(), b.end());
}

std::vector<std::string> FilesIn(const std::string& dir) {
  std::vector<std::string> out;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(dir, ec)) out.push_back(e.path());
  return out;
}

// What a test reads back from a delivered message: its subject and each
// attachment's file name with its decoded bytes.
struct Delivered {
  std::string subject;
  std::map<std::string, std::string> attachments;
  std::string html;
};

void Collect(GMimeObject*, GMimeObject* part, gpointer data) {
  auto* out = static_cast<Delivered*>(data);
  if (!GMIME_IS_PART(part)) return;
  GMimePart* leaf = GMIME_PART(part);
  GMimeStream* sink = g_mime_stream_mem_new();
  g_mime_data_wrapper_write_to_stream(g_mime_part_get_content(leaf), sink);
  GByteArray* bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(sink));
  std::string content(reinterpret_cast<const char*>(bytes->data), bytes->len);
  g_object_unref(sink);
  if (g_mime_part_is_attachment(leaf)) {
    const char* name = g_mime_part_get_filename(leaf);
    out->attachments[name != nullptr ? name : ""] = content;
  } else if (g_mime_content_type_is_type(g_mime_object_get_content_type(part), "text", "html")) {
    out->html = content;
  }
}

Delivered Parse(const std::string& message) {
  gateway::InitGMime();
  Delivered d;
  GMimeStream* stream = g_mime_stream_mem_new_with_buffer(message.data(), message.size());
  GMimeParser* parser = g_mime_parser_new_with_stream(stream);
  GMimeMessage* m = g_mime_parser_construct_message(parser, nullptr);
  if (m != nullptr) {
    if (const char* s = g_mime_message_get_subject(m)) d.subject = s;
    g_mime_message_foreach(m, Collect, &d);
    g_object_unref(m);
  }
  g_object_unref(parser);
  g_object_unref(stream);
  return d;
}

// The pieces a sendlongmail request carries: parts of type 3 and 4.
int PiecesIn(const protocol::WireMessage& request) {
  protocol::TypedListReader items;
  if (items.Open(request.Body(), 7) != protocol::CodecOk) return 0;
  int pieces = 0;
  int32_t type = 0;
  protocol::TagCodec item;
  while (items.Next(&type, &item)) {
    if (type != 2) continue;
    protocol::TypedListReader parts;
    parts.Open(item, 1);
    protocol::TagCodec part;
    while (parts.Next(&type, &part)) pieces += type == 3 || type == 4;
  }
  return pieces;
}

class LongMailEndToEnd : public ClientGatewayTest {
 protected:
  void SetUp() override {
    AddAccount("alice", "secret", 10001, "爱丽丝");
    AddAccount("bob", "secret", 10002, "鲍勃");
    files_ = data_.path() + "/files";
    ASSERT_TRUE(DefaultFileSystem()->MakeDirs(files_));
  }

  void Start(std::function<void(gateway::GatewayServer*)> more = nullptr) {
    StartGateway([this, more](gateway::GatewayServer* server) {
      auto send = std::make_unique<WatchedCommand>();
      send_ = send.get();
      send_->Wrap(server->AddSessionCommand("sendlongmail", std::move(send)));
      send_->Watch([this](int, const protocol::WireMessage& r) { pieces_ += PiecesIn(r); });
      if (more) more(server);
    });
    facade::MailServiceOptions o;
    o.data_dir = data_.path() + "/alice";
    o.gateway = gateway_;
    o.fs = DefaultFileSystem();
    o.backend = &backend_;
    o.http = context_.http;
    service_ = std::make_unique<facade::MailService>(&loop_, std::move(o));
    service_->SubscribeJobEnded([this] { ++ended_; });
    service_->SubscribeLongMailProgress(
        [this](const commands::LongMailProgress& p) { stages_.push_back(p.stage); });
    std::optional<commands::AuthOutcome> done;
    service_->SubscribeAuthDone([&](const commands::AuthOutcome& a) { done = a; });
    ASSERT_TRUE(service_->DoAuth(service_->connections().destination(), true, u"alice",
                                 Utf8ToUtf16(gateway::PasswordDigestText("secret")), true));
    ASSERT_TRUE(loop_.PumpUntil([&] { return done && !service_->LoginRunning(); }, kWaitMs));
    ASSERT_TRUE(done->ok);
  }

  std::string File(const std::string& name, const std::string& bytes) {
    const std::string path = files_ + "/" + name;
    EXPECT_TRUE(DefaultFileSystem()->ReplaceAtomically(path, ByteView(bytes)));
    return path;
  }

  uint32_t Save(const std::u16string& subject, const std::u16string& body,
                const std::vector<std::string>& attachments = {},
                std::vector<std::u16string> to = {u"\"鲍勃\"<bob@example.com>"}) {
    store::LocalMail mail;
    mail.for_sending = true;
    mail.to = std::move(to);
    mail.subject = subject;
    mail.body = body;
    for (const std::string& path : attachments) {
      uint64_t size = 0;
      auto f = DefaultFileSystem()->Open(path, FileSystem::OpenMode::kRead);
      EXPECT_TRUE(f != nullptr && f->Size(&size));
      mail.attachments.push_back({Utf8ToUtf16(path), size, store::kLocalFileAttachment});
    }
    uint32_t id = 0;
    EXPECT_TRUE(service_->store()->SaveLocalMail(mail, &id));
    return id;
  }

  // One delivery through its LongMailDone and the end of its job.
  commands::LongMailOutcome Send(uint32_t mail_id) {
    stages_.clear();
    requests_before_ = send_->requests;
    std::optional<commands::LongMailOutcome> done;
    const int id = service_->SubscribeLongMailDone(
        [&](const commands::LongMailOutcome& o, uint32_t m) {
          if (m == mail_id) done = o;
        });
    const int ended_before = ended_;
    EXPECT_TRUE(service_->DoDelvLongMail(mail_id, 1));
    EXPECT_TRUE(loop_.PumpUntil([&] { return done && ended_ > ended_before; }, kWaitMs));
    service_->UnsubscribeLongMailDone(id);
    return done.value_or(commands::LongMailOutcome());
  }
  int Requests() const { return send_->requests - requests_before_; }

  std::vector<std::string> Inbox(const std::string& account) {
    return FilesIn(gateway::MaildirPath(state_.path(), account) + "/new");
  }

  // Cut every sendlongmail request after the n-th (counted from now).
  void CutAfter(int n) {
    send_->Before(send_->requests + n, [this] {
      gateway::Fault cut;
      cut.mode = gateway::FaultMode::kCut;
      server_->faults()->Set("sendlongmail", cut);
    });
  }

  std::string files_;
  WatchedCommand* send_ = nullptr;
  std::atomic<int> pieces_{0};
  int requests_before_ = 0;
  MessageLoop loop_;
  std::unique_ptr<facade::MailService> service_;
  int ended_ = 0;
  std::vector<int> stages_;
};

TEST_F(LongMailEndToEnd, SmallAndLongMailsReachTheOtherAccountAndTheSentFolder) {
  Start();
  // Stored with the HTML page around it: 4,999 characters in all.
  const std::u16string wrap = u"<html><head></head><body></body></html>";
  const uint32_t small = Save(u"小邮件", std::u16string(4999 - wrap.size(), u'好'));
  commands::LongMailOutcome o = Send(small);
  ASSERT_TRUE(o.ok) << o.step << "," << o.code;
  EXPECT_EQ(Requests(), 1);
  EXPECT_EQ(stages_, (std::vector<int>{1, 8}));

  const uint32_t big = Save(u"大邮件", std::u16string(5000 - wrap.size(), u'好'));
  commands::LongMailOutcome o2 = Send(big);
  ASSERT_TRUE(o2.ok) << o2.step << "," << o2.code;
  EXPECT_EQ(stages_.front(), 1);
  EXPECT_EQ(stages_[1], 3);
  EXPECT_GT(Requests(), 2);

  // Each arrived once; the sender's copies are in ".Sent".
  const std::vector<std::string> inbox = Inbox("bob");
  ASSERT_EQ(inbox.size(), 2u);
  std::set<std::string> subjects;
  for (const std::string& f : inbox) subjects.insert(Parse(ReadAll(f)).subject);
  EXPECT_EQ(subjects, (std::set<std::string>{"小邮件", "大邮件"}));
  EXPECT_EQ(FilesIn(gateway::MaildirPath(state_.path(), "alice") + "/.Sent/cur").size(), 2u);

  // The local mails are the service's now: folder 3, the ServerIDs given.
  store::MailStore* mails = service_->store()->mails();
  store::MailRecord record;
  ASSERT_TRUE(mails->ReadMail(big, &record));
  EXPECT_EQ(record.server_id(), o2.server_id);
  EXPECT_EQ(record.folder(), store::kSentFolder);
  EXPECT_EQ(record.local_kind(), 0);
  store::MailFiles files;
  ASSERT_TRUE(mails->files()->LoadMailFiles(big, &files, false));
  EXPECT_TRUE(files.send_key.empty());
  EXPECT_FALSE(std::filesystem::exists(mails->files()->MailDir(big) + "sendmailid.txt"));

  // A sync brings the two sent copies as the mails held: nothing doubles.
  std::optional<facade::SyncOutcome> synced;
  service_->SubscribeSyncDone([&](const facade::SyncOutcome& s) { synced = s; });
  ASSERT_TRUE(service_->DoSync(5));
  ASSERT_TRUE(loop_.PumpUntil([&] { return synced.has_value(); }, kWaitMs));
  ASSERT_TRUE(synced->ok);
  EXPECT_EQ(mails->mail_count(), 2u);
  EXPECT_EQ(mails->TotalCount(store::kSentFolder), 2u);

  // A delivered mail is no local mail: it cannot be sent again.
  EXPECT_FALSE(service_->DoDelvLongMail(big, 1));
}

TEST_F(LongMailEndToEnd, AttachmentsWithChineseNamesArriveByteForByte) {
  Start();
  const std::string a = Noise(1000, 1), b = Noise(300000, 2), c = Noise(5 << 20, 3);
  const uint32_t id = Save(u"季度报告：附件三份", u"<p>请查收。</p>",
                           {File("报告.pdf", a), File("数据 表.xlsx", b), File("照片.jpg", c)});
  commands::LongMailOutcome o = Send(id);
  ASSERT_TRUE(o.ok) << o.step << "," << o.code;
  EXPECT_EQ(o.second_value, 1u);  // one recipient reached
  const std::vector<std::string> inbox = Inbox("bob");
  ASSERT_EQ(inbox.size(), 1u);
  const std::string raw = ReadAll(inbox[0]);
  const Delivered d = Parse(raw);
  EXPECT_EQ(d.subject, "季度报告：附件三份");
  EXPECT_NE(d.html.find("请查收。"), std::string::npos);
  ASSERT_EQ(d.attachments.size(), 3u);
  EXPECT_EQ(d.attachments.at("报告.pdf"), a);
  EXPECT_EQ(d.attachments.at("数据 表.xlsx"), b);
  EXPECT_EQ(d.attachments.at("照片.jpg"), c);
  // Headers are 7-bit: encoded words and RFC 2231 parameters.
  const std::string head = raw.substr(0, raw.find("\r\n\r\n"));
  EXPECT_TRUE(std::all_of(head.begin(), head.end(), [](char ch) { return (ch & 0x80) == 0; }));
  EXPECT_NE(AsciiLowered(raw).find("filename*=utf-8''"), std::string::npos);
  // The recipient's mailbox serves it.
  gateway::Mailbox box(DefaultFileSystem(), gateway::MaildirPath(state_.path(), "bob"));
  ASSERT_TRUE(box.Refresh());
  uint32_t through = 0;
  int added = 0;
  for (const gateway::JournalEntry& e : box.EntriesAfter(0, 100, &through)) {
    added += e.kind == gateway::JournalEntry::kAddMail;
  }
  EXPECT_EQ(added, 1);
}

TEST_F(LongMailEndToEnd, ResumesAfterCutsUploadingOnlyTheMissingPieces) {
  Start();
  const std::string bytes = Noise(200000, 9);  // 10 pieces
  for (int n : {2, 5, 9}) {
    const std::string path = File("part" + std::to_string(n) + ".bin", bytes);
    const uint32_t id = Save(u"续传", std::u16string(6000, u'字'), {path});
    pieces_ = 0;
    CutAfter(n);
    commands::LongMailOutcome first = Send(id);
    ASSERT_FALSE(first.ok);
    EXPECT_EQ(first.step, commands::kLongStepRead);
    server_->faults()->ClearAll();
    store::MailFiles files;
    ASSERT_TRUE(service_->store()->mails()->files()->LoadMailFiles(id, &files, false));
    EXPECT_FALSE(files.send_key.empty()) << n;

    commands::LongMailOutcome again = Send(id);
    ASSERT_TRUE(again.ok) << n << ": " << again.step << "," << again.code;
    EXPECT_EQ(stages_[1], commands::kStageResuming) << n;
    // Body (18,000 UTF-8 bytes: one piece) and file: 11 pieces in all,
    // whatever was cut where.
    EXPECT_EQ(pieces_, 11) << n;
  }
  EXPECT_EQ(Inbox("bob").size(), 3u);
}

TEST_F(LongMailEndToEnd, AnAnswerLostAfterTheGatewayActedNeverDeliversTwice) {
  Start();
  // The small mail: delivered, its answer dropped. The job must not send
  // it again by itself; the user's second attempt gets the first result.
  const uint32_t small = Save(u"只发一次", u"短信");
  gateway::Fault drop;
  drop.mode = gateway::FaultMode::kDrop;
  drop.once = true;
  server_->faults()->Set("sendlongmail", drop);
  commands::LongMailOutcome first = Send(small);
  EXPECT_FALSE(first.ok);
  EXPECT_EQ(Requests(), 1);
  EXPECT_EQ(Inbox("bob").size(), 1u);
  commands::LongMailOutcome again = Send(small);
  ASSERT_TRUE(again.ok) << again.step << "," << again.code;
  EXPECT_EQ(Inbox("bob").size(), 1u);

  // A long mail whose last answer is dropped: the job asks where it stands
  // and is told delivered.
  const uint32_t big = Save(u"长邮件", std::u16string(6000, u'字'), {File("x.bin", Noise(30000, 4))});
  send_->Before(send_->requests + 4, [this, drop] { server_->faults()->Set("sendlongmail", drop); });
  commands::LongMailOutcome o = Send(big);
  ASSERT_TRUE(o.ok) << o.step << "," << o.code;
  EXPECT_EQ(stages_.back(), commands::kStageResuming);
  EXPECT_EQ(Inbox("bob").size(), 2u);
}

TEST_F(LongMailEndToEnd, AGatewayStartedAgainResumesFromWhatItMadeDurable) {
  Start();
  const std::string bytes = Noise(200000, 12);  // 10 pieces
  const uint32_t id = Save(u"重启", std::u16string(6000, u'字'), {File("again.bin", bytes)});
  CutAfter(6);
  ASSERT_FALSE(Send(id).ok);
  // Another gateway process on the same state: the counts the first one
  // held only in memory are gone; the key and what it made durable are not.
  service_.reset();
  server_.reset();
  Start();
  pieces_ = 0;
  commands::LongMailOutcome o = Send(id);
  ASSERT_TRUE(o.ok) << o.step << "," << o.code;
  EXPECT_EQ(stages_[1], commands::kStageResuming);
  EXPECT_LE(pieces_, 11);
  const std::vector<std::string> inbox = Inbox("bob");
  ASSERT_EQ(inbox.size(), 1u);
  const Delivered d = Parse(ReadAll(inbox[0]));
  ASSERT_EQ(d.attachments.size(), 1u);
  EXPECT_EQ(d.attachments.begin()->second, bytes);
}

TEST_F(LongMailEndToEnd, FilesEditedOrDeletedBetweenAttemptsFailCleanly) {
  Start();
  const std::string path = File("会议纪要.doc", Noise(100000, 5));
  const uint32_t id = Save(u"改过的附件", std::u16string(6000, u'字'), {path});
  CutAfter(3);
  ASSERT_FALSE(Send(id).ok);
  server_->faults()->ClearAll();
  File("会议纪要.doc", Noise(100000, 6));  // the same size, other bytes
  commands::LongMailOutcome edited = Send(id);
  EXPECT_FALSE(edited.ok);
  EXPECT_EQ(edited.step, commands::kLongStepDigestDiffers);
  EXPECT_EQ(edited.code, commands::kCodeContentChanged);
  EXPECT_EQ(edited.text, u"附件内容已改变");
  ASSERT_TRUE(DefaultFileSystem()->Delete(path));
  commands::LongMailOutcome deleted = Send(id);
  EXPECT_FALSE(deleted.ok);
  EXPECT_EQ(deleted.step, commands::kLongStepOpenNamedFile);
  EXPECT_EQ(deleted.code, commands::kCodeCannotOpen);
  EXPECT_EQ(deleted.text, u"要发送的附件文件无法打开");
  EXPECT_TRUE(Inbox("bob").empty());
  // The mail stays in the outbox with its key.
  store::MailRecord record;
  ASSERT_TRUE(service_->store()->mails()->ReadMail(id, &record));
  EXPECT_EQ(record.server_id(), store::kLocalServerId);
  EXPECT_EQ(record.folder(), store::kLocalFolder);

  // A file written over after it was described, in one attempt: the
  // gateway finds the digest wrong at the end (-853).
  const std::string grown = File("grown.bin", Noise(50000, 7));
  const uint32_t id2 = Save(u"变化", u"x", {grown});
  send_->Before(send_->requests + 2, [grown] {
    auto f = DefaultFileSystem()->Open(grown, FileSystem::OpenMode::kReadWrite);
    const std::string other = Noise(50000, 8);
    ASSERT_TRUE(f != nullptr && f->WriteAt(0, other.data(), other.size()));
  });
  commands::LongMailOutcome changed = Send(id2);
  EXPECT_FALSE(changed.ok);
  EXPECT_EQ(changed.step, commands::kLongStepServiceError);
  EXPECT_EQ(changed.code, commands::kCodeSizeChanged);
  EXPECT_EQ(changed.text, u"附件大小已改变");
  EXPECT_TRUE(Inbox("bob").empty());
}

// A gateway that names files the mail does not hold, repeats itself and
// asks for 1 GB pieces; it keeps every request it gets.
class HostileSend : public gateway::SessionCommand {
 public:
  explicit HostileSend(std::vector<std::string> names) : names_(std::move(names)) {}
  // From the next request on: these names, and a fresh count.
  void Restart(std::vector<std::string> names) {
    std::lock_guard<std::mutex> lock(mu_);
    names_ = std::move(names);
    requests_.clear();
  }
  protocol::MessageType type() const override { return protocol::MessageType::SendLongMail; }
  bool Answer(const gateway::GatewaySession&, const protocol::WireMessage& request,
              protocol::WireMessage* response) override {
    std::lock_guard<std::mutex> lock(mu_);
    requests_.push_back(request.Body().Image().ToString());
    const size_t n = requests_.size() - 1;
    protocol::TypedListWriter results, instructions;
    protocol::TagCodec status, ask;
    status.PutInt(1, -10);
    results.Add(3, &status);
    ask.PutInt(1, 0);
    ask.PutInt(2, 1 << 30);
    ask.PutBytes(3, ByteView(names_[std::min(n, names_.size() - 1)]));
    instructions.Add(4, &ask);
    response->SetType(type());
    response->Body().PutInt(1, 0);
    response->Body().PutBytes(2, ByteView(std::string("EVIL")));
    response->Body().PutCodec(3, results.list());
    response->Body().PutCodec(4, instructions.list());
    return true;
  }
  std::vector<std::string> requests() {
    std::lock_guard<std::mutex> lock(mu_);
    return requests_;
  }

 private:
  std::mutex mu_;
  std::vector<std::string> names_;  // guarded by mu_
  std::vector<std::string> requests_;
};

TEST_F(LongMailEndToEnd, AHostileGatewayGetsNothingItShouldNot) {
  const std::string secret = "root:x:0:0 very secret";
  const std::string other = File("private.txt", secret);
  const std::string mine = File("mine.bin", Noise(100000, 11));
  uint8_t d[16];
  crypto::Md5(ByteView(Noise(100000, 11)), d);
  const std::string mine_name = HexEncodeLower(ByteView(d, 16)) + "\\" + mine;
  crypto::Md5(ByteView(secret), d);
  const std::string other_name = HexEncodeLower(ByteView(d, 16)) + "\\" + other;
  HostileSend* hostile = nullptr;
  // First its own file in 1 GB pieces, then the same again, then another file.
  Start([&](gateway::GatewayServer* server) {
    auto h = std::make_unique<HostileSend>(std::vector<std::string>{mine_name, mine_name, other_name});
    hostile = h.get();
    server->AddSessionCommand("sendlongmail", std::move(h));
  });
  const uint32_t id = Save(u"敌意", u"x", {mine});
  stages_.clear();
  std::optional<commands::LongMailOutcome> done;
  service_->SubscribeLongMailDone([&](const commands::LongMailOutcome& o, uint32_t) { done = o; });
  ASSERT_TRUE(service_->DoDelvLongMail(id, 1));
  ASSERT_TRUE(loop_.PumpUntil([&] { return done.has_value(); }, kWaitMs));
  EXPECT_FALSE(done->ok);
  EXPECT_EQ(done->step, commands::kLongStepInstruction);  // the repeat
  const std::vector<std::string> got = hostile->requests();
  ASSERT_EQ(got.size(), 2u);  // the description and one piece
  EXPECT_LT(got[1].size(), 20480u + 4096u);
  for (const std::string& r : got) EXPECT_EQ(r.find("very secret"), std::string::npos);

  // Another file of the user's, or /etc/passwd, named first: refused
  // before anything is read.
  const std::string passwd_name = std::string(32, '0') + "\\/etc/passwd";
  for (const std::string& name : {other_name, passwd_name}) {
    hostile->Restart({name});
    done.reset();
    ASSERT_TRUE(service_->DoDelvLongMail(id, 1));
    ASSERT_TRUE(loop_.PumpUntil([&] { return done.has_value(); }, kWaitMs));
    EXPECT_FALSE(done->ok);
    EXPECT_EQ(done->step, commands::kLongStepOpenNamedFile) << name;
    EXPECT_EQ(done->code, commands::kCodeCannotOpen);
    for (const std::string& r : hostile->requests()) {
      EXPECT_EQ(r.find("very secret"), std::string::npos);
      EXPECT_EQ(r.find("root:"), std::string::npos);
    }
  }
}

// A real SMTP server (aiosmtpd) on a loopback port, storing into a Maildir.
class SmtpServer {
 public:
  explicit SmtpServer(const std::string& maildir) : maildir_(maildir) {
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    close(s);
    pid_ = fork();
    if (pid_ == 0) {
      const std::string listen = "127.0.0.1:" + std::to_string(port_);
      execl("/usr/bin/python3", "python3", "-m", "aiosmtpd", "-n", "-l", listen.c_str(), "-c",
            "aiosmtpd.handlers.Mailbox", maildir.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
  }
  ~SmtpServer() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  // Waits until the server accepts connections.
  bool Ready() {
    for (int i = 0; i < 300; ++i) {
      const int s = socket(AF_INET, SOCK_STREAM, 0);
      sockaddr_in a{};
      a.sin_family = AF_INET;
      a.sin_port = htons(static_cast<uint16_t>(port_));
      a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      const bool up = connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
      close(s);
      if (up) return true;
      if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
        pid_ = -1;
        return false;
      }
      usleep(50000);  // the server starts in another process: nothing to wait on here
    }
    return false;
  }
  int port() const { return port_; }

 private:
  std::string maildir_;
  int port_ = 0;
  pid_t pid_ = -1;
};

TEST_F(LongMailEndToEnd, ExternalRecipientsGoThroughTheSmtpRelay) {
  if (access("/usr/bin/python3", X_OK) != 0) GTEST_SKIP() << "python3-aiosmtpd is not installed";
  const std::string smtp_dir = data_.path() + "/smtp";
  SmtpServer smtp(smtp_dir);
  ASSERT_TRUE(smtp.Ready()) << "python3 -m aiosmtpd did not start (package python3-aiosmtpd)";
  const std::string relay = "host=127.0.0.1\nport=" + std::to_string(smtp.port()) + "\n";
  ASSERT_TRUE(DefaultFileSystem()->ReplaceAtomically(state_.path() + "/relay.cfg", ByteView(relay)));
  Start();
  const std::string bytes = Noise(70000, 12);
  const uint32_t id = Save(u"外部邮件", u"给外面的朋友", {File("合同.pdf", bytes)},
                           {u"\"卡罗尔\"<carol@elsewhere.example>", u"\"鲍勃\"<bob@example.com>"});
  commands::LongMailOutcome o = Send(id);
  ASSERT_TRUE(o.ok) << o.step << "," << o.code;
  EXPECT_EQ(o.second_value, 2u);
  EXPECT_EQ(Inbox("bob").size(), 1u);
  const std::vector<std::string> relayed = FilesIn(smtp_dir + "/new");
  ASSERT_EQ(relayed.size(), 1u);
  const Delivered d = Parse(ReadAll(relayed[0]));
  EXPECT_EQ(d.subject, "外部邮件");
  ASSERT_EQ(d.attachments.count("合同.pdf"), 1u);
  EXPECT_EQ(d.attachments.at("合同.pdf"), bytes);
}

TEST_F(LongMailEndToEnd, WithoutARelayExternalRecipientsFailBeforeAnythingIsDelivered) {
  Start();
  const uint32_t id = Save(u"外部", u"x", {}, {u"\"鲍勃\"<bob@example.com>", u"<dave@elsewhere.example>"});
  commands::LongMailOutcome o = Send(id);
  EXPECT_FALSE(o.ok);
  EXPECT_EQ(o.step, commands::kLongStepServiceEntry);
  EXPECT_TRUE(Inbox("bob").empty());
}

// quillpost-cli send, send --resume and outbox.
class CliSendEndToEnd : public ClientGatewayTest {
 protected:
  CliSendEndToEnd() { cli_timeout_s_ = 60; }
  void SetUp() override {
    AddAccount("alice", "secret", 10001, "爱丽丝");
    AddAccount("bob", "secret", 10002, "鲍勃");
    StartGateway();
    ASSERT_EQ(Cli({"login", "alice", "secret"}), 0) << err_.str();
  }
};

TEST_F(CliSendEndToEnd, SendsResumesAndListsTheOutbox) {
  const std::string report = data_.path() + "/report.pdf";
  ASSERT_TRUE(DefaultFileSystem()->ReplaceAtomically(report, ByteView(Noise(50000, 13))));
  ASSERT_EQ(Cli({"send", "--to", "鲍勃 <bob@example.com>", "--cc", "alice@example.com", "--subject",
                 "周报", "--body", "本周进展", "--attach", report}),
            0)
      << err_.str();
  const std::string server_id = out_.str();
  EXPECT_GT(std::stoul(server_id), 0u);
  EXPECT_NE(err_.str().find("send: 正在上传附件（report.pdf）... "), std::string::npos) << err_.str();
  EXPECT_EQ(FilesIn(gateway::MaildirPath(state_.path(), "bob") + "/new").size(), 1u);
  EXPECT_EQ(FilesIn(gateway::MaildirPath(state_.path(), "alice") + "/new").size(), 1u);  // the Cc

  // The gateway refuses the attachment: the product's text, exit 1, and
  // the mail waits in the outbox with its key.
  gateway::Fault refuse;
  std::string command;
  ASSERT_TRUE(gateway::ParseFaultSpec("sendlongmail=refuse:-853", &command, &refuse));
  refuse.once = true;
  server_->faults()->Set(command, refuse);
  EXPECT_EQ(Cli({"send", "--to", "bob@example.com", "--subject", "再来", "--body-file", report,
                 "--attach", report}),
            1);
  EXPECT_NE(err_.str().find("发送失败[750,-853](服务器提示：附件大小已改变)"), std::string::npos)
      << err_.str();
  ASSERT_EQ(Cli({"outbox"}), 0);
  EXPECT_NE(out_.str().find("\t再来\t1 attachments\tnot sent\n"), std::string::npos) << out_.str();
  const std::string mail_id = out_.str().substr(0, out_.str().find('\t'));
  ASSERT_EQ(Cli({"send", "--resume", mail_id}), 0) << err_.str();
  ASSERT_EQ(Cli({"outbox"}), 0);
  EXPECT_EQ(out_.str(), "");
  EXPECT_EQ(FilesIn(gateway::MaildirPath(state_.path(), "bob") + "/new").size(), 2u);

  EXPECT_EQ(Cli({"send", "--to", "bob@example.com"}), 2);
  EXPECT_EQ(Cli({"send", "--resume", "999"}), 1);
}

}  // namespace
}  // namespace quill
