#include "vesk_app.h"

#include <glib-unix.h>
#include <gtk/gtk.h>
#include <unistd.h>

#include <cstdlib>
#include <mutex>

#include "browser/browser_host.h"
#include "browser/modal_dialog_list.h"
#include "browser/page_bridge.h"
#include "channel/channel_handlers.h"
#include "channel/channel_server.h"
#include "channel/page_messages.h"
#include "engine.h"
#include "io_thread.h"
#include "ipc/ipc_dispatcher.h"
#include "package_check.h"
#include "scheme/scheme_registry.h"
#include "vesk/core/command_line.h"
#include "vesk/core/file_util.h"
#include "vesk/core/ipc/ipc.h"
#include "vesk/core/ipc_message.h"
#include "vesk/core/logging.h"
#include "vesk/core/switches.h"
#include "vesk_app_trace_thread.h"

namespace vesk {
namespace {

// Shared by every instance of the program for one user; the lock file's
// location makes it per user (see SingleInstanceLockPath).
constexpr char kInstanceLockName[] = "vesk-pelicard-InstanceMutex-desktop.kestrow.example";
constexpr char kTraceThreadName[] = "VeskAppTrace";

BrowserHost* g_main_window = nullptr;

// SIGTERM and SIGINT end the application the way closing it does, so the
// exit path (registrations, IO drain, engine shutdown) always runs.
gboolean OnTerminationSignal(gpointer) {
  VESK_LOG(INFO) << "Termination signal received; exiting.";
  if (g_main_window)
    gtk_widget_destroy(GTK_WIDGET(g_main_window->window()));
  else
    ModalDialogList::Get().CloseAllAndQuit();
  // Stays installed (a repeated signal finds no window and does nothing), so
  // Run can remove it unconditionally.
  return G_SOURCE_CONTINUE;
}

}  // namespace

VeskApp& VeskApp::Get() {
  // Never destroyed: its members are released in an explicit order at the
  // end of Run (see CleanUpAfterLoop); the rest goes with the process.
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

void VeskApp::SetCrossOriginEntries(std::vector<CrossOriginEntry> entries) {
  cross_origin_entries_ = std::move(entries);
}

void VeskApp::InitLogging() {
  const CommandLine& command_line = CommandLine::ForCurrentProcess();
  logging::InitLogging(logging::LogFilePathFor(log_dir_, ExecutablePath()));
  int verbosity = 0;
  if (command_line.HasSwitch(switches::kV))
    verbosity = std::atoi(command_line.GetSwitchValue(switches::kV).c_str());
  logging::SetVerbosity(verbosity, command_line.GetSwitchValue(switches::kVmodule));
}

bool VeskApp::InitializeDisplay() {
  // The host positions its own windows, which only X11 allows; under a
  // Wayland session it runs on XWayland.
  gdk_set_allowed_backends("x11");
  if (!gtk_init_check(nullptr, nullptr)) {
    VESK_LOG(ERROR) << "Cannot open the display; the application cannot start.";
    return false;
  }
  return true;
}

void VeskApp::RunSecondInstance() {
  // A second instance is nobody's peer: its receiver goes first, so second
  // starts running at the same time never choose each other.
  IPC::Shutdown();
  const auto message = DecideSecondInstanceMessage(CommandLine::ForCurrentProcess());
  if (!message) VESK_LOG(INFO) << "Second instance: nothing to hand over.";
  // Only the first peer found gets the message; the send waits until its
  // handlers ran (bounded), and its result changes nothing here.
  IPC::EnumerateRemotes([&message](const IPC& peer) {
    if (message) {
      const bool answered = peer.Send(message->id, message->data);
      VESK_LOG(INFO) << "Second instance: message " << message->id << " handed to process "
                     << peer.remote_process_id() << (answered ? "" : " without an answer");
    }
    return true;
  });
  instance_lock_.Close();
}

bool VeskApp::Initialize() {
  // 1. The process command line.
  CommandLine::InitForCurrentProcess(CommandLine::FromProcSelf());
  // 2. Logging; from here on the log directory is fixed.
  log_dir_locked_ = true;
  InitLogging();
  // 4. Every process has its instance receiver before the single-instance
  // test, also one that turns out to be a second instance.
  IPC::CreateReceiver();
  // 3. and 5. The single-instance rule.
  const SingleInstanceLock::Result lock = instance_lock_.TryAcquire(SingleInstanceLockPath(kInstanceLockName));
  if (lock == SingleInstanceLock::Result::kError) return false;
  if (lock == SingleInstanceLock::Result::kHeldElsewhere) {
    RunSecondInstance();
    return false;
  }
  // 6. The first instance hands instance messages on to the page.
  IPC::AddListener(&IPCDispatcher::Get());
  // 7. The memory trace object (started by Run when asked for).
  trace_thread_ = std::make_unique<VeskAppTraceThread>(kTraceThreadName);
  // 8. The engine: display, IO worker, and the settings for the web context
  // that the first window creates.
  if (!InitializeDisplay()) return false;
  IoThread().Start();
  Engine::Get().Initialize(engine_settings_);
  // Pages reach the host through the page channel; the host reaches pages
  // through user messages the web extension answers.
  ChannelServer::Get().Start(HandleChannelRequest);
  PageBridge::Set(std::make_unique<WebPageBridge>());
  IPCDispatcher::Get().SetPageDelivery(std::make_unique<WebPageMessageDelivery>());
  // 9.
  initialized_ = true;
  taskbar_message_ = g_quark_from_static_string("TaskbarCreated");
  return true;
}

void VeskApp::RegisterApplications(const char* const* names, int count) {
  for (int i = 0; names && i < count; ++i) {
    if (!names[i] || !RegisterSchemeHandler("vesk", names[i])) return;
  }
  app_names_ = names;
  app_name_count_ = count;
}

bool VeskApp::CheckPackages() { return CheckApplicationPackages(application_names()); }

void VeskApp::StartMemoryTrace() {
  VESK_DCHECK(trace_thread_ != nullptr);
  StartMemoryTraceFromCommandLine(trace_thread_.get(), log_dir_);
}

void VeskApp::CreateMainWindow() {
  // Hidden unless force-show-window; the first page shows it when ready.
  g_main_window = BrowserHost::CreateBrowserHost(start_url_, BrowserHost::Rect{}, false, false, true);
  if (g_main_window) g_main_window->CenterOnWorkArea();
}

BrowserHost* VeskApp::main_window() const { return g_main_window; }

void VeskApp::OnMainWindowDestroyed() {
  g_main_window = nullptr;
  // The loop ends once no system dialog is open any more.
  ModalDialogList::Get().CloseAllAndQuit();
}

void VeskApp::CleanUpAfterLoop() {
  // Order matters: no new vesk:// load may start once the registrations are
  // gone, then the IO worker finishes what it has, then the engine goes.
  ClearSchemeRegistrations();
  WaitForIoThread();
  IoThread().Stop();
  ChannelServer::Get().Stop();
}

bool VeskApp::Run() {
  // 1. Pending restart-time updates are carried out by the update flags
  // (not part of this build yet).
  // 2.
  StartMemoryTrace();
  // Termination signals are honoured from here on, before any window exists.
  const guint term_source = g_unix_signal_add(SIGTERM, OnTerminationSignal, nullptr);
  const guint int_source = g_unix_signal_add(SIGINT, OnTerminationSignal, nullptr);
  // 3.-5.
  CreateMainWindow();
  // 6.
  gtk_main();
  g_source_remove(term_source);
  g_source_remove(int_source);
  // No instance message is accepted once the loop that answers them is gone.
  IPC::Shutdown();
  // 7.
  CleanUpAfterLoop();
  // 8.
  Engine::Get().Shutdown();
  return true;
}

}  // namespace vesk
