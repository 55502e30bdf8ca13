#include "app/application.h"

#include <limits.h>
#include <unistd.h>

#include "engine/gateway_config.h"
#include "platform/device_id_source.h"
#include "platform/file_system.h"
#include "platform/registry_store.h"
#include "platform/utf.h"
#include "store/device_id.h"

namespace quill {
namespace app {

Application::Application()
    : loop_(std::make_unique<MessageLoop>()), bridge_(std::make_unique<ui::LoopBridge>(loop_.get())) {}

Application::~Application() { Shutdown(); }

std::u16string Application::ProgramDir() {
  char path[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return u"/";
  const std::string p(path, static_cast<size_t>(n));
  return Utf8ToUtf16(p.substr(0, p.rfind('/') + 1));
}

bool Application::Start(const std::string& data_dir, const std::string& gateway_config,
                        std::string* why) {
  FileSystem* fs = DefaultFileSystem();
  if (!fs->MakeDirs(data_dir)) {
    *why = "cannot create " + data_dir;
    return false;
  }
  facade::MailServiceOptions options;
  options.data_dir = data_dir;
  const std::string config_path = data_dir + "/" + engine::kGatewayConfigFile;
  if (!gateway_config.empty()) {
    Bytes bytes;
    if (!fs->ReadFile(gateway_config, &bytes)) {
      *why = "cannot read " + gateway_config;
      return false;
    }
    if (!fs->ReplaceAtomically(config_path, ByteView(bytes), 0600)) {
      *why = "cannot write " + config_path;
      return false;
    }
  }
  // Without a gateway configuration the program still runs: every login
  // then fails as a network failure, and the stored mail stays readable.
  if (fs->Exists(config_path)) {
    const engine::GatewayConfigStatus status =
        engine::LoadGatewayConfig(fs, config_path, &options.gateway);
    if (status != engine::GatewayConfigStatus::kOk) {
      *why = config_path + ": " + engine::GatewayConfigStatusText(status);
      return false;
    }
  }
  LinuxDeviceIdSource id_source(fs, "/etc/machine-id", RegistryStore::DefaultDir());
  store::DeviceId device_id(&id_source, ProgramDir());
  options.device_id = device_id.Get();
  options.fs = fs;
  options.backend = &backend_;
  service_ = std::make_unique<facade::MailService>(loop_.get(), std::move(options));
  return true;
}

std::vector<std::u16string> Application::Destinations() {
  std::vector<std::u16string> names;
  engine::Destination d;
  for (int i = 0; i < 64 && backend_.EnumDestination(i, &d); ++i) names.push_back(d.description);
  return names;
}

void Application::Shutdown() {
  service_.reset();
  if (loop_) loop_->Quit(0);
  bridge_.reset();
  loop_.reset();
}

}  // namespace app
}  // namespace quill
