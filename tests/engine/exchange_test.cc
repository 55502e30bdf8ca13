// RunExchange against a scripted HTTP service on 127.0.0.1: the failing
// step of every way an exchange can break, the byte counters, the 20480-byte
// response limit, and what is hung up.
#include "engine/exchange.h"

#include <httplib.h>

#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "engine/trace.h"
#include "gtest/gtest.h"
#include "platform/crypto.h"
#include "platform/fault_file_system.h"
#include "protocol/envelope.h"
#include "protocol/message_type.h"
#include "protocol/response_wrapper.h"
#include "tests/job_reporters.h"

namespace quill {
namespace engine {
namespace {

// Always connected, unless told to refuse; counts hang-ups.
class CountingBackend : public LinuxConnectionBackend {
 public:
  bool Establish(const Destination& dest, ConnectionHandle* handle) override {
    if (refuse) return false;
    return LinuxConnectionBackend::Establish(dest, handle);
  }
  void Release(ConnectionHandle handle) override {
    ++releases;
    LinuxConnectionBackend::Release(handle);
  }
  std::atomic<bool> refuse{false};
  std::atomic<int> releases{0};
};

class CodeResult : public JobResult {
 public:
  explicit CodeResult(int32_t c) : code(c) {}
  int32_t ResultCode() const override { return code; }
  int32_t code;
};

// A command of message type 103 whose request carries tag 1 and whose
// response is tag 1 as the result code.
class EchoCommand : public ExchangeCommand {
 public:
  std::string RequestPath() const override { return "/cgi-bin/rb-bin/getmailbrief"; }
  bool EncodeRequest(protocol::WireMessage* m) override {
    if (fail_encode) return false;
    m->SetType(protocol::MessageType::GetMailBrief);
    return m->Body().PutInt(1, 7) == 0;
  }
  std::unique_ptr<JobResult> DecodeResponse(const protocol::WireMessage& m) override {
    int32_t code = 0;
    if (m.Body().GetInt(1, &code) != 0) return nullptr;
    return std::make_unique<CodeResult>(code);
  }
  bool fail_encode = false;
};

// A packed response message: tag 1 = code, tag 2 = `filler` bytes.
Bytes PackedResponse(int32_t code, const Bytes& filler) {
  protocol::WireMessage m;
  m.SetType(protocol::MessageType::GetMailBrief);
  m.Body().PutInt(1, code);
  if (!filler.empty()) m.Body().PutBytes(2, ByteView(filler));
  Bytes packed;
  EXPECT_EQ(0, m.Pack(&packed));
  return packed;
}

Bytes Noise(size_t n) {
  Bytes b(n);
  uint32_t x = 12345;
  for (auto& c : b) {
    x = x * 1103515245 + 12345;
    c = static_cast<uint8_t>(x >> 24);
  }
  return b;
}

class ExchangeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server_.Post(R"(/cgi-bin/rb-bin/(\w+))", [this](const httplib::Request& req,
                                                    httplib::Response& res) {
      last_request_size_ = req.body.size();
      handler_(req, res);
    });
    server_.set_tcp_nodelay(true);
    port_ = server_.bind_to_any_port("127.0.0.1");
    ASSERT_GT(port_, 0);
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    while (!server_.is_running()) std::this_thread::yield();
    gateway_.host = "127.0.0.1";
    gateway_.port = port_;
    account_.SetSession(kSession);
    context_.connections = &connections_;
    context_.gateway = &gateway_;
    context_.account = &account_;
    context_.http.receive_timeout_ms = 2000;
    // By default the service answers tag 1 = 0, sealed with the session key.
    Reply([](ByteView) { return PackedResponse(0, {}); });
  }
  void TearDown() override {
    server_.stop();
    thread_.join();
  }

  // The service opens each session request and seals make(packed request).
  void Reply(std::function<Bytes(ByteView)> make) {
    handler_ = [make](const httplib::Request& req, httplib::Response& res) {
      Bytes packed, ticket;
      if (protocol::OpenRequest(ByteView(req.body), nullptr, ByteView(kSession), &packed,
                                &ticket) != 0) {
        res.status = 400;
        return;
      }
      Bytes body;
      const Bytes ticket_out = {'t', 'k'};
      const ByteView t(ticket_out);
      EXPECT_EQ(0, protocol::WrapResponse(ByteView(make(ByteView(packed))), ByteView(kSession),
                                          &t, &body));
      res.set_content(std::string(body.begin(), body.end()), "application/octet-stream");
    };
  }
  void ReplyRaw(int status, std::string body) {
    handler_ = [status, body](const httplib::Request&, httplib::Response& res) {
      res.status = status;
      res.set_content(body, "application/octet-stream");
    };
  }
  // A wrapper of exactly `size` bytes around a response with result 0: the
  // filler brings it to within a cipher block, the ticket length the rest.
  Bytes WrappedOfSize(size_t size) {
    for (size_t filler = size; filler-- > 0;) {
      for (size_t ticket_length = 2; ticket_length < 40; ++ticket_length) {
        const Bytes ticket(ticket_length, 't');
        const ByteView tv(ticket);
        Bytes body;
        EXPECT_EQ(0, protocol::WrapResponse(ByteView(PackedResponse(0, Noise(filler))),
                                            ByteView(kSession), &tv, &body));
        if (body.size() == size) return body;
        if (ticket_length == 2 && body.size() > size) break;
      }
    }
    ADD_FAILURE() << "no filler gives " << size << " bytes";
    return {};
  }

  ExchangeOutcome Run(ExchangeMode mode = ExchangeMode::kSession) {
    ExchangeRequest request;
    request.mode = mode;
    return RunExchange(context_, request, &command_, &recorder_);
  }

  static constexpr char kSession[] = "0123456789abcdef0123456789abcdef";
  httplib::Server server_;
  std::thread thread_;
  int port_ = 0;
  std::atomic<size_t> last_request_size_{0};
  std::function<void(const httplib::Request&, httplib::Response&)> handler_;
  CountingBackend backend_;
  ConnectionManager connections_{&backend_, nullptr};
  GatewayConfig gateway_;
  AccountState account_;
  ExchangeContext context_;
  EchoCommand command_;
  Recorder recorder_;
};

TEST_F(ExchangeTest, DeliversTheDecodedResponseAndCountsBothWays) {
  Reply([](ByteView) { return PackedResponse(-7, {}); });
  EXPECT_EQ(ExchangeOutcome::kDelivered, Run(ExchangeMode::kSync));
  ASSERT_EQ(1, recorder_.reports);
  ASSERT_TRUE(recorder_.result);
  EXPECT_EQ(-7, recorder_.result->ResultCode());
  const TransferTotals t = account_.totals();
  EXPECT_EQ(last_request_size_.load(), t.sent);
  EXPECT_GT(t.received, 0u);
  EXPECT_EQ(t.sent, t.daily_sent);  // sync bytes count toward the daily limit
  EXPECT_EQ(t.received, t.daily_received);
  EXPECT_EQ(Bytes({'t', 'k'}), account_.ticket()->Get());
}

TEST_F(ExchangeTest, SessionKeyErrorIsDeliveredAsAResponse) {
  Bytes wrapper;
  ASSERT_EQ(0, protocol::WriteWrapper(-3, ByteView(), &wrapper));
  ReplyRaw(200, std::string(wrapper.begin(), wrapper.end()));
  EXPECT_EQ(ExchangeOutcome::kDelivered, Run());
  ASSERT_TRUE(recorder_.result);
  EXPECT_EQ(-3, recorder_.result->ResultCode());
}

// A login (or a reset) replaces the session while the request is out: the
// answer is still opened with the key its request was sealed with.
TEST_F(ExchangeTest, OneSessionKeySealsTheRequestAndOpensItsAnswer) {
  Reply([this](ByteView) {
    account_.SetSession("another session key, set meanwhile");
    return PackedResponse(-7, {});
  });
  EXPECT_EQ(ExchangeOutcome::kDelivered, Run());
  ASSERT_TRUE(recorder_.result);
  EXPECT_EQ(-7, recorder_.result->ResultCode());
}

TEST_F(ExchangeTest, BadBodiesAreStepSixWhateverTheHttpStatus) {
  for (int status : {200, 500, 404}) {
    SCOPED_TRACE(status);
    ReplyRaw(status, "<html>not a wrapper</html>");
    recorder_ = Recorder();
    const TransferTotals before = account_.totals();
    EXPECT_EQ(ExchangeOutcome::kFailed, Run());
    EXPECT_EQ(1, recorder_.reports);
    EXPECT_EQ(kStepDecodeBody, recorder_.step);
    // Both counters grew although the decode failed.
    EXPECT_GT(account_.totals().sent, before.sent);
    EXPECT_EQ(before.received + 26, account_.totals().received);
  }
  EXPECT_EQ(0, backend_.releases.load());  // a decode failure keeps the connection
}

TEST_F(ExchangeTest, ExactlyTheLimitDecodesOneByteMoreIsStepSix) {
  const Bytes exact = WrappedOfSize(kResponseLimit);
  ReplyRaw(200, std::string(exact.begin(), exact.end()));
  EXPECT_EQ(ExchangeOutcome::kDelivered, Run());
  EXPECT_EQ(kResponseLimit, account_.totals().received);

  const Bytes over = WrappedOfSize(kResponseLimit + 1);
  ReplyRaw(200, std::string(over.begin(), over.end()));
  recorder_ = Recorder();
  EXPECT_EQ(ExchangeOutcome::kFailed, Run());
  EXPECT_EQ(kStepDecodeBody, recorder_.step);
  EXPECT_EQ(2 * kResponseLimit, account_.totals().received);  // cut at the limit
}

TEST_F(ExchangeTest, NoServerIsStepFourAndHangsUp) {
  server_.stop();
  thread_.join();
  thread_ = std::thread([] {});
  EXPECT_EQ(ExchangeOutcome::kFailed, Run());
  EXPECT_EQ(kStepSend, recorder_.step);
  EXPECT_EQ(kHttpErrorCannotConnect, recorder_.system_error);
  EXPECT_EQ(1, backend_.releases.load());
  EXPECT_EQ(0u, account_.totals().sent);
}

TEST_F(ExchangeTest, BodyThatCannotBeBuiltIsNeverSent) {
  command_.fail_encode = true;
  EXPECT_EQ(ExchangeOutcome::kFailed, Run());
  EXPECT_EQ(kStepSend, recorder_.step);
  EXPECT_EQ(kHttpErrorInternal, recorder_.system_error);
  EXPECT_EQ(0u, last_request_size_.load());
  EXPECT_EQ(0, backend_.releases.load());
}

TEST_F(ExchangeTest, NoConnectionIsSilentExceptForTheLogin) {
  backend_.refuse = true;
  EXPECT_EQ(ExchangeOutcome::kNoConnection, Run());
  EXPECT_EQ(0, recorder_.reports);
  EXPECT_EQ(ExchangeOutcome::kFailed, Run(ExchangeMode::kLogin));
  EXPECT_EQ(1, recorder_.reports);
  EXPECT_EQ(kStepNoConnection, recorder_.step);
}

TEST_F(ExchangeTest, DailyLimitStopsOnlyTheSync) {
  struct Spent : TransferBudget {
    bool Reached() override { return true; }
  } spent;
  context_.budget = &spent;
  EXPECT_EQ(ExchangeOutcome::kFailed, Run(ExchangeMode::kSync));
  EXPECT_EQ(kStepFlowLimit, recorder_.step);
  EXPECT_EQ(0u, last_request_size_.load());
  recorder_ = Recorder();
  EXPECT_EQ(ExchangeOutcome::kDelivered, Run());
}

// Each failing step leaves one line in the network log: its message, the
// error and the step.
TEST_F(ExchangeTest, FailingStepsAreTracedWithTheirMessages) {
  struct Lines : TraceSink {
    void Write(std::string_view file, std::string_view message, uint32_t v1, uint32_t v2) override {
      if (file != kNetworkLog) return;  // not the connection manager's
      lines.push_back(std::string(file) + "|" + std::string(message) + "|" + std::to_string(v1) +
                      "|" + std::to_string(v2));
    }
    std::vector<std::string> lines;
  } sink;
  SetTraceSink(&sink);
  ReplyRaw(200, "<html>not a wrapper</html>");
  EXPECT_EQ(ExchangeOutcome::kFailed, Run());
  struct Spent : TransferBudget {
    bool Reached() override { return true; }
  } spent;
  context_.budget = &spent;
  EXPECT_EQ(ExchangeOutcome::kFailed, Run(ExchangeMode::kSync));
  context_.budget = nullptr;
  server_.stop();
  thread_.join();
  thread_ = std::thread([] {});
  EXPECT_EQ(ExchangeOutcome::kFailed, Run());
  SetTraceSink(nullptr);
  EXPECT_EQ(sink.lines, (std::vector<std::string>{
                            "Network.txt|DecodeResponseBody err|12152|6",
                            "Network.txt|Reach net flow limit of the day|0|200",
                            "Network.txt|HttpSendRequest err|12029|4",
                        }));
}

TEST_F(ExchangeTest, LoginIsSealedWithThePublicKeyAndOpenedWithThePasswordKey) {
  crypto::RsaKeyPair key;
  ASSERT_TRUE(key.Generate(1024));
  const std::string modulus = key.ModulusHex(), exponent = key.ExponentHex();
  gateway_.modulus_hex = modulus;
  gateway_.exponent_hex = exponent;
  const std::string login_key = protocol::NarrowLoginKey(u"5f4dcc3b5aa765d61d8327deb882cf99");
  int32_t wrapper_result = 0;
  handler_ = [&](const httplib::Request& req, httplib::Response& res) {
    Bytes packed, ticket;
    ASSERT_EQ(0, protocol::OpenRequest(ByteView(req.body), &key, ByteView(), &packed, &ticket));
    Bytes body;
    if (wrapper_result != 0) {
      protocol::WriteWrapper(wrapper_result, ByteView(), &body);
    } else {
      protocol::WrapResponse(ByteView(PackedResponse(0, {})), ByteView(login_key), nullptr,
                             &body);
    }
    res.set_content(std::string(body.begin(), body.end()), "application/octet-stream");
  };
  ExchangeRequest request;
  request.mode = ExchangeMode::kLogin;
  request.login_key = login_key;
  request.access_point = connections_.destination();
  EXPECT_EQ(ExchangeOutcome::kDelivered, RunExchange(context_, request, &command_, &recorder_));
  // A -3 wrapper is no session error for the login: it has no session.
  wrapper_result = -3;
  recorder_ = Recorder();
  EXPECT_EQ(ExchangeOutcome::kFailed, RunExchange(context_, request, &command_, &recorder_));
  EXPECT_EQ(kStepDecodeBody, recorder_.step);
  EXPECT_EQ(0u, account_.totals().daily_sent);
}

TEST_F(ExchangeTest, KeptConnectionIsReusedAcrossExchanges) {
  HttpConnectionCache cache;
  context_.http_cache = &cache;
  std::mutex mu;
  std::set<int> client_ports;
  auto reply = handler_;
  handler_ = [&](const httplib::Request& req, httplib::Response& res) {
    {
      std::lock_guard<std::mutex> lock(mu);
      client_ports.insert(req.remote_port);
    }
    reply(req, res);
  };
  for (int i = 0; i < 5; ++i) {
    recorder_ = Recorder();
    EXPECT_EQ(ExchangeOutcome::kDelivered, Run());
  }
  EXPECT_EQ(1u, client_ports.size());
}


// --- Chunked download: a file served 1000 bytes per request; request tag 1
// is the offset, response tags 1 result, 2 total, 3 piece.
class FileCommand : public ChunkedDownloadCommand {
 public:
  std::string RequestPath() const override { return "/cgi-bin/rb-bin/getmailattach"; }
  bool EncodeChunk(uint64_t offset, protocol::WireMessage* m) override {
    m->SetType(protocol::MessageType::GetMailAttach);
    offsets.push_back(offset);
    return m->Body().PutInt(1, static_cast<int32_t>(offset)) == 0;
  }
  bool DecodeChunk(const protocol::WireMessage& m, ChunkReply* r) override {
    int32_t total = 0;
    if (m.Body().GetInt(1, &r->result) != 0) return false;
    if (r->result != 0) {
      r->message = std::make_unique<CodeResult>(r->result);
      return true;
    }
    ByteView piece;
    if (m.Body().GetInt(2, &total) != 0 || m.Body().GetView(3, &piece) != 0) return false;
    r->piece.assign(piece.data, piece.data + piece.size);
    r->total = static_cast<uint64_t>(total);
    return true;
  }
  std::unique_ptr<JobResult> Progress(uint64_t offset, uint64_t total) override {
    progress.push_back(offset * 100 / total);
    return std::make_unique<CodeResult>(0);
  }
  std::unique_ptr<JobResult> Finished(uint64_t) override { return std::make_unique<CodeResult>(0); }
  std::vector<uint64_t> offsets;
  std::vector<uint64_t> progress;
};

class ChunkedDownloadTest : public ExchangeTest {
 protected:
  void SetUp() override {
    ExchangeTest::SetUp();
    char tmpl[] = "/tmp/quill_download_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    file_ = Noise(3500);
    target_.fs = &fs_;
    target_.partial_path = dir_ + "/img.temp";
    target_.final_path = dir_ + "/img";
    target_.file_step = 102;
    Serve(1000);
  }
  void TearDown() override {
    std::system(("rm -rf " + dir_).c_str());
    ExchangeTest::TearDown();
  }
  // Pieces of `piece` bytes; refuse_at: the offset answered with -5.
  void Serve(size_t piece, int64_t refuse_at = -1, int32_t total_bias = 0) {
    Reply([this, piece, refuse_at, total_bias](ByteView packed) {
      protocol::WireMessage in;
      EXPECT_EQ(0, in.Unpack(packed.data, static_cast<int64_t>(packed.size)));
      int32_t offset = 0;
      in.Body().GetInt(1, &offset);
      protocol::WireMessage out;
      out.SetType(protocol::MessageType::GetMailAttach);
      out.Body().PutInt(1, offset == refuse_at ? -5 : 0);
      out.Body().PutInt(2, static_cast<int32_t>(file_.size()) + total_bias);
      const size_t start = std::min(file_.size(), static_cast<size_t>(offset));
      const size_t n = std::min(piece, file_.size() - start);
      out.Body().PutBytes(3, ByteView(file_.data() + start, n));
      Bytes bytes;
      EXPECT_EQ(0, out.Pack(&bytes));
      return bytes;
    });
  }
  ExchangeOutcome Download() { return RunChunkedDownload(context_, &command_, target_, &recorder_); }

  std::string dir_;
  Bytes file_;
  FaultInjectingFileSystem fs_{DefaultFileSystem()};
  DownloadTarget target_;
  FileCommand command_;
};

TEST_F(ChunkedDownloadTest, PiecesLandAtTheirOffsetsAndTheFileIsRenamedAtTheEnd) {
  EXPECT_EQ(ExchangeOutcome::kDelivered, Download());
  EXPECT_EQ((std::vector<uint64_t>{0, 1000, 2000, 3000}), command_.offsets);
  EXPECT_EQ((std::vector<uint64_t>{28, 57, 85}), command_.progress);
  Bytes got;
  ASSERT_TRUE(fs_.ReadFile(target_.final_path, &got));
  EXPECT_EQ(file_, got);
  EXPECT_FALSE(fs_.Exists(target_.partial_path));
  ASSERT_TRUE(recorder_.result);
  EXPECT_EQ(0, recorder_.result->ResultCode());
}

TEST_F(ChunkedDownloadTest, ResumesFromTheBytesHeld) {
  ASSERT_TRUE(fs_.ReplaceAtomically(target_.partial_path, ByteView(file_.data(), 2000)));
  target_.start_offset = 2000;
  EXPECT_EQ(ExchangeOutcome::kDelivered, Download());
  EXPECT_EQ((std::vector<uint64_t>{2000, 3000}), command_.offsets);
  Bytes got;
  ASSERT_TRUE(fs_.ReadFile(target_.final_path, &got));
  EXPECT_EQ(file_, got);
}

TEST_F(ChunkedDownloadTest, RefusalFailureAndBadPiecesDeleteThePartialFile) {
  Serve(1000, /*refuse_at=*/2000);
  EXPECT_EQ(ExchangeOutcome::kDelivered, Download());
  ASSERT_TRUE(recorder_.result);
  EXPECT_EQ(-5, recorder_.result->ResultCode());
  EXPECT_FALSE(fs_.Exists(target_.partial_path));
  EXPECT_FALSE(fs_.Exists(target_.final_path));

  // A piece of nothing before the total would ask for the same offset forever.
  Serve(0);
  recorder_ = Recorder();
  EXPECT_EQ(ExchangeOutcome::kFailed, Download());
  EXPECT_EQ(kStepDecodeBody, recorder_.step);
  EXPECT_FALSE(fs_.Exists(target_.partial_path));

  // A total the target does not allow.
  Serve(1000);
  target_.max_total = 100;
  recorder_ = Recorder();
  EXPECT_EQ(ExchangeOutcome::kFailed, Download());
  EXPECT_EQ(kStepDecodeBody, recorder_.step);

  // A write that fails is the job's file step.
  target_.max_total = UINT64_MAX;
  fs_.FailWrite(fs_.write_count() + 2);
  recorder_ = Recorder();
  EXPECT_EQ(ExchangeOutcome::kFailed, Download());
  EXPECT_EQ(102u, recorder_.step);
  EXPECT_FALSE(fs_.Exists(target_.partial_path));
}

TEST_F(ChunkedDownloadTest, AnExpiredSessionIsDeliveredAsMinusThree) {
  Bytes wrapper;
  ASSERT_EQ(0, protocol::WriteWrapper(-3, ByteView(), &wrapper));
  ReplyRaw(200, std::string(wrapper.begin(), wrapper.end()));
  EXPECT_EQ(ExchangeOutcome::kDelivered, Download());
  ASSERT_TRUE(recorder_.result);
  EXPECT_EQ(-3, recorder_.result->ResultCode());
  EXPECT_FALSE(fs_.Exists(target_.partial_path));
}

}  // namespace
}  // namespace engine
}  // namespace quill
