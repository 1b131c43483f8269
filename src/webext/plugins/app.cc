#include "plugins/app.h"

#include <glib.h>

#include "channel_client.h"
#include "extension_state.h"
#include "page_handlers.h"
#include "plugin_base/checks.h"
#include "plugin_base/context_scope.h"
#include "plugins/app_update.h"
#include "plugins/error_handler.h"
#include "plugins/proxy_helper.h"
#include "vesk/app_identity.h"
#include "vesk/core/autostart.h"
#include "vesk/core/command_line.h"
#include "vesk/core/file_util.h"
#include "vesk/core/ipc_message.h"
#include "vesk/core/logging.h"
#include "vesk/core/package/url_content.h"
#include "vesk/core/registry.h"
#include "vesk/core/switches.h"
#include "vesk/core/version_text.h"

namespace plugin {
namespace {

const std::string& ContextMenuKey() {
  static const std::string key = std::string(vesk::identity::kRegistryPath) + "\\ContextMenu";
  return key;
}

void Exit(App& self, Call& call) { AskHost<vesk::channel::op::Exit>(self.page_id(), call); }

// One wrapper per script context, made in this context; the table it
// fronts is the UI process's.
void GetProxyHandler(App& self, Call& call) {
  if (!call.ExpectCount(0)) return;
  if (const auto scope = self.scope()) call.Return(scope->WrapperOf<ProxyHelper>(self.context()));
}

void GetErrorHandler(App& self, Call& call) {
  if (!call.ExpectCount(0)) return;
  if (const auto scope = self.scope()) call.Return(scope->WrapperOf<ErrorHandler>(self.context()));
}

// One wrapper per script context, made in the context of this app object;
// the icon itself (and its state) is made once, in the UI process.
void GetTrayIcon(App& self, Call& call) {
  if (!call.ExpectCount(0)) return;
  if (!self.tray_icon()) {
    JSCContext* context = self.context();
    if (!context || !AskHost<vesk::channel::op::GetTrayIcon>(self.page_id(), call)) return;
    auto icon = TrayIcon::New();
    icon->CreateObject(context);
    self.set_tray_icon(std::move(icon));
  }
  call.Return(self.tray_icon()->GetObject());
}

void SetAutoRun(App&, Call& call) {
  if (!call.ExpectCount(2) || !call.Expect(IsString(call[0]), 0, "String") ||
      !call.Expect(IsString(call[1]), 1, "String"))
    return;
  // The running executable, whatever the build or the user named it: the
  // entry starts the program that wrote it.
  const std::string& executable = ExtensionState::Get().executable_path;
  if (executable.empty()) return call.Throw("Get execute file path failed!");
  g_autofree gchar* canonical = g_canonicalize_filename(executable.c_str(), "/");
  const std::string program(canonical);
  const std::string switch_text =
      std::string("--") + vesk::switches::kVeskStartup + "=" + ToStdString(call[1]);
  const std::string command_line = "\"" + program + "\" " + switch_text;
  if (!vesk::WriteAutostartEntry(ToStdString(call[0]), command_line, {program, switch_text}))
    call.Throw("Set auto run failed");
}

void CancelAutoRun(App&, Call& call) {
  if (!call.ExpectCount(1) || !call.Expect(IsString(call[0]), 0, "String")) return;
  vesk::DeleteAutostartEntry(ToStdString(call[0]));  // failure is not reported
}

void GetAutoRunState(App&, Call& call) {
  if (!call.ExpectCount(1) || !call.Expect(IsString(call[0]), 0, "String")) return;
  call.ReturnBool(vesk::HasAutostartEntry(ToStdString(call[0])));
}

void GetQbunVersion(App&, Call& call) {
  if (!call.ExpectCount(1) || !call.Expect(IsString(call[0]), 0, "String")) return;
  const std::string name = ToStdString(call[0]);
  std::string path;
  if (!vesk::DumpUrlToTempFile("vesk://" + name + "/version.dat", ExtensionState::Get().program_dir,
                               vesk::CommandLine::ForCurrentProcess(), g_get_tmp_dir(), &path))
    return call.Throw("Find Package Version Failed: " + name);
  std::string contents;
  if (!vesk::ReadFileToString(path, &contents, 1 << 20))
    return call.Throw("Load Package Version Failed: " + name);
  call.ReturnString(vesk::TrimWhitespace(contents));
}

void GetShowUploadMenu(App&, Call& call) {
  const vesk::RegistryStore registry(vesk::RegistryStore::Scope::kCurrentUser);
  const auto disabled = registry.ReadDword(ContextMenuKey(), "Disabled");
  call.ReturnBool(!disabled || *disabled == 0);
}

void SetShowUploadMenu(App&, Call& call) {
  if (!IsBool(call[0])) return call.Throw("value should be Bool");
  vesk::RegistryStore registry(vesk::RegistryStore::Scope::kCurrentUser);
  registry.WriteDword(ContextMenuKey(), "Disabled", jsc_value_to_boolean(call[0]) ? 0 : 1);
}

void GetVersion(App&, Call& call) {
  std::string text;
  const bool read = vesk::ReadFileToString(vesk::JoinPath(ExtensionState::Get().program_dir, "version.dat"),
                                           &text, 1 << 20);
  const vesk::VersionParts parts = vesk::ParseVersionText(read ? &text : nullptr);
  if (read && parts.warn)
    VESK_LOG(WARNING) << "Get Major and Minor Version Failed, Result is" << vesk::TrimWhitespace(text);
  ValueRef version(jsc_value_new_object(call.context(), nullptr, nullptr));
  const std::pair<const char*, std::string> members[] = {
      {"major", parts.major}, {"minor", parts.minor}, {"build", "5"}, {"revision", "5"}};
  for (const auto& [name, value] : members) {
    ValueRef string(jsc_value_new_string(call.context(), value.c_str()));
    DefineReadOnly(version.get(), name, string.get());
  }
  call.Return(std::move(version));
}

// The handlers of the instance messages; process-wide.
HandlerSlot InstanceMessageSlot(int32_t id, Accepts accepts) {
  return HandlerSlot{[id] { return InstanceMessageHandlers::Get().Slot(id); }, accepts};
}

}  // namespace

void App::ReleaseScriptValues() {
  if (tray_icon_) tray_icon_->ReleaseScriptValues();
  tray_icon_.reset();
  VeskPluginBase::ReleaseScriptValues();
}

void App::RegisterApis() {
  RegisterFunction("exit", Exit);
  RegisterFunction("getProxyHandler", GetProxyHandler);
  RegisterFunction("getErrorHandler", GetErrorHandler);
  RegisterFunction("getTrayIcon", GetTrayIcon);
  RegisterFunction("setAutoRun", SetAutoRun);
  RegisterFunction("cancelAutoRun", CancelAutoRun);
  RegisterFunction("getAutoRunState", GetAutoRunState);
  RegisterFunction("newUpdatePackage", NewUpdatePackage);
  RegisterFunction("updateWhenRestart", UpdateWhenRestart);
  RegisterFunction("getQbunVersion", GetQbunVersion);
  RegisterFunction("updateQbunsWhenRestart", UpdateQbunsWhenRestart);
  RegisterProperty("showUploadMenu", GetShowUploadMenu, SetShowUploadMenu);
  RegisterProperty("version", GetVersion);
  RegisterHandlerProperty("onUploadFile", InstanceMessageSlot(vesk::kUploadMessage, Accepts::kFunctions));
  RegisterHandlerProperty("onExitMessage", InstanceMessageSlot(vesk::kExitMessage, Accepts::kAnyValue));
  RegisterHandlerProperty("onForegroundPreInstance",
                          InstanceMessageSlot(vesk::kForegroundMessage, Accepts::kAnyValue));
}

}  // namespace plugin
