// The web extension: loaded by WebKit into every web process of the
// application. It binds the script objects into every script context of
// every frame and answers the UI process's direct calls. Everything it
// needs to know arrives as initialization data.
#include <webkit2/webkit-web-extension.h>

#include <map>
#include <memory>
#include <vector>

#include "channel_client.h"
#include "cross_origin_guard.h"
#include "extension_state.h"
#include "handler_base.h"
#include "page_handlers.h"
#include "plugin_base/context_scope.h"
#include "plugins/app.h"
#include "plugins/browser.h"
#include "plugins/os.h"
#include "plugins/security.h"
#include "plugins/winhelper.h"
#include "vesk/core/channel/page_messages.h"
#include "vesk/core/command_line.h"
#include "vesk/core/guarded.h"
#include "vesk/core/logging.h"
#include "vesk/core/thread_check.h"

namespace plugin {

ExtensionState& ExtensionState::Get() {
  static ExtensionState* state = new ExtensionState;
  return *state;
}

namespace {

// The scope of each frame's current script context, for frames that have the
// script objects. A new context of the frame replaces it; the old one lets
// go of every script value so the old context can be collected.
std::map<std::pair<guint64, guint64>, std::shared_ptr<ContextScope>>& FrameScopes() {
  static auto* scopes = new std::map<std::pair<guint64, guint64>, std::shared_ptr<ContextScope>>;
  return *scopes;
}

// The origin of the context's document, read before any script of the page
// ran in it ("null" for an opaque origin: sandboxed frames, data: URLs).
std::string OriginOf(JSCContext* context) {
  ValueRef origin(jsc_context_evaluate(context, "self.origin", -1));
  jsc_context_clear_exception(context);
  if (!origin || !jsc_value_is_string(origin.get())) return "null";
  g_autofree char* text = jsc_value_to_string(origin.get());
  return text ? text : "null";
}

void OnWindowObjectCleared(WebKitScriptWorld* world, WebKitWebPage* page, WebKitFrame* frame, gpointer) {
  VESK_REQUIRE_MAIN_THREAD();
  vesk::Guarded("window-object-cleared", [&] {
    const std::pair<guint64, guint64> key{webkit_web_page_get_id(page), webkit_frame_get_id(frame)};
    if (const auto old = FrameScopes().find(key); old != FrameScopes().end()) {
      const std::shared_ptr<ContextScope> released = std::move(old->second);
      FrameScopes().erase(old);
      released->Release();
    }
    g_autoptr(JSCContext) context = webkit_frame_get_js_context_for_script_world(frame, world);
    const std::string origin = OriginOf(context);
    if (!ExtensionState::Get().plugin_origins.Allows(origin)) return;
    auto scope = ContextScope::New(origin, key.first, webkit_frame_is_main_frame(frame));
    FrameScopes()[key] = scope;
    // In this order: app, browser, os, security, winhelper.
    const std::shared_ptr<VeskPluginBase> objects[] = {App::New(), Browser::New(), Os::New(), Security::New(),
                                                       Winhelper::New()};
    for (const auto& object : objects) {
      scope->Adopt(object);
      object->Attach(page, frame, context);
    }
  });
}

// Asks the page's close handler whether the window may close.
bool AskCloseHandler(WebKitWebPage* page) {
  G_GNUC_BEGIN_IGNORE_DEPRECATIONS
  WebKitFrame* main_frame = webkit_web_page_get_main_frame(page);
  G_GNUC_END_IGNORE_DEPRECATIONS
  const guint64 page_id = webkit_web_page_get_id(page);
  const auto scope = FrameScopes().find({page_id, webkit_frame_get_id(main_frame)});
  const ContextScope* main_scope = scope == FrameScopes().end() ? nullptr : scope->second.get();
  g_autoptr(JSCContext) main_context = webkit_frame_get_js_context(main_frame);
  return CloseHandlers::Get().Ask(page_id, main_scope, main_context);
}

gboolean OnUserMessage(WebKitWebPage* page, WebKitUserMessage* message, gpointer) {
  VESK_REQUIRE_MAIN_THREAD();
  gboolean handled = FALSE;
  vesk::Guarded("user-message-received", [&] {
    const std::string name = webkit_user_message_get_name(message);
    if (name == vesk::channel::kCloseMessage) {
      const bool keep_open = AskCloseHandler(page);
      webkit_user_message_send_reply(message,
                                     webkit_user_message_new(vesk::channel::kCloseMessage,
                                                             vesk::channel::CloseAnswerPayload(keep_open)));
      handled = TRUE;
    } else if (name == vesk::channel::kInstanceMessage) {
      const auto id = vesk::channel::ReadInstanceMessage(webkit_user_message_get_parameters(message));
      if (id && *id >= 0) InstanceMessageHandlers::Get().CallHandler(*id);
      webkit_user_message_send_reply(message,
                                     webkit_user_message_new(vesk::channel::kInstanceMessage, nullptr));
      handled = TRUE;
    }
  });
  return handled;
}

void OnConsoleMessage(WebKitWebPage*, WebKitConsoleMessage* message, gpointer) {
  VESK_REQUIRE_MAIN_THREAD();
  vesk::Guarded("console-message-sent", [&] {
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    const char* source = webkit_console_message_get_source_id(message);
    const guint line = webkit_console_message_get_line(message);
    const char* text = webkit_console_message_get_text(message);
    G_GNUC_END_IGNORE_DEPRECATIONS
    LogConsoleMessage(source ? source : "", static_cast<int>(line), text ? text : "");
  });
}

void ForgetPage(guint64 id) {
  std::vector<std::shared_ptr<ContextScope>> gone;
  auto& all = FrameScopes();
  for (auto it = all.begin(); it != all.end();) {
    if (it->first.first == id) {
      gone.push_back(std::move(it->second));
      it = all.erase(it);
    } else {
      ++it;
    }
  }
  // Outside the map: releasing lets go of script values.
  for (const auto& scope : gone) scope->Release();
  CloseHandlers::Get().Forget(id);
}

void OnPageGone(gpointer page_id, GObject*) {
  VESK_REQUIRE_MAIN_THREAD();
  vesk::Guarded("page-gone", [&] { ForgetPage(GPOINTER_TO_SIZE(page_id)); });
}

void OnPageCreated(WebKitWebExtension*, WebKitWebPage* page, gpointer) {
  VESK_REQUIRE_MAIN_THREAD();
  vesk::Guarded("page-created", [&] {
    g_signal_connect(page, "user-message-received", G_CALLBACK(OnUserMessage), nullptr);
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    g_signal_connect(page, "console-message-sent", G_CALLBACK(OnConsoleMessage), nullptr);
    G_GNUC_END_IGNORE_DEPRECATIONS
    g_object_weak_ref(G_OBJECT(page), OnPageGone, GSIZE_TO_POINTER(webkit_web_page_get_id(page)));
    GuardCrossOriginTargets(page);
  });
}

void ReadInitializationData(const GVariant* data) {
  const auto init = vesk::channel::DecodeExtensionInitData(const_cast<GVariant*>(data));
  if (!init) return;
  ExtensionState::Get().program_dir = init->program_dir;
  ExtensionState::Get().log_path = init->log_path;
  ExtensionState::Get().executable_path = init->executable_path;
  ExtensionState::Get().plugin_origins = vesk::PluginOriginList::FromEntries(init->plugin_origins);
  ExtensionState::Get().cross_origin_entries = init->cross_origin_entries;
  std::vector<std::string> argv{"WebKitWebProcess"};
  argv.insert(argv.end(), init->switches.begin(), init->switches.end());
  vesk::CommandLine::InitForCurrentProcess(vesk::CommandLine::FromArgv(argv));
  if (!init->log_path.empty()) vesk::logging::InitLogging(init->log_path, /*trim=*/false);
  ChannelClient::Get().Configure(init->channel_socket, init->channel_token);
}

}  // namespace
}  // namespace plugin

extern "C" G_MODULE_EXPORT void webkit_web_extension_initialize_with_user_data(WebKitWebExtension* extension,
                                                                               const GVariant* user_data) {
  // On failure pages run without native objects rather than the process
  // dying.
  vesk::Guarded("extension initialization", [&] {
    plugin::ReadInitializationData(user_data);
    g_signal_connect(extension, "page-created", G_CALLBACK(plugin::OnPageCreated), nullptr);
    g_signal_connect(webkit_script_world_get_default(), "window-object-cleared",
                     G_CALLBACK(plugin::OnWindowObjectCleared), nullptr);
  });
}
