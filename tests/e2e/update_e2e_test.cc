// The update check and the package download against the gateway: a check
// that fails never reads as "nothing offered", the check after a login on
// a fake clock, a package fetched, checked and handed on by its path, and
// resumed after a cut or a cancel; a package replaced mid-download, a
// corrupted one, names that are no package names and pieces that do not
// advance.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "commands/update_message.h"
#include "commands/update_pack_job.h"
#include "engine/trace.h"
#include "gateway/update_commands.h"
#include "gateway/update_shelf.h"
#include "tests/e2e/service_rig.h"

namespace quill {
namespace {

constexpr int32_t kNewerVersion = 0x10031;

// The offsets the gateway was asked for, recorded on its request thread.
class AskedOffsets {
 public:
  void Add(uint32_t offset) {
    std::lock_guard<std::mutex> lock(mu_);
    offsets_.push_back(offset);
  }
  std::vector<uint32_t> Get() {
    std::lock_guard<std::mutex> lock(mu_);
    return offsets_;
  }
  void Clear() {
    std::lock_guard<std::mutex> lock(mu_);
    offsets_.clear();
  }

 private:
  std::mutex mu_;
  std::vector<uint32_t> offsets_;  // guarded by mu_
};

Bytes Noise(size_t n, uint32_t seed) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) {
    seed = seed * 1103515245u + 12345u;
    b[i] = static_cast<uint8_t>(seed >> 16);
  }
  return b;
}

class UpdateEndToEnd : public ServiceEndToEnd {
 protected:
  UpdateEndToEnd() {
    before_start_ = [this](gateway::GatewayServer* server) {
      auto pack = std::make_unique<WatchedCommand>();
      pack_ = pack.get();
      pack_->Wrap(server->AddSessionCommand("getupdatepack", std::move(pack)));
      pack_->Watch([this](int, const protocol::WireMessage& request) {
        uint32_t offset = 0;
        request.Body().GetUInt(6, &offset);
        asked_.Add(offset);
      });
      auto query = std::make_unique<WatchedCommand>();
      query_ = query.get();
      query_->Wrap(server->AddSessionCommand("queryupdate", std::move(query)));
    };
  }

  void SetUp() override {
    ServiceEndToEnd::SetUp();
    out_dir_ = data_.path() + "/packages";
  }

  // Publishes `bytes` as version `version` on the gateway.
  gateway::UpdateRelease Publish(const Bytes& bytes, int32_t version = kNewerVersion) {
    const std::string file = state_.path() + "/upload.cab";
    EXPECT_TRUE(DefaultFileSystem()->ReplaceAtomically(file, ByteView(bytes)));
    gateway::UpdateShelf shelf(DefaultFileSystem(), state_.path());
    gateway::UpdateRelease release;
    std::string why;
    EXPECT_TRUE(shelf.Publish(file, version, "修复若干问题", &release, &why)) << why;
    return release;
  }

  // Every UpdateInfoDone from now on.
  void WatchQueries() {
    service_->SubscribeUpdateInfoDone(
        [this](const facade::UpdateInfoOutcome& o) { queries_.push_back(o); });
  }

  facade::UpdateInfoOutcome Query() {
    const size_t before = queries_.size();
    EXPECT_TRUE(service_->DoGetUpdateInfo(commands::kUpdateByUser));
    EXPECT_TRUE(loop_.PumpUntil([&] { return queries_.size() > before && !service_->JobsRunning(); },
                                kWaitMs));
    return queries_.size() > before ? queries_.back() : facade::UpdateInfoOutcome();
  }

  // Fetches `release`; `on_progress` runs at each progress report (while
  // the worker waits for it). The end, after every job ended.
  facade::UpdatePackOutcome Fetch(const gateway::UpdateRelease& release,
                                  std::function<void(const facade::UpdatePackOutcome&)> on_progress =
                                      nullptr,
                                  uint64_t expected_size = UINT64_MAX) {
    std::optional<facade::UpdatePackOutcome> end;
    progress_.clear();
    const int id = service_->SubscribeUpdatePackDone([&](const facade::UpdatePackOutcome& o) {
      if (o.finished) {
        end = o;
        return;
      }
      EXPECT_TRUE(o.ok);
      progress_.push_back(o.held);
      if (on_progress) on_progress(o);
    });
    EXPECT_TRUE(service_->DoGetUpdatePack(
        release.package, expected_size == UINT64_MAX ? release.size : expected_size, 7, out_dir_));
    EXPECT_TRUE(loop_.PumpUntil([&] { return end && !service_->JobsRunning(); }, kWaitMs));
    service_->UnsubscribeUpdatePackDone(id);
    return end.value_or(facade::UpdatePackOutcome());
  }

  Bytes Held(const std::string& package) {
    Bytes b;
    DefaultFileSystem()->ReadFile(commands::UpdatePackagePath(out_dir_, package), &b);
    return b;
  }
  bool Holds(const std::string& package) {
    return DefaultFileSystem()->Exists(commands::UpdatePackagePath(out_dir_, package));
  }


  WatchedCommand* pack_ = nullptr;   // the gateway's getupdatepack
  WatchedCommand* query_ = nullptr;  // the gateway's queryupdate
  AskedOffsets asked_;
  std::string out_dir_;
  std::vector<facade::UpdateInfoOutcome> queries_;
  std::vector<uint64_t> progress_;  // bytes held at each progress report of the last Fetch
};

TEST_F(UpdateEndToEnd, AFailedCheckIsAFailureNeverNothingOffered) {
  MakeService();
  EXPECT_FALSE(service_->DoGetUpdateInfo(commands::kUpdateByUser));  // no session
  SignIn();
  WatchQueries();
  facade::UpdateInfoOutcome none = Query();
  EXPECT_TRUE(none.ok);
  EXPECT_FALSE(none.offered());
  EXPECT_EQ(none.update_value, 0);

  const gateway::UpdateRelease release = Publish(Noise(1000, 1));
  facade::UpdateInfoOutcome offer = Query();
  ASSERT_TRUE(offer.offered());
  EXPECT_EQ(offer.reason, commands::kUpdateByUser);
  EXPECT_EQ(offer.version_text, "1.0.49");
  EXPECT_EQ(offer.offered_version, kNewerVersion);
  EXPECT_EQ(offer.update_value, 1000);
  EXPECT_EQ(offer.offer.package, release.package);
  EXPECT_EQ(offer.offer.notes, "修复若干问题");

  struct Case {
    gateway::Fault fault;
    int32_t code;
    uint32_t step;
  } cases[] = {
      {{gateway::FaultMode::kHttp500, 0}, -1, engine::kStepDecodeBody},
      {{gateway::FaultMode::kGarbage, 0}, -1, engine::kStepDecodeBody},
      {{gateway::FaultMode::kResult, -6}, -6, 0},
      {{gateway::FaultMode::kExpire, 0}, -3, 0},  // not repeated
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.fault.mode));
    server_->faults()->Set("queryupdate", c.fault);
    const facade::UpdateInfoOutcome failed = Query();
    EXPECT_FALSE(failed.ok);
    EXPECT_FALSE(failed.offered());
    EXPECT_EQ(failed.step, c.step);
    if (c.code != -1) {
      EXPECT_EQ(failed.code, c.code);
    }
  }
  server_->faults()->ClearAll();
  SignIn();  // the expired session is not renewed by a query

  // A newer version offered without a package that can be fetched is a bad
  // answer, not "nothing offered".
  query_->Reply([](const protocol::WireMessage&, protocol::WireMessage* response) {
    protocol::TagCodec& body = response->Body();
    return gateway::AnswerResult(protocol::MessageType::QueryUpdate, 0, response) &&
           body.PutInt(2, 1000) == 0 && body.PutInt(3, kNewerVersion) == 0 &&
           body.PutBytes(4, ByteView(std::string("1.0.49"))) == 0 &&
           body.PutBytes(5, ByteView(std::string("update.cab\nnotes"))) == 0;
  });
  const facade::UpdateInfoOutcome nameless = Query();
  EXPECT_FALSE(nameless.ok);
  EXPECT_FALSE(nameless.offered());
  EXPECT_EQ(nameless.step, engine::kStepDecodeBody);
}

TEST_F(UpdateEndToEnd, TheCheckAfterALoginFollowsTheVersionAndTheTenDayRule) {
  constexpr uint64_t kTold = 1800000000;  // when the last notice was shown
  struct Case {
    const char* what;
    bool published;
    uint64_t last_version, last_time;
    int64_t now;
    bool asks;
  } cases[] = {
      {"the service knows no newer version", false, 0, 0, kTold, false},
      {"nothing was told yet", true, 0, 0, kTold, true},
      {"told within ten days", true, kNewerVersion, kTold, kTold + 864000, false},
      {"ten days have passed", true, kNewerVersion, kTold, kTold + 864001, true},
      {"the clock is before the notice", true, kNewerVersion, kTold, kTold - 1, false},
      {"an older version was told", true, kNewerVersion - 1, kTold, kTold + 1, true},
  };
  bool published = false;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.published && !published) {
      Publish(Noise(100, 2));
      published = true;
    }
    now_seconds_ = c.now;
    MakeService();
    ASSERT_TRUE(service_->settings().Set(store::global_keys::kLastUpdateVersion, c.last_version));
    ASSERT_TRUE(service_->settings().Set(store::global_keys::kLastUpdateTime, c.last_time));
    queries_.clear();
    WatchQueries();
    SignIn();
    ASSERT_TRUE(loop_.PumpUntil([&] { return !service_->JobsRunning(); }, kWaitMs));
    ASSERT_EQ(queries_.size(), c.asks ? 1u : 0u);
    if (c.asks) {
      EXPECT_EQ(queries_[0].reason, commands::kUpdateAfterLogin);
      EXPECT_TRUE(queries_[0].offered());
    }
  }
}

TEST_F(UpdateEndToEnd, APackageIsFetchedCheckedAndHandedOnByItsPath) {
  const Bytes bytes = Noise(100000, 3);
  const gateway::UpdateRelease release = Publish(bytes);
  MakeService();
  SignIn();
  const facade::UpdatePackOutcome end = Fetch(release);
  ASSERT_TRUE(end.ok) << end.code << " step " << end.step;
  EXPECT_EQ(end.path, commands::UpdatePackagePath(out_dir_, release.package));
  EXPECT_EQ(end.package, release.package);
  EXPECT_EQ(end.held, 100000u);
  EXPECT_EQ(end.total, 100000u);
  EXPECT_EQ(Held(release.package), bytes);
  EXPECT_EQ(progress_, (std::vector<uint64_t>{16384, 32768, 49152, 65536, 81920, 98304}));
  EXPECT_EQ(asked_.Get().size(), 7u);

  // Held and sound: handed on again without a request.
  asked_.Clear();
  const facade::UpdatePackOutcome again = Fetch(release);
  EXPECT_TRUE(again.ok);
  EXPECT_EQ(again.path, end.path);
  EXPECT_TRUE(asked_.Get().empty());
  EXPECT_EQ(Held(release.package), bytes);
}

TEST_F(UpdateEndToEnd, ADownloadCutOrCancelledResumesWhereItStopped) {
  const Bytes bytes = Noise(100000, 4);
  const gateway::UpdateRelease release = Publish(bytes);
  MakeService();
  SignIn();
  // Cut on the network after two pieces: what is held stays.
  facade::UpdatePackOutcome cut = Fetch(release, [&](const facade::UpdatePackOutcome& o) {
    if (o.held == 32768) server_->faults()->Set("getupdatepack", {gateway::FaultMode::kDrop, 0});
  });
  EXPECT_FALSE(cut.ok);
  EXPECT_NE(cut.step, 0u);
  EXPECT_EQ(Held(release.package), Bytes(bytes.begin(), bytes.begin() + 32768));
  server_->faults()->ClearAll();
  asked_.Clear();

  // Cancelled after one more piece: kept too.
  facade::UpdatePackOutcome cancelled = Fetch(release, [&](const facade::UpdatePackOutcome& o) {
    if (o.held == 49152) service_->CancelUpdatePack();
  });
  EXPECT_FALSE(cancelled.ok);
  EXPECT_EQ(cancelled.code, 0);
  EXPECT_EQ(cancelled.step, 0u);
  ASSERT_FALSE(asked_.Get().empty());
  EXPECT_EQ(asked_.Get()[0], 32768u);
  EXPECT_EQ(Held(release.package), Bytes(bytes.begin(), bytes.begin() + 49152));
  asked_.Clear();

  const facade::UpdatePackOutcome end = Fetch(release);
  ASSERT_TRUE(end.ok) << end.code << " step " << end.step;
  EXPECT_EQ(asked_.Get(), (std::vector<uint32_t>{49152, 65536, 81920, 98304}));
  EXPECT_EQ(Held(release.package), bytes);

  // Without the size offered nothing held is trusted: from the start.
  asked_.Clear();
  ASSERT_TRUE(Fetch(release, nullptr, /*expected_size=*/0).ok);
  EXPECT_EQ(asked_.Get().front(), 0u);
}

TEST_F(UpdateEndToEnd, ASecondRequestReplacesARunningDownloadAndResumesItsBytes) {
  const Bytes bytes = Noise(50000, 11);
  const gateway::UpdateRelease release = Publish(bytes);
  MakeService();
  SignIn();
  std::vector<facade::UpdatePackOutcome> ends;
  std::vector<uint64_t> held;
  service_->SubscribeUpdatePackDone([&](const facade::UpdatePackOutcome& o) {
    if (o.finished) {
      ends.push_back(o);
      return;
    }
    held.push_back(o.held);
    // At the first piece, while its worker waits: the same package asked
    // for again.
    if (held.size() == 1) {
      EXPECT_TRUE(service_->DoGetUpdatePack(release.package, release.size, 7, out_dir_));
    }
  });
  ASSERT_TRUE(service_->DoGetUpdatePack(release.package, release.size, 7, out_dir_));
  ASSERT_TRUE(loop_.PumpUntil([&] { return ends.size() == 2 && !service_->JobsRunning(); },
                              kWaitMs));
  // The first ends at once, neither ok nor failed; the second goes on from
  // the bytes the first wrote, once it has stopped writing them.
  EXPECT_FALSE(ends[0].ok);
  EXPECT_EQ(ends[0].code, 0);
  EXPECT_EQ(ends[0].step, 0u);
  ASSERT_TRUE(ends[1].ok) << ends[1].code << " step " << ends[1].step;
  EXPECT_EQ(ends[1].path, commands::UpdatePackagePath(out_dir_, release.package));
  EXPECT_EQ(asked_.Get(), (std::vector<uint32_t>{0, 16384, 32768, 49152}));
  EXPECT_EQ(held, (std::vector<uint64_t>{16384, 32768, 49152}));
  EXPECT_EQ(Held(release.package), bytes);
}

TEST_F(UpdateEndToEnd, AFailedWriteOrSyncDeletesWhatIsHeldAndTheNextFetchStartsOver) {
  const Bytes bytes = Noise(40000, 12);
  const gateway::UpdateRelease release = Publish(bytes);
  MakeService();
  SignIn();
  fs_.FailWrite(2);  // the second piece
  facade::UpdatePackOutcome end = Fetch(release);
  EXPECT_FALSE(end.ok);
  EXPECT_EQ(end.step, commands::kPackStepWrite);
  EXPECT_FALSE(Holds(release.package));
  fs_.FailSync(1);  // the complete file cannot be made durable
  end = Fetch(release);
  EXPECT_FALSE(end.ok);
  EXPECT_EQ(end.step, commands::kPackStepWrite);
  EXPECT_FALSE(Holds(release.package));
  asked_.Clear();
  end = Fetch(release);
  ASSERT_TRUE(end.ok) << end.code << " step " << end.step;
  EXPECT_EQ(asked_.Get(), (std::vector<uint32_t>{0, 16384, 32768}));
  EXPECT_EQ(Held(release.package), bytes);
}

TEST_F(UpdateEndToEnd, APackageReplacedMidDownloadRestartsUnderItsNewName) {
  const gateway::UpdateRelease first = Publish(Noise(60000, 5));
  const Bytes newer = Noise(40000, 6);
  gateway::UpdateRelease second;
  MakeService();
  SignIn();
  const facade::UpdatePackOutcome end = Fetch(first, [&](const facade::UpdatePackOutcome& o) {
    if (o.held == 32768 && second.package.empty()) second = Publish(newer, kNewerVersion + 1);
  });
  ASSERT_TRUE(end.ok) << end.code << " step " << end.step;
  EXPECT_EQ(end.package, second.package);
  EXPECT_EQ(end.path, commands::UpdatePackagePath(out_dir_, second.package));
  EXPECT_EQ(end.total, 40000u);
  EXPECT_EQ(Held(second.package), newer);
  EXPECT_FALSE(Holds(first.package));
  EXPECT_EQ(asked_.Get(), (std::vector<uint32_t>{0, 16384, 32768, 0, 16384, 32768}));
}

TEST_F(UpdateEndToEnd, APackageThatFailsItsCheckIsNeverHandedOn) {
  const Bytes bytes = Noise(50000, 7);
  const gateway::UpdateRelease release = Publish(bytes);
  MakeService();
  SignIn();
  // A complete file on the device that does not match: fetched again from 0.
  ASSERT_TRUE(DefaultFileSystem()->ReplaceAtomically(
      commands::UpdatePackagePath(out_dir_, release.package), ByteView(Noise(50000, 8))));
  const facade::UpdatePackOutcome refetched = Fetch(release);
  ASSERT_TRUE(refetched.ok);
  EXPECT_EQ(asked_.Get().front(), 0u);
  EXPECT_EQ(Held(release.package), bytes);

  // The gateway serves bytes that are not the package its name states.
  Bytes corrupt = bytes;
  corrupt[40000] ^= 0x01;
  ASSERT_TRUE(DefaultFileSystem()->ReplaceAtomically(
      state_.path() + "/updates/" + release.package + ".cab", ByteView(corrupt)));
  const facade::UpdatePackOutcome refused = Fetch(release, nullptr, /*expected_size=*/0);
  EXPECT_FALSE(refused.ok);
  EXPECT_EQ(refused.code, commands::kUpdatePackCheckFailed);
  EXPECT_FALSE(Holds(release.package));
}

TEST_F(UpdateEndToEnd, NamesThatAreNoPackageNamesAndPiecesThatDoNotAdvanceFailTheDownload) {
  const gateway::UpdateRelease release = Publish(Noise(40000, 9));
  MakeService();
  SignIn();
  for (const char* bad : {"", "0123", "../../../../tmp/x0123456789abcdef0123456789",
                          "0123456789abcdef0123456789abcdeg", "0123456789abcdef0123456789abcdef0"}) {
    EXPECT_FALSE(service_->DoGetUpdatePack(bad, 0, 0, out_dir_)) << bad;
  }
  EXPECT_FALSE(service_->DoGetUpdatePack(release.package, 0, 0, ""));  // no directory
  // The gateway names a replacement that is no package name.
  pack_->Reply([](const protocol::WireMessage&, protocol::WireMessage* response) {
    return gateway::AnswerResult(protocol::MessageType::GetUpdatePack, -7, response) &&
           response->Body().PutBytes(2, ByteView(std::string("../../../../../../tmp/evil"))) == 0 &&
           response->Body().PutUInt(3, 100) == 0;
  });
  facade::UpdatePackOutcome end = Fetch(release);
  EXPECT_FALSE(end.ok);
  EXPECT_EQ(end.step, commands::kPackStepDecode);
  std::vector<std::string> names;
  ASSERT_TRUE(DefaultFileSystem()->ListPrefix(out_dir_, "", &names));
  EXPECT_TRUE(names.empty()) << names[0];

  // A piece of nothing before the end, and one that passes the total.
  for (size_t piece : {size_t{0}, size_t{5000}}) {
    SCOPED_TRACE(piece);
    pack_->Reply([&release, piece](const protocol::WireMessage& request,
                                       protocol::WireMessage* response) {
      uint32_t offset = 0;
      request.Body().GetUInt(6, &offset);
      protocol::TagCodec& body = response->Body();
      const Bytes bytes(offset == 0 ? 16384 : piece, 0xAB);
      return gateway::AnswerResult(protocol::MessageType::GetUpdatePack, 0, response) &&
             body.PutBytes(2, ByteView(release.package)) == 0 && body.PutUInt(3, 20000) == 0 &&
             body.PutInt(4, 0) == 0 && body.PutUInt(5, static_cast<uint32_t>(bytes.size())) == 0 &&
             body.PutBytes(6, ByteView(bytes)) == 0;
    });
    asked_.Clear();
    end = Fetch(release, nullptr, /*expected_size=*/0);
    EXPECT_FALSE(end.ok);
    EXPECT_EQ(end.step, commands::kPackStepDecode);
    EXPECT_EQ(asked_.Get(), (std::vector<uint32_t>{0, 16384}));
    EXPECT_FALSE(Holds(release.package));
  }
}

TEST_F(UpdateEndToEnd, TheCommandLineChecksFetchesAndResumes) {
  ASSERT_EQ(Cli({"login", "alice", "secret"}), 0) << err_.str();
  ASSERT_EQ(Cli({"update", "check"}), 0) << err_.str();
  EXPECT_EQ(out_.str(), "当前已是最新版本\n");
  EXPECT_EQ(Cli({"update", "fetch", "--out", out_dir_}), 1);
  EXPECT_EQ(err_.str(), "当前已是最新版本\n");

  const Bytes bytes = Noise(50000, 10);
  const gateway::UpdateRelease release = Publish(bytes);
  ASSERT_EQ(Cli({"update", "check"}), 0) << err_.str();
  EXPECT_EQ(out_.str(), "version: 1.0.49\npackage: " + release.package +
                            "\nsize: 50000\nnotes: 修复若干问题\n");

  // The connection drops at the third piece: the bytes held stay.
  pack_->Before(pack_->requests + 2, [this] {
    server_->faults()->Set("getupdatepack", {gateway::FaultMode::kDrop, 0});
  });
  EXPECT_EQ(Cli({"update", "fetch", "--out", out_dir_}), 1);
  EXPECT_NE(err_.str().find("update: 32768 of 50000 bytes\n"), std::string::npos) << err_.str();
  EXPECT_NE(err_.str().find("the download failed"), std::string::npos) << err_.str();
  EXPECT_EQ(Held(release.package).size(), 32768u);
  server_->faults()->ClearAll();
  asked_.Clear();
  ASSERT_EQ(Cli({"update", "fetch", "--out", out_dir_}), 0) << err_.str();
  EXPECT_EQ(out_.str(), commands::UpdatePackagePath(out_dir_, release.package) + "\n");
  EXPECT_EQ(asked_.Get(), (std::vector<uint32_t>{32768, 49152}));
  EXPECT_EQ(Held(release.package), bytes);

  server_->faults()->Set("queryupdate", {gateway::FaultMode::kHttp500, 0});
  EXPECT_EQ(Cli({"update", "check"}), 1);
  EXPECT_EQ(err_.str().rfind("拉取升级信息失败，请检查网络是否可用 (", 0), 0u) << err_.str();
  EXPECT_EQ(out_.str(), "");

  // The statistics held: one line per value, uploaded by the run's first sync.
  server_->faults()->ClearAll();
  ASSERT_EQ(Cli({"stats"}), 0);
  EXPECT_EQ(out_.str().rfind("AuthOK ", 0), 0u);
  const std::string held = out_.str();
  EXPECT_EQ(std::count(held.begin(), held.end(), '\n'), 24);
  EXPECT_NE(out_.str().find("\nSyncOK 0\n"), std::string::npos);
  ASSERT_EQ(Cli({"sync"}), 0) << err_.str();
  ASSERT_EQ(Cli({"stats"}), 0);
  EXPECT_NE(out_.str().find("AuthOK 0\n"), std::string::npos) << out_.str();
  EXPECT_NE(out_.str().find("\nSyncOK 1\n"), std::string::npos) << out_.str();
}

}  // namespace
}  // namespace quill
