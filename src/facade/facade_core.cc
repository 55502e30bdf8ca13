#include "facade/facade_core.h"

#include <utility>

#include "facade/operation.h"
#include "platform/clock.h"

namespace quill {
namespace facade {
namespace {

engine::ConnectionManager::Options ConnectionOptions(const engine::GatewayConfig& gateway) {
  engine::ConnectionManager::Options o;
  if (!gateway.proxy.empty()) o.proxy_host = gateway.proxy.substr(0, gateway.proxy.rfind(':'));
  return o;
}

}  // namespace

FacadeCore::FacadeCore(MessageLoop* loop, MailServiceOptions options)
    : loop_(loop),
      options_(std::move(options)),
      settings_(options_.fs),
      budget_(&account_, options_.daily_sync_limit, options_.tick_ms),
      usage_(&settings_),
      run_start_seconds_(NowSeconds()),
      connections_(options_.backend, options_.prober, ConnectionOptions(options_.gateway)),
      // Jobs use the members above: teardown waits for every worker, whose
      // transfers stop within about a second once their jobs are cancelled.
      pool_(loop, engine::WorkerPool::Options{engine::WorkerPool::kJoinAll}),
      runner_(&pool_, &account_, &job_started_, &job_ended_) {
  settings_.SetDataDir(options_.data_dir);
  const store::StartupSettings startup = settings_.LoadAtStartup();
  budget_.SetLimit(settings_.file().GetUInt64(store::global_keys::kSyncNetFlowLimit.name,
                                              options_.daily_sync_limit));
  connections_.SetDestination(startup.net);
  engine::TransferTotals totals;
  totals.sent = startup.send_total;
  totals.received = startup.recv_total;
  account_.SetTotals(totals);
  account_.SetLoginAccount(settings_.Get(store::global_keys::kUinName));
  exchange_.connections = &connections_;
  exchange_.gateway = &options_.gateway;
  exchange_.account = &account_;
  exchange_.http_cache = &http_cache_;
  exchange_.http = options_.http;
  exchange_.budget = &budget_;
}

FacadeCore::~FacadeCore() {
  // The jobs' last ends arrive while every member still lives (the owner
  // tore the pool down already when its units die first).
  pool_.Teardown();
  usage_.Flush();
  const engine::TransferTotals totals = account_.totals();
  settings_.SaveTrafficTotals(totals.received, totals.sent);
}

void FacadeCore::EndSessionWork() {
  runner_.AbandonHeld();
  for (Operation* operation : operations_) operation->EndSessionWork();
}

void FacadeCore::OpenAccount(uint32_t uin) {
  account_dir_ = options_.data_dir + "/" + std::to_string(uin);
  options_.fs->MakeDirs(account_dir_);
  if (store_ != nullptr && store_->uin() == uin) return;
  store_ = std::make_unique<store::AccountStore>(options_.fs);
  store_->Open(uin, options_.data_dir + "/");
}

void FacadeCore::CloseAccount() {
  store_.reset();
  account_dir_.clear();
}

protocol::RequestHead FacadeCore::SessionHead() {
  const engine::SessionSnapshot session = account_.session();
  protocol::RequestHead head;
  head.session_key = session.session_key;
  head.uin = session.uin;
  head.data_id = store_->GetAccountDataId(options_.device_id);
  head.sync_key = store_->GetSyncKey();
  return head;
}

}  // namespace facade
}  // namespace quill
