#include "ui_app.h"

#include <glib-unix.h>
#include <gtk/gtk.h>

#include "browser/browser_host.h"
#include "browser/modal_dialog_list.h"
#include "browser/page_bridge.h"
#include "channel/channel_handlers.h"
#include "channel/channel_server.h"
#include "channel/page_messages.h"
#include "engine.h"
#include "io_thread.h"
#include "ipc/ipc_dispatcher.h"
#include "origin_storage.h"
#include "scheme/scheme_registry.h"
#include "tray/taskbar_watch.h"
#include "vesk/app_identity.h"
#include "vesk/core/command_line.h"
#include "vesk/core/ipc/ipc.h"
#include "vesk/core/logging.h"
#include "vesk/core/proxy/resolver_server.h"
#include "vesk/core/switches.h"
#include "vesk/core/thread_check.h"

namespace vesk {

UiApp& UiApp::Get() {
  // Never destroyed: Run releases what it holds in an explicit order.
  static UiApp* app = new UiApp;
  return *app;
}

bool UiApp::InitializeDisplay() {
  // The host positions its own windows, which only X11 allows; under a
  // Wayland session it runs on XWayland.
  gdk_set_allowed_backends("x11");
  if (!gtk_init_check(nullptr, nullptr)) {
    VESK_LOG(ERROR) << "Cannot open the display; the application cannot start.";
    return false;
  }
  // Every window carries the application's class, so the desktop groups
  // them under its own entry and two applications never share one.
  g_set_application_name(identity::kDisplayName);
  gdk_set_program_class(identity::kWindowClass);
  return true;
}

bool UiApp::Initialize(const UiSettings& settings) {
  VESK_REQUIRE_MAIN_THREAD();
  // The running instance hands instance messages on to the page.
  IPC::AddListener(&IPCDispatcher::Get());
  if (!InitializeDisplay()) return false;
  VESK_VLOG(1) << "start-up: display open";
  IoThread().Start();
  Engine::Get().Initialize(settings);
  // Pages reach the host through the page channel; the host reaches pages
  // through user messages the web extension answers.
  ChannelServer::Get().Start(ServeChannelRequest, PublishedStateAnswers());
  PageBridge::Set(std::make_unique<WebPageBridge>());
  IPCDispatcher::Get().SetPageDelivery(std::make_unique<WebPageMessageDelivery>());
  taskbar_message_ = g_quark_from_static_string("TaskbarCreated");
  StartTaskbarWatch();
  return true;
}

// SIGTERM and SIGINT end the application the way closing it does, so the
// exit path (registrations, IO drain, engine shutdown) always runs.
int UiApp::OnTerminationSignal(void* self) {
  (void)self;
  VESK_LOG(INFO) << "Termination signal received; exiting.";
  // The way app.exit ends it: system dialogs cancelled, then the loop ends.
  ModalDialogList::Get().CloseAllAndQuit();
  // Stays installed, so Run can remove it unconditionally.
  return G_SOURCE_CONTINUE;
}

void UiApp::CreateMainWindow(const std::string& start_url) {
  VESK_REQUIRE_MAIN_THREAD();
  // Hidden unless force-show-window; the first page shows it when ready.
  main_window_ = BrowserHost::CreateBrowserHost(start_url, BrowserHost::Rect{}, false, false, true);
  if (main_window_) main_window_->CenterOnWorkArea();
}

void UiApp::StartDevReload() {
  if (!CommandLine::ForCurrentProcess().HasSwitch(switches::kEnableDevTools)) return;
  const std::vector<std::string> dirs = DevReloadWatcher::PageDirectoriesFromCommandLine();
  if (dirs.empty()) return;
  dev_reload_ = std::make_unique<DevReloadWatcher>([this] {
    if (main_window_ && main_window_->GetBrowser())
      webkit_web_view_reload_bypass_cache(main_window_->GetBrowser());
  });
  dev_reload_->Watch(dirs);
}

void UiApp::OnMainWindowDestroyed() {
  VESK_REQUIRE_MAIN_THREAD();
  main_window_ = nullptr;
  VESK_LOG(INFO) << "Main window destroyed";
}

void UiApp::OnLastWindowDestroyed() {
  if (!running_) return;
  VESK_LOG(INFO) << "Last window destroyed; exiting.";
  // The loop ends once no system dialog is open any more.
  ModalDialogList::Get().CloseAllAndQuit();
}

void UiApp::CleanUpAfterLoop() {
  // Order matters: no instance message is accepted once the loop that
  // answers them is gone; no new vesk:// load may start once the
  // registrations are gone; the IO worker finishes what it has; then the page
  // channel closes and the engine goes.
  IPC::Shutdown();
  ClearSchemeRegistrations();
  WaitForIoThread();
  IoThread().Stop();
  ChannelServer::Get().Stop();
  OriginStorage::Get().Shutdown();
  Engine::Get().Shutdown();
  ProxyResolverServer::Get().Stop();
}

bool UiApp::Run(const std::string& start_url) {
  VESK_REQUIRE_MAIN_THREAD();
  // Termination signals are honoured from here on, before any window exists.
  const guint term_source = g_unix_signal_add(SIGTERM, OnTerminationSignal, this);
  const guint int_source = g_unix_signal_add(SIGINT, OnTerminationSignal, this);
  running_ = true;
  CreateMainWindow(start_url);
  VESK_VLOG(1) << "start-up: main window created";
  StartDevReload();
  // A main window that could not be made leaves nothing to end the loop.
  if (BrowserHost::window_count() > 0) gtk_main();
  running_ = false;
  dev_reload_.reset();
  g_source_remove(term_source);
  g_source_remove(int_source);
  CleanUpAfterLoop();
  return true;
}

}  // namespace vesk
