#include "app/vesk_app.h"

#include <dlfcn.h>

#include <cstdlib>

#include "app/vesk_app_trace_thread.h"
#include "vesk/app_identity.h"
#include "vesk/core/command_line.h"
#include "vesk/core/file_util.h"
#include "vesk/core/ipc/instance_handoff.h"
#include "vesk/core/ipc/ipc.h"
#include "vesk/core/ipc/ipc_section.h"
#include "vesk/core/ipc_message.h"
#include "vesk/core/logging.h"
#include "vesk/core/switches.h"
#include "vesk/core/update/check_update_flag.h"
#include "vesk/core/update/package_swap.h"

namespace vesk {
namespace {

// Shared by every instance of this application for one user; the lock
// file's location makes it per user (see SingleInstanceLockPath), its name
// per application.
constexpr const char* kInstanceLockName = identity::kInstanceLockName;
constexpr char kTraceThreadName[] = "VeskAppTrace";

// The directory of this library, where the user-interface module lies.
std::string ModuleDirectory() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&ModuleDirectory), &info) && info.dli_fname)
    return DirName(info.dli_fname);
  return ProgramDirectory();
}

}  // namespace

VeskApp& VeskApp::Get() {
  // Never destroyed: the user-interface module releases what it holds in an
  // explicit order at the end of its run; the rest goes with the process.
  static VeskApp* app = new VeskApp;
  return *app;
}

VeskApp::VeskApp() = default;

void VeskApp::SetLogDirectory(std::string log_dir) {
  if (log_dir_locked_) {
    VESK_DCHECK(!log_dir_locked_) << "the log directory is fixed once Initialize ran";
    return;
  }
  log_dir_ = std::move(log_dir);
}

void VeskApp::SetEngineSettings(EngineSettings settings) { engine_settings_ = std::move(settings); }

std::vector<std::string> VeskApp::application_names() const {
  std::vector<std::string> names;
  for (int i = 0; app_names_ && i < app_name_count_; ++i)
    if (app_names_[i]) names.emplace_back(app_names_[i]);
  return names;
}

void VeskApp::InitLogging() {
  const CommandLine& command_line = CommandLine::ForCurrentProcess();
  // Trimmed only once this process knows it holds the instance lock: a
  // second start must not cut the log the running instance writes to.
  logging::InitLogging(logging::LogFilePathFor(log_dir_, ExecutablePath()), /*trim=*/false);
  int verbosity = 0;
  if (command_line.HasSwitch(switches::kV))
    verbosity = std::atoi(command_line.GetSwitchValue(switches::kV).c_str());
  logging::SetVerbosity(verbosity, command_line.GetSwitchValue(switches::kVmodule));
}

void VeskApp::RunSecondInstance() {
  // A second instance is nobody's peer: its receiver goes first, so second
  // starts running at the same time never choose each other.
  IPC::Shutdown();
  const auto message = DecideSecondInstanceMessage(CommandLine::ForCurrentProcess());
  if (!message) VESK_LOG(INFO) << "Second instance: nothing to hand over.";
  // Only the lock holder gets the message (logged either way); the send
  // waits until its handlers ran (bounded), and its result changes nothing
  // here.
  if (message) ipc::HandOffToLockHolder(instance_lock_, message->id, message->data);
  instance_lock_.Close();
}

bool VeskApp::LoadUserInterface() {
  const std::string path = JoinPath(ModuleDirectory(), VESK_UI_MODULE_FILE);
  // Loaded for the life of the process; never closed.
  void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  auto get =
      module ? reinterpret_cast<VeskUiModuleGetFunction>(dlsym(module, VESK_UI_MODULE_ENTRY)) : nullptr;
  ui_ = get ? get() : nullptr;
  if (!ui_ || ui_->version != VESK_UI_MODULE_VERSION) {
    const char* error = dlerror();
    VESK_LOG(ERROR) << "Cannot load the user interface module " << path << ": "
                    << (error ? error : "wrong version");
    ui_ = nullptr;
    return false;
  }
  return true;
}

bool VeskApp::Initialize() {
  // 1. The process command line.
  CommandLine::InitForCurrentProcess(CommandLine::FromProcSelf());
  // 2. Logging; from here on the log directory is fixed.
  log_dir_locked_ = true;
  InitLogging();
  // Sections that senders killed while they waited left behind.
  ipc::RemoveLeftoverIpcSections();
  // 4. Every process has its instance receiver before the single-instance
  // test, also one that turns out to be a second instance.
  IPC::CreateReceiver();
  // 3. and 5. The single-instance rule.
  const SingleInstanceLock::Result lock =
      instance_lock_.TryAcquire(SingleInstanceLockPath(kInstanceLockName));
  if (lock == SingleInstanceLock::Result::kError) return false;
  if (lock == SingleInstanceLock::Result::kHeldElsewhere) {
    RunSecondInstance();
    return false;
  }
  if (state_dirs_.per_user) VESK_LOG(WARNING) << DescribeStateDirectories(state_dirs_);
  logging::TrimLogFileAtStart();
  // 7. The memory trace object (started by Run when asked for).
  trace_thread_ = std::make_unique<VeskAppTraceThread>(kTraceThreadName);
  // 6. and 8. The user interface: the instance-message listener, the
  // display, the IO worker, the engine's settings and the page channel.
  VESK_VLOG(1) << "start-up: first instance";
  if (!LoadUserInterface()) return false;
  VESK_VLOG(1) << "start-up: user interface module loaded";
  const VeskUiSettings settings{sizeof(VeskUiSettings), engine_settings_.cache_path.c_str(),
                                engine_settings_.user_agent.c_str(),
                                engine_settings_.local_storage_path.c_str()};
  if (!ui_->initialize(&settings)) return false;
  VESK_VLOG(1) << "start-up: user interface initialised";
  // 9.
  initialized_ = true;
  return true;
}

void VeskApp::RegisterApplications(const char* const* names, int count) {
  if (!ui_) return;
  for (int i = 0; names && i < count; ++i) {
    if (!names[i] || !ui_->register_scheme_host("vesk", names[i])) return;
  }
  app_names_ = names;
  app_name_count_ = count;
}

bool VeskApp::CheckPackages() {
  if (!ui_) return false;
  // A package update that a crash interrupted is finished or undone first:
  // the check must see a whole set, not a half-swapped one.
  update::RecoverPackageSet(ProgramDirectory());
  const std::vector<std::string> names = application_names();
  std::vector<const char*> texts;
  for (const std::string& name : names) texts.push_back(name.c_str());
  const bool intact = ui_->check_packages(texts.data(), static_cast<int>(texts.size()));
  VESK_VLOG(1) << "start-up: packages checked";
  return intact;
}

void VeskApp::SetCrossOriginEntries(const std::vector<CrossOriginEntry>& entries) {
  cross_origin_entries_ = entries;
  if (!ui_) return;
  std::vector<VeskUiCrossOriginEntry> plain;
  for (const CrossOriginEntry& entry : entries)
    plain.push_back({entry.source_origin.c_str(), entry.target_protocol.c_str(), entry.target_domain.c_str(),
                     entry.allow_target_subdomains ? 1 : 0});
  ui_->set_cross_origin_entries(plain.data(), static_cast<int>(plain.size()));
}

void VeskApp::SetPluginOrigins(const std::vector<std::string>& entries) {
  std::vector<std::string> rejected;
  plugin_origins_ = PluginOriginList::FromEntries(entries, &rejected);
  for (const std::string& entry : rejected) VESK_LOG(WARNING) << "Not an origin, left out: " << entry;
  VESK_LOG(INFO) << "Plugin origin whitelist: " << plugin_origins_->Describe();
}

void VeskApp::HandPluginOriginsToUi() {
  if (!plugin_origins_) {
    plugin_origins_ = PluginOriginList::Default(application_names(), cross_origin_entries_);
    VESK_LOG(INFO) << "Plugin origin whitelist (the application's own): " << plugin_origins_->Describe();
  }
  std::vector<const char*> texts;
  for (const std::string& entry : plugin_origins_->entries()) texts.push_back(entry.c_str());
  ui_->set_plugin_origins(texts.data(), static_cast<int>(texts.size()));
}

void VeskApp::StartMemoryTrace() {
  VESK_DCHECK(trace_thread_ != nullptr);
  StartMemoryTraceFromCommandLine(trace_thread_.get(), log_dir_);
}

bool VeskApp::Run() {
  // 1. Pending restart-time updates, before any window. A started
  // installer replaces the program's files once this process has ended.
  bool installer_started = false;
  update::CheckUpdateFlag(ProgramDirectory(), &installer_started);
  if (installer_started) {
    VESK_LOG(INFO) << "Update: the installer runs; ending without a window.";
    if (ui_) ui_->shut_down();
    return true;
  }
  // 2.
  StartMemoryTrace();
  // 3.-8. Windows, the main loop, the clean-up and the engine's shutdown.
  if (ui_) {
    HandPluginOriginsToUi();
    ui_->run(start_url_.c_str());
  }
  return true;
}

}  // namespace vesk
