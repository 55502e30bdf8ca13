// Attachments and mail images through the mail service and quillpost-cli
// against the gateway: listing and fetching attachments (a cut download
// continues on the next call), text and picture previews, the images of a
// body into the cache (remote ones refused unless the gateway allows them,
// then repeated after -10), a -3 answer retried after a silent login, the
// usage counters, and quillpost-render showing the cached images.
#include <gtest/gtest.h>

#include <httplib.h>

#include <optional>
#include <sstream>
#include <thread>

#include "facade/mail_service.h"
#include "platform/canvas.h"
#include "platform/codepage.h"
#include "platform/image_decode.h"
#include "store/config_file.h"
#include "store/global_settings.h"
#include "tests/e2e/attachment_files.h"
#include "tests/e2e/client_rig.h"
#include "tests/gateway/maildir_writer.h"
#include "tools/render/render.h"

namespace quill {
namespace {

constexpr uint32_t kWaitMs = 15000;

// A plain HTTP server on 127.0.0.1 with one picture, for remote images.
class PictureServer {
 public:
  explicit PictureServer(std::string png) : png_(std::move(png)) {
    server_.Get("/pic.png", [this](const httplib::Request&, httplib::Response& res) {
      res.set_content(png_, "image/png");
    });
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    while (!server_.is_running()) std::this_thread::yield();
  }
  ~PictureServer() {
    server_.stop();
    thread_.join();
  }
  std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/pic.png"; }

 private:
  const std::string png_;
  httplib::Server server_;
  int port_ = 0;
  std::thread thread_;
};

class AttachmentCliEndToEnd : public ClientGatewayTest {
 protected:
  AttachmentCliEndToEnd() { cli_timeout_s_ = 20; }
  void Start() {
    AddAccount("alice", "secret", 10001, "爱丽丝");
    StartGateway();
    maildir_ = gateway::MaildirPath(state_.path(), "alice");
    ASSERT_EQ(Cli({"login", "alice", "secret"}), 0) << err_.str();
    store::GlobalSettings settings(DefaultFileSystem());
    settings.SetDataDir(data_.path());
    ASSERT_TRUE(settings.Set(store::global_keys::kAutoDeleteSpan, 0));
  }
  // The mail with its attachments and images, synced: MailID 1.
  void DeliverMail(const std::string& remote_url) {
    html_ = "<p>图片</p><img src=\"cid:red@x\"><br><img src=\"" + remote_url + "\">";
    gateway::MimePart inline_png{"image/png",
                                 "Content-ID: <red@x>\r\nContent-Disposition: inline\r\n",
                                 Png(40, 30, 0xFF0000FF)};
    gateway::Deliver(maildir_, "new/1.a",
                     gateway::MultipartMessage(
                         "附件", html_,
                         {gateway::AttachmentPart("数据.bin", data_bytes_),
                          gateway::AttachmentPart("说明.txt", Utf16ToCp936(u"你好，世界"),
                                                  "text/plain; charset=GB2312"),
                          gateway::AttachmentPart("photo.png", Png(800, 600, 0xFF00FF00), "image/png"),
                          inline_png}));
    ASSERT_EQ(Cli({"sync"}), 0) << err_.str();
  }

  std::string maildir_;
  std::string html_;
  std::string data_bytes_ = std::string(70000, 'q') + "end";
};

TEST_F(AttachmentCliEndToEnd, AttachmentsAreListedFetchedAndPreviewed) {
  Start();
  DeliverMail("http://127.0.0.1:9/none.png");
  ASSERT_EQ(Cli({"attachments", "1"}), 0) << err_.str();
  EXPECT_EQ(out_.str(),
            "1\t数据.bin\t70003\t0\n2\t说明.txt\t10\t0\n3\tphoto.png\t" +
                std::to_string(Png(800, 600, 0xFF00FF00).size()) + "\t0\n");

  // A download cut at its first piece leaves no file at the path; the next
  // call continues it.
  const std::string out = data_.path() + "/saved/数据.bin";
  server_->faults()->Set("getmailattach", {gateway::FaultMode::kDrop, 0, true});
  EXPECT_EQ(Cli({"fetch", "1", "1", "--out", out}), 1);
  EXPECT_FALSE(DefaultFileSystem()->Exists(out));
  ASSERT_EQ(Cli({"fetch", "1", "1", "--out", out}), 0) << err_.str();
  EXPECT_TRUE(ReadAll(out) == data_bytes_);
  EXPECT_NE(err_.str().find("fetch: 18432 of 70003 bytes"), std::string::npos) << err_.str();

  ASSERT_EQ(Cli({"fetch", "1", "2", "--text"}), 0) << err_.str();
  EXPECT_EQ(out_.str(), "你好，世界\n");

  const std::string preview = data_.path() + "/preview.png";
  ASSERT_EQ(Cli({"fetch", "1", "3", "--picture", "100", "100", "--out", preview}), 0) << err_.str();
  gfx::Canvas picture;
  ASSERT_EQ(gfx::DecodeImage(ByteView(ReadAll(preview)), &picture), gfx::ImageStatus::kOk);
  EXPECT_EQ(picture.width(), 100);
  EXPECT_EQ(picture.height(), 75);

  EXPECT_EQ(Cli({"fetch", "1", "9", "--out", out}), 1);
  EXPECT_EQ(Cli({"fetch", "1", "1"}), 2);

  // Every download, preview and slice counted.
  store::ConfigFile global(DefaultFileSystem());
  global.SetPath(data_.path() + "/global.cfg");
  EXPECT_GE(global.GetUInt("MailAttachOK", 0), 3u);
  EXPECT_GE(global.GetUInt("MailAttachNetErr", 0), 1u);
}

TEST_F(AttachmentCliEndToEnd, BodyImagesAreCachedAndRendered) {
  Start();
  DeliverMail("http://127.0.0.1:9/tracker.png");
  ASSERT_EQ(Cli({"images", "1"}), 1);
  // The related part is cached; the remote one is refused, not fetched.
  const std::string cached = out_.str();
  ASSERT_FALSE(cached.empty());
  EXPECT_EQ(cached.find('\n'), cached.size() - 1);
  const std::string path = cached.substr(0, cached.size() - 1);
  EXPECT_EQ(path.compare(0, data_.path().size(), data_.path()), 0);
  EXPECT_EQ(path.substr(path.size() - 4), ".png");
  gfx::Canvas picture;
  ASSERT_EQ(gfx::DecodeImage(ByteView(ReadAll(path)), &picture), gfx::ImageStatus::kOk);
  EXPECT_EQ(picture.width(), 40);
  EXPECT_NE(err_.str().find("tracker.png: image not available"), std::string::npos) << err_.str();
  // Asked again, the cached image is answered from the file.
  ASSERT_EQ(Cli({"images", "1"}), 1);
  EXPECT_EQ(out_.str(), cached);

  // quillpost-render shows the cached picture in place.
  const std::string body = data_.path() + "/body.html";
  ASSERT_TRUE(DefaultFileSystem()->ReplaceAtomically(body, ByteView(html_)));
  const std::string mail_dir = path.substr(0, path.rfind('/'));
  std::ostringstream rout, rerr;
  ASSERT_EQ(render::RunRender({body, "--mail-dir", mail_dir, "--out", data_.path() + "/with.png"},
                              rout, rerr), 0) << rerr.str();
  ASSERT_EQ(render::RunRender({body, "--out", data_.path() + "/without.png"}, rout, rerr), 0);
  auto red_pixels = [](const std::string& file) {
    gfx::Canvas page;
    EXPECT_EQ(gfx::DecodeImage(ByteView(ReadAll(file)), &page), gfx::ImageStatus::kOk);
    int red = 0;
    for (int y = 0; y < page.height(); ++y) {
      for (int x = 0; x < page.width(); ++x) red += (page.Row(y)[x] & 0xFFFFFF) == 0x0000FF;
    }
    return red;
  };
  EXPECT_GE(red_pixels(data_.path() + "/with.png"), 40 * 30);
  EXPECT_EQ(red_pixels(data_.path() + "/without.png"), 0);
}

TEST_F(AttachmentCliEndToEnd, RemoteImagesWhenAllowedArriveAfterNotReady) {
  PictureServer remote(Png(20, 10, 0xFF00FF00));
  allow_remote_images_ = true;
  Start();
  DeliverMail(remote.Url());
  ASSERT_EQ(Cli({"images", "1"}), 0) << err_.str();
  const std::string printed = out_.str();
  EXPECT_EQ(std::count(printed.begin(), printed.end(), '\n'), 2) << printed;
}

class AttachmentServiceEndToEnd : public AttachmentCliEndToEnd {
 protected:
  void MakeService() {
    facade::MailServiceOptions o;
    o.data_dir = data_.path();
    o.gateway = gateway_;
    o.fs = DefaultFileSystem();
    o.backend = &backend_;
    service_ = std::make_unique<facade::MailService>(&loop_, std::move(o));
    service_->SubscribeJobStarted([this] { ++started_; });
    service_->SubscribeJobEnded([this] { ++ended_; });
    ASSERT_TRUE(service_->OpenSavedAccount());
  }
  MessageLoop loop_;
  std::unique_ptr<facade::MailService> service_;
  int started_ = 0, ended_ = 0;
};

TEST_F(AttachmentServiceEndToEnd, ExpiredSessionsAreRenewedAndEveryRequestEndsOnce) {
  Start();
  DeliverMail("http://127.0.0.1:9/x.png");
  ASSERT_EQ(Cli({"attachments", "1"}), 0);
  MakeService();  // no session yet: the first request waits for a silent login
  std::vector<facade::AttachOutcome> pictures, downloads;
  service_->SubscribeAttachPicDone([&](const facade::AttachOutcome& o) { pictures.push_back(o); });
  service_->SubscribeAttachDownloadDone([&](const facade::AttachOutcome& o) {
    if (!o.progress) downloads.push_back(o);
  });
  const uint32_t sid = service_->store()->mails()->GetServerID(1);
  ASSERT_TRUE(service_->DoGetMailAttachPic(sid, u"photo.png", 3, 64, 64));
  ASSERT_TRUE(loop_.PumpUntil([&] { return pictures.size() == 1 && ended_ == started_; }, kWaitMs));
  EXPECT_TRUE(pictures[0].ok);
  const std::string first = pictures[0].path;

  // The session expires under a picture request: one silent login, the
  // same request again, one event.
  DefaultFileSystem()->Delete(first);
  server_->faults()->Set("getmailattach", {gateway::FaultMode::kExpire, 0, true});
  ASSERT_TRUE(service_->DoGetMailAttachPic(sid, u"photo.png", 3, 64, 64));
  ASSERT_TRUE(loop_.PumpUntil([&] { return pictures.size() == 2 && ended_ == started_; }, kWaitMs));
  EXPECT_TRUE(pictures[1].ok) << pictures[1].code;
  EXPECT_TRUE(DefaultFileSystem()->Exists(first));

  // One download at a time; a cancel ends it at once and keeps its bytes.
  server_->faults()->Set("getmailattach", {gateway::FaultMode::kDelay, 200});
  const std::string out = data_.path() + "/d.bin";
  ASSERT_TRUE(service_->DoDownloadMailAttach(sid, u"数据.bin", 1, out));
  EXPECT_FALSE(service_->DoDownloadMailAttach(sid, u"数据.bin", 1, out));
  ASSERT_TRUE(loop_.PumpUntil([&] { return DefaultFileSystem()->Exists(out + ".temp"); }, kWaitMs));
  EXPECT_TRUE(service_->CancelDownloadMailAttach());
  ASSERT_EQ(downloads.size(), 1u);
  EXPECT_FALSE(downloads[0].ok);
  ASSERT_TRUE(loop_.PumpUntil([&] { return ended_ == started_; }, kWaitMs));
  server_->faults()->ClearAll();
  ASSERT_TRUE(service_->DoDownloadMailAttach(sid, u"数据.bin", 1, out));
  ASSERT_TRUE(loop_.PumpUntil([&] { return downloads.size() == 2 && ended_ == started_; }, kWaitMs));
  EXPECT_TRUE(downloads[1].ok) << downloads[1].code;
  EXPECT_TRUE(ReadAll(out) == data_bytes_);

  // A session reset ends what runs and forgets the image queue.
  std::vector<facade::MailImageOutcome> images;
  service_->SubscribeMailImgDone([&](const facade::MailImageOutcome& o) { images.push_back(o); });
  server_->faults()->Set("getmailimg", {gateway::FaultMode::kDelay, 300});
  ASSERT_TRUE(service_->DoMailGetImg(1, u"cid:red@x", 0, 0));
  ASSERT_TRUE(service_->DoMailGetImg(1, u"cid:red@x", 10, 10));
  ASSERT_TRUE(service_->DoMailGetImg(1, u"cid:red@x", 20, 20));
  service_->ResetSession();
  ASSERT_EQ(images.size(), 1u);
  EXPECT_FALSE(images[0].ok);
  ASSERT_TRUE(loop_.PumpUntil([&] { return ended_ == started_; }, kWaitMs));
  EXPECT_EQ(images.size(), 1u);
}

}  // namespace
}  // namespace quill
