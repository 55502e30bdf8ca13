// The attachment and image jobs against the gateway serving real MIME
// mails: downloads byte-identical to the part, resumed after cuts and
// cancels, never a complete-looking file before the end; picture previews
// and text slices with their versions; hostile names and answers.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "commands/attach_job.h"
#include "commands/image_job.h"
#include "commands/sync_message.h"
#include "commands/transfer_files.h"
#include "platform/canvas.h"
#include "platform/codepage.h"
#include "platform/image_decode.h"
#include "protocol/codec_status.h"
#include "store/image_cache.h"
#include "store/mail_file_store.h"
#include "tests/e2e/attachment_files.h"
#include "tests/e2e/client_rig.h"
#include "tests/gateway/maildir_writer.h"

namespace quill {
namespace {

using commands::AttachJobInfo;
using commands::AttachResult;

std::string Noise(size_t n, uint32_t seed) {
  std::mt19937 random(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(random());
  return s;
}

// Records every report of an attachment job, handing it to the job's
// callbacks as the UI thread would; can stop the job after some pieces.
class JobUi : public engine::JobReporter, public commands::AttachHost {
 public:
  bool ShouldContinue() const override { return stop_after < 0 || progress < stop_after; }
  bool SendError(uint32_t error, uint32_t s) override {
    job->OnError(1, job->GetJobType(), error, s, 0);
    return true;
  }
  bool SendData(std::unique_ptr<engine::JobResult> r, uintptr_t) override {
    job->OnDataCome(1, job->GetJobType(), r.get(), 0);
    return true;
  }
  bool SendPercent(std::unique_ptr<engine::JobResult> r) override {
    job->OnPercent(1, job->GetJobType(), r.get(), 0);
    return true;
  }
  void AttachArrived(uint32_t, uint32_t, const AttachJobInfo&, const AttachResult& r) override {
    if (r.progress) {
      ++progress;
      // Never a complete-looking file at the target while pieces arrive.
      EXPECT_FALSE(DefaultFileSystem()->Exists(r.path)) << r.path;
      return;
    }
    ++ends;
    result = r;
  }
  void AttachFailed(uint32_t, uint32_t, const AttachJobInfo&, uint32_t, uint32_t s) override {
    ++ends;
    failed_step = s;
  }
  void AttachAbandoned(uint32_t, uint32_t, const AttachJobInfo&) override { ++ends; }

  engine::NetJob* job = nullptr;
  int stop_after = -1;  // pieces after which ShouldContinue turns false
  int progress = 0;
  int ends = 0;
  uint32_t failed_step = 0;
  AttachResult result;
};

// Wraps getmailattach: records the sub-request of every request, can cut
// the connection of the request after the Nth, and can run code after an
// answer.
class AttachSpy : public gateway::SessionCommand {
 public:
  explicit AttachSpy(gateway::FaultPlan* faults) : faults_(faults) {}
  protocol::MessageType type() const override { return protocol::MessageType::GetMailAttach; }
  bool Answer(const gateway::GatewaySession& s, const protocol::WireMessage& request,
              protocol::WireMessage* response) override {
    protocol::TagCodec sub;
    int32_t kind = 0, a = 0, b = 0, c = 0, d = 0;
    request.Body().GetInt(6, &kind);
    request.Body().GetCodec(7, &sub);
    sub.GetInt(1, &a);
    sub.GetInt(2, &b);
    sub.GetInt(3, &c);
    sub.GetInt(5, &d);
    // Download: offset; text: offset, version; picture: offset, version.
    offsets.push_back(kind == 3 ? c : a);
    versions.push_back(kind == 3 ? d : c);
    ++calls;
    if (calls == cut_after) faults_->Set("getmailattach", {gateway::FaultMode::kDrop, 0, true});
    if (answer) return answer(s, request, response, inner.get());
    const bool ok = inner->Answer(s, request, response);
    if (after) after(calls);
    return ok;
  }
  std::vector<int32_t> offsets, versions;
  int calls = 0;
  int cut_after = -1;
  std::function<void(int)> after;
  std::function<bool(const gateway::GatewaySession&, const protocol::WireMessage&,
                     protocol::WireMessage*, gateway::SessionCommand*)>
      answer;
  std::unique_ptr<gateway::SessionCommand> inner;  // the gateway's own command

 private:
  gateway::FaultPlan* const faults_;
};

class AttachmentEndToEnd : public ClientGatewayTest {
 protected:
  void SetUp() override {
    AddAccount("alice", "secret", 10001, "爱丽丝");
    StartGateway([this](gateway::GatewayServer* server) {
      auto spy = std::make_unique<AttachSpy>(server->faults());
      spy_ = spy.get();
      spy_->inner = server->AddSessionCommand("getmailattach", std::move(spy));
    });
    SignIn("alice", "secret");
    maildir_ = gateway::MaildirPath(state_.path(), "alice");
  }

  // Delivers the mail and lets the gateway give it ServerID 1.
  void DeliverMail(const std::string& message) {
    gateway::Deliver(maildir_, "new/1.a", message);
    recorder_ = Recorder();
    MessageCommand<commands::SyncResponse> sync(
        "/cgi-bin/rb-bin/sync",
        [](protocol::WireMessage* m) { return commands::EncodeSyncRequest({}, m); },
        commands::DecodeSyncResponse);
    ASSERT_EQ(engine::RunExchange(context_, engine::ExchangeRequest(), &sync, &recorder_),
              engine::ExchangeOutcome::kDelivered);
  }
  // Rewrites the mail in place (another version of its parts).
  void ReplaceMail(const std::string& message) { gateway::Deliver(maildir_, "new/1.a", message); }

  AttachResult Run(AttachJobInfo info, int stop_after = -1) {
    info.server_id = 1;
    commands::AttachRequest request;
    request.head.session_key = account_.session().session_key;
    commands::AttachJob job(&context_, DefaultFileSystem(), &ui_, info, request);
    ui_ = JobUi();
    ui_.job = &job;
    ui_.stop_after = stop_after;
    job.RunWith(&ui_);
    return ui_.result;
  }
  AttachResult Download(const std::string& name, const std::string& path, int stop_after = -1) {
    AttachJobInfo info;
    info.job_type = engine::kJobAttachDownload;
    info.name = Utf8ToUtf16(name);
    info.path = path;
    return Run(info, stop_after);
  }
  AttachResult Picture(const std::string& name, const std::string& path, int w, int h) {
    AttachJobInfo info;
    info.job_type = engine::kJobAttachPicture;
    info.name = Utf8ToUtf16(name);
    info.path = path;
    info.width = w;
    info.height = h;
    return Run(info);
  }
  AttachResult Text(const std::string& name, const std::string& path, int32_t offset,
                    int32_t length) {
    AttachJobInfo info;
    info.job_type = engine::kJobAttachText;
    info.name = Utf8ToUtf16(name);
    info.path = path;
    info.offset = offset;
    info.length = length;
    return Run(info);
  }

  std::string maildir_;
  AttachSpy* spy_ = nullptr;
  JobUi ui_;
};

TEST_F(AttachmentEndToEnd, DownloadsAreByteIdenticalAtEverySize) {
  const std::vector<std::pair<std::string, std::string>> files = {
      {"empty.bin", ""},
      {"one.bin", "x"},
      {"exact.bin", Noise(20480, 1)},
      {"over.bin", Noise(20481, 2)},
      {"big.bin", Noise(5 << 20, 3)},
      {"中文附件名.txt", "内容"}};
  std::vector<gateway::MimePart> parts;
  for (const auto& [name, data] : files) parts.push_back(gateway::AttachmentPart(name, data));
  DeliverMail(gateway::MultipartMessage("files", "<p>see</p>", parts));
  for (const auto& [name, data] : files) {
    const std::string path = data_.path() + "/out/" + name;
    const AttachResult r = Download(name, path);
    EXPECT_EQ(ui_.ends, 1) << name;
    EXPECT_EQ(r.result, 0) << name;
    EXPECT_EQ(r.sub_result, 0) << name;
    EXPECT_EQ(r.total, data.size()) << name;
    EXPECT_TRUE(ReadAll(path) == data) << name;
    EXPECT_FALSE(DefaultFileSystem()->Exists(commands::TempPath(path))) << name;
    EXPECT_FALSE(DefaultFileSystem()->Exists(commands::VersionPath(path))) << name;
  }
  // A name the mail does not have is refused and leaves nothing.
  const std::string missing = data_.path() + "/out/missing";
  EXPECT_EQ(Download("missing", missing).result, gateway::kMailResultNotFound);
  EXPECT_FALSE(DefaultFileSystem()->Exists(missing));
  EXPECT_FALSE(DefaultFileSystem()->Exists(commands::TempPath(missing)));
}

TEST_F(AttachmentEndToEnd, CutDownloadsResumeFromTheBytesHeld) {
  const std::string data = Noise(200000, 4);  // 11 pieces
  DeliverMail(gateway::MultipartMessage("f", "x", {gateway::AttachmentPart("a.bin", data)}));
  const std::string path = data_.path() + "/a.bin";
  for (int cut : {1, 4, 10}) {
    DefaultFileSystem()->Delete(path);
    spy_->offsets.clear();
    spy_->calls = 0;
    spy_->cut_after = cut;
    Download("a.bin", path);
    EXPECT_EQ(ui_.ends, 1);
    EXPECT_NE(ui_.failed_step, 0u);
    EXPECT_FALSE(DefaultFileSystem()->Exists(path)) << "complete-looking file after a cut";
    uint64_t held = 0;
    ASSERT_TRUE(commands::FileSize(DefaultFileSystem(), commands::TempPath(path), &held));
    EXPECT_EQ(held, static_cast<uint64_t>(cut) * gateway::kAttachPieceBytes);
    spy_->offsets.clear();
    spy_->cut_after = -1;
    const AttachResult r = Download("a.bin", path);
    EXPECT_EQ(r.result, 0);
    ASSERT_FALSE(spy_->offsets.empty());
    EXPECT_EQ(spy_->offsets.front(), static_cast<int32_t>(held)) << "cut after " << cut;
    EXPECT_TRUE(ReadAll(path) == data) << "cut after " << cut;
  }
}

TEST_F(AttachmentEndToEnd, CancelledDownloadResumesAndAChangedFileStartsOver) {
  const std::string data = Noise(100000, 5);
  DeliverMail(gateway::MultipartMessage("f", "x", {gateway::AttachmentPart("a.bin", data)}));
  const std::string path = data_.path() + "/a.bin";
  Download("a.bin", path, /*stop_after=*/2);
  EXPECT_EQ(ui_.ends, 0);  // a cancelled job reports nothing
  EXPECT_FALSE(DefaultFileSystem()->Exists(path));
  uint64_t held = 0;
  ASSERT_TRUE(commands::FileSize(DefaultFileSystem(), commands::TempPath(path), &held));
  EXPECT_EQ(held, 2 * gateway::kAttachPieceBytes);

  // The attachment changes before the next attempt: the bytes held belong
  // to the old one, so it starts over from 0.
  const std::string changed = Noise(100000, 6);
  ReplaceMail(gateway::MultipartMessage("f", "x", {gateway::AttachmentPart("a.bin", changed)}));
  spy_->offsets.clear();
  EXPECT_EQ(Download("a.bin", path).result, 0);
  ASSERT_GE(spy_->offsets.size(), 2u);
  EXPECT_EQ(spy_->offsets[0], static_cast<int32_t>(held));
  EXPECT_EQ(spy_->offsets[1], 0);
  EXPECT_TRUE(ReadAll(path) == changed);
}

TEST_F(AttachmentEndToEnd, CompletionAnswersAfterEveryByteIsHeldAreSuccess) {
  const std::string data = Noise(30000, 7);
  DeliverMail(gateway::MultipartMessage("f", "x", {gateway::AttachmentPart("a.bin", data)}));
  // Every byte arrived but the rename did not happen (a crash): the next
  // attempt is answered -4 at once, and that completes the file.
  const std::string path = data_.path() + "/a.bin";
  ASSERT_TRUE(DefaultFileSystem()->ReplaceAtomically(commands::TempPath(path), ByteView(data)));
  // The version the gateway gives this content, recorded as the job would.
  const int32_t version = gateway::ContentVersion(ByteView(data));
  ASSERT_TRUE(commands::WriteTransferVersion(DefaultFileSystem(), commands::VersionPath(path),
                                             version, data.size()));
  const AttachResult r = Download("a.bin", path);
  EXPECT_EQ(r.result, 0);
  EXPECT_EQ(r.sub_result, 0);
  EXPECT_EQ(spy_->offsets, std::vector<int32_t>{30000});
  EXPECT_TRUE(ReadAll(path) == data);
}

TEST_F(AttachmentEndToEnd, PicturePreviewsAreScaledKeptAndRestartedOnAVersionChange) {
  const std::string big = Png(1200, 900, 0xFF2040C0);
  DeliverMail(gateway::MultipartMessage(
      "p", "x", {gateway::AttachmentPart("photo.png", big, "image/png")}));
  const std::string path = data_.path() + "/Attachments/1_photo.png";
  AttachResult r = Picture("photo.png", path, 240, 320);
  ASSERT_EQ(r.result, 0);
  Bytes held;
  ASSERT_TRUE(DefaultFileSystem()->ReadFile(path, &held));
  gfx::Canvas preview;
  ASSERT_EQ(gfx::DecodeImage(ByteView(held), &preview), gfx::ImageStatus::kOk);
  EXPECT_EQ(preview.width(), 240);
  EXPECT_EQ(preview.height(), 180);
  EXPECT_FALSE(DefaultFileSystem()->Exists(commands::VersionPath(path)));

  // Asked again: answered from the file, without a request.
  const int calls = spy_->calls;
  r = Picture("photo.png", path, 240, 320);
  EXPECT_EQ(r.result, 0);
  EXPECT_EQ(r.total, held.size());
  EXPECT_EQ(spy_->calls, calls);

  // The picture changes between two pieces: the transfer restarts from 0
  // with the new version, and the result is the new picture whole.
  const std::string first = Noise(60000, 8);
  const std::string second = Noise(50000, 9);
  ReplaceMail(gateway::MultipartMessage("p", "x", {gateway::AttachmentPart("raw.bin", first)}));
  spy_->after = [&](int n) {
    if (n == spy_->calls && spy_->offsets.back() == 0 && spy_->versions.back() == 0) {
      ReplaceMail(gateway::MultipartMessage("p", "x", {gateway::AttachmentPart("raw.bin", second)}));
    }
  };
  spy_->offsets.clear();
  spy_->versions.clear();
  const std::string raw = data_.path() + "/Attachments/1_raw.bin";
  r = Picture("raw.bin", raw, 0, 0);
  spy_->after = nullptr;
  EXPECT_EQ(r.result, 0);
  EXPECT_TRUE(ReadAll(raw) == second);
  const int32_t new_version = gateway::ContentVersion(ByteView(second));
  ASSERT_GE(spy_->offsets.size(), 3u);
  EXPECT_EQ(spy_->offsets[1], static_cast<int32_t>(gateway::kAttachPieceBytes));  // answered -8
  EXPECT_EQ(spy_->offsets[2], 0);
  EXPECT_EQ(spy_->versions[2], new_version);  // the new version is held from then on
}

TEST_F(AttachmentEndToEnd, PictureWhoseVersionNeverSettlesFails) {
  DeliverMail(gateway::MultipartMessage(
      "p", "x", {gateway::AttachmentPart("raw.bin", Noise(60000, 10))}));
  uint32_t seed = 100;
  spy_->after = [&](int) {
    ++seed;
    ReplaceMail(gateway::MultipartMessage(
        "p", "x", {gateway::AttachmentPart("raw.bin", Noise(60000 + seed, seed + 1))}));
  };
  const std::string raw = data_.path() + "/Attachments/1_raw.bin";
  const AttachResult r = Picture("raw.bin", raw, 0, 0);
  spy_->after = nullptr;
  EXPECT_EQ(ui_.ends, 1);
  EXPECT_EQ(r.sub_result, commands::kAttachVersionChanged);
  EXPECT_LE(spy_->calls, 2 * (commands::kMaxPictureRestarts + 1));
  EXPECT_FALSE(DefaultFileSystem()->Exists(raw));
  EXPECT_FALSE(DefaultFileSystem()->Exists(commands::TempPath(raw)));
}

TEST_F(AttachmentEndToEnd, TextSlicesAreConvertedKeptAndRestartedWhenStale) {
  std::u16string text;
  for (int i = 0; i < 3000; ++i) text += u"中文文本";
  text += u"😀";  // a pair at the very end
  DeliverMail(gateway::MultipartMessage(
      "t", "x", {gateway::AttachmentPart("gbk.txt", Utf16ToCp936(text.substr(0, 12000)),
                                         "text/plain; charset=GBK"),
                 gateway::AttachmentPart("u.txt", Utf16ToUtf8(text), "text/plain; charset=utf-8")}));
  const std::string path = data_.path() + "/Attachments/1_gbk.txt";
  AttachResult r = Text("gbk.txt", path, 0, 1024);
  ASSERT_EQ(r.result, 0);
  EXPECT_EQ(r.text, text.substr(0, 1024));
  EXPECT_EQ(r.total, 12000u);
  r = Text("gbk.txt", path, 1024, 1024);
  EXPECT_EQ(r.text, text.substr(1024, 1024));
  // A slice held is answered from the file.
  const int calls = spy_->calls;
  r = Text("gbk.txt", path, 500, 1000);
  EXPECT_EQ(r.text, text.substr(500, 1000));
  EXPECT_EQ(r.offset, 500u);
  EXPECT_EQ(spy_->calls, calls);
  // A slice that would leave a gap in the file is served but not kept.
  r = Text("gbk.txt", path, 5000, 100);
  EXPECT_EQ(r.text, text.substr(5000, 100));
  uint64_t bytes = 0;
  ASSERT_TRUE(commands::FileSize(DefaultFileSystem(), path, &bytes));
  EXPECT_EQ(bytes, 2048u * 2);

  // Slices never split a surrogate pair.
  const std::string upath = data_.path() + "/Attachments/1_u.txt";
  r = Text("u.txt", upath, 12000, 1);
  EXPECT_EQ(r.text, u"");
  r = Text("u.txt", upath, 12000, 2);
  EXPECT_EQ(r.text, u"😀") << r.result << " " << r.sub_result << " " << r.offset << " " << r.total;

  // The text changes: the copy held is stale, the slice asked at 1024 is
  // answered from 0 of the new text.
  const std::u16string changed = u"新的文本" + text.substr(0, 100);
  ReplaceMail(gateway::MultipartMessage(
      "t", "x", {gateway::AttachmentPart("gbk.txt", Utf16ToCp936(changed), "text/plain; charset=gb2312")}));
  spy_->offsets.clear();
  r = Text("gbk.txt", path, 2048, 1024);
  EXPECT_EQ(r.result, 0);
  EXPECT_EQ(r.offset, 0u);
  EXPECT_EQ(r.text, changed);
  EXPECT_EQ(spy_->offsets, (std::vector<int32_t>{2048, 0}));

}

TEST_F(AttachmentEndToEnd, HostileNamesAndAnswersNeitherEscapeNorLoop) {
  const std::string data = Noise(50000, 11);
  DeliverMail(gateway::MultipartMessage(
      "h", "x",
      {gateway::AttachmentPart("../../escape.bin", data),
       gateway::AttachmentPart(std::string("a/b\r\n7?0?c\0d.bin", 16), data)}));
  store::MailFileStore files(DefaultFileSystem());
  files.SetBase(data_.path() + "/");
  const std::string dir = files.MailDir(1) + "Attachments/";
  // The names as a brief gives them, the way the client keeps them.
  for (const std::u16string& kept :
       {std::u16string(u"../../escape.bin"), std::u16string(u"a/b  7?0?c")}) {
    const std::string path = files.AttachmentPath(1, 1, kept);
    ASSERT_EQ(path.compare(0, dir.size(), dir), 0) << path;
    AttachJobInfo info;
    info.job_type = engine::kJobAttachPicture;
    info.name = kept;
    info.path = path;
    const AttachResult r = Run(info);
    EXPECT_EQ(r.result, 0) << path;
    EXPECT_TRUE(ReadAll(path) == data) << path;
  }
  std::vector<std::string> names;
  ASSERT_TRUE(DefaultFileSystem()->ListPrefix(DirName(data_.path() + "/x"), "", &names));
  for (const std::string& n : names) EXPECT_EQ(n.find("escape"), std::string::npos) << n;

  // A piece at another offset than asked: step 36, nothing kept.
  const std::string path = data_.path() + "/out.bin";
  spy_->answer = [](const gateway::GatewaySession& s, const protocol::WireMessage& request,
                    protocol::WireMessage* response, gateway::SessionCommand* inner) {
    if (!inner->Answer(s, request, response)) return false;
    protocol::TagCodec sub, moved;
    int32_t v = 0;
    response->Body().GetCodec(4, &sub);
    for (uint32_t tag : {1u, 2u, 3u, 4u, 6u}) {
      sub.GetInt(tag, &v);
      moved.PutInt(tag, tag == 3 ? v + 1 : v);
    }
    ByteView piece;
    sub.GetView(5, &piece);
    moved.PutBytes(5, piece);
    protocol::WireMessage out;
    out.SetType(protocol::MessageType::GetMailAttach);
    out.Body().PutInt(1, 0);
    out.Body().PutInt(2, 0);
    out.Body().PutInt(3, 1);
    out.Body().PutCodec(4, &moved);
    *response = std::move(out);
    return true;
  };
  Download("../../escape.bin", path);
  EXPECT_EQ(ui_.ends, 1);
  EXPECT_EQ(ui_.failed_step, commands::kStepDownloadOffset);
  EXPECT_FALSE(DefaultFileSystem()->Exists(path));
  EXPECT_FALSE(DefaultFileSystem()->Exists(commands::TempPath(path)));

  // A total that shrinks below the bytes held: the held bytes go, no loop.
  spy_->answer = nullptr;
  spy_->calls = 0;
  spy_->cut_after = 2;
  Download("../../escape.bin", path);
  spy_->cut_after = -1;
  ASSERT_TRUE(DefaultFileSystem()->Exists(commands::TempPath(path)));
  ReplaceMail(gateway::MultipartMessage(
      "h", "x", {gateway::AttachmentPart("../../escape.bin", data.substr(0, 1000))}));
  spy_->calls = 0;
  Download("../../escape.bin", path);
  EXPECT_EQ(ui_.ends, 1);
  EXPECT_LE(spy_->calls, 2);
  EXPECT_FALSE(DefaultFileSystem()->Exists(path));
  EXPECT_FALSE(DefaultFileSystem()->Exists(commands::TempPath(path)));
  // The next attempt starts over and completes.
  EXPECT_EQ(Download("../../escape.bin", path).result, 0);
  EXPECT_TRUE(ReadAll(path) == data.substr(0, 1000));
}

}  // namespace
}  // namespace quill
