#include "plugins/app.h"

#include <glib.h>

#include "channel_client.h"
#include "extension_state.h"
#include "page_handlers.h"
#include "plugin_base/checks.h"
#include "plugins/error_handler.h"
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

constexpr char kContextMenuKey[] = "Software\\Kestrow\\NewPelicard\\ContextMenu";
constexpr char kExecutableName[] = "pelicard";

JSCValue* NewString(const std::string& text) {
  return jsc_value_new_string(jsc_context_get_current(), text.c_str());
}

JSCValue* NewBool(bool value) { return jsc_value_new_boolean(jsc_context_get_current(), value); }

}  // namespace

void App::RegisterApis() {
  RegisterFunction("exit", &App::Exit);
  RegisterFunction("getErrorHandler", &App::GetErrorHandler);
  RegisterFunction("setAutoRun", &App::SetAutoRun);
  RegisterFunction("cancelAutoRun", &App::CancelAutoRun);
  RegisterFunction("getAutoRunState", &App::GetAutoRunState);
  RegisterFunction("getQbunVersion", &App::GetQbunVersion);
  RegisterProperty("showUploadMenu", &App::GetShowUploadMenu, &App::SetShowUploadMenu);
  RegisterProperty("version", &App::GetVersion, nullptr);
  RegisterProperty("onUploadFile", &App::GetOnUploadFile, &App::SetOnUploadFile);
  RegisterProperty("onExitMessage", &App::GetOnExitMessage, &App::SetOnExitMessage);
  RegisterProperty("onForegroundPreInstance", &App::GetOnForegroundPreInstance,
                   &App::SetOnForegroundPreInstance);
}

bool App::Exit(JSCValue*, const Arguments&, JSCValue**, std::string* exception) {
  CallHost(vesk::channel::Op::kAppExit, page_id_, Json::Value(Json::objectValue), exception);
  return true;
}

bool App::GetErrorHandler(JSCValue*, const Arguments& arguments, JSCValue** retval, std::string* exception) {
  if (!CheckCount(arguments, 0, exception)) return true;
  *retval = ErrorHandler::Instance(jsc_context_get_current())->GetObject();
  return true;
}

bool App::SetAutoRun(JSCValue*, const Arguments& arguments, JSCValue**, std::string* exception) {
  if (!CheckCount(arguments, 2, exception) ||
      !CheckArgument(IsString(arguments[0]), 0, "String", exception) ||
      !CheckArgument(IsString(arguments[1]), 1, "String", exception))
    return true;
  const std::string program_dir = ExtensionState::Get().program_dir;
  if (program_dir.empty()) {
    *exception = "Get execute file path failed!";
    return true;
  }
  gchar* canonical = g_canonicalize_filename(vesk::JoinPath(program_dir, kExecutableName).c_str(), "/");
  const std::string program(canonical);
  g_free(canonical);
  const std::string startup = ToStdString(arguments[1]);
  const std::string switch_text = std::string("--") + vesk::switches::kVeskStartup + "=" + startup;
  const std::string command_line = "\"" + program + "\" " + switch_text;
  if (!vesk::WriteAutostartEntry(ToStdString(arguments[0]), command_line, {program, switch_text}))
    *exception = "Set auto run failed";
  return true;
}

bool App::CancelAutoRun(JSCValue*, const Arguments& arguments, JSCValue**, std::string* exception) {
  if (!CheckCount(arguments, 1, exception) || !CheckArgument(IsString(arguments[0]), 0, "String", exception))
    return true;
  vesk::DeleteAutostartEntry(ToStdString(arguments[0]));  // failure is not reported
  return true;
}

bool App::GetAutoRunState(JSCValue*, const Arguments& arguments, JSCValue** retval, std::string* exception) {
  if (!CheckCount(arguments, 1, exception) || !CheckArgument(IsString(arguments[0]), 0, "String", exception))
    return true;
  *retval = NewBool(vesk::HasAutostartEntry(ToStdString(arguments[0])));
  return true;
}

bool App::GetQbunVersion(JSCValue*, const Arguments& arguments, JSCValue** retval, std::string* exception) {
  if (!CheckCount(arguments, 1, exception) || !CheckArgument(IsString(arguments[0]), 0, "String", exception))
    return true;
  const std::string name = ToStdString(arguments[0]);
  std::string path;
  if (!vesk::DumpUrlToTempFile("vesk://" + name + "/version.dat", ExtensionState::Get().program_dir,
                               vesk::CommandLine::ForCurrentProcess(), g_get_tmp_dir(), &path)) {
    *exception = "Find Package Version Failed: " + name;
    return true;
  }
  std::string contents;
  if (!vesk::ReadFileToString(path, &contents, 1 << 20)) {
    *exception = "Load Package Version Failed: " + name;
    return true;
  }
  *retval = NewString(vesk::TrimWhitespace(contents));
  return true;
}

bool App::GetShowUploadMenu(JSCValue*, JSCValue** retval, std::string*) {
  const vesk::RegistryStore registry(vesk::RegistryStore::Scope::kCurrentUser);
  const auto disabled = registry.ReadDword(kContextMenuKey, "Disabled");
  *retval = NewBool(!disabled || *disabled == 0);
  return true;
}

bool App::SetShowUploadMenu(JSCValue*, JSCValue* value, std::string* exception) {
  if (!IsBool(value)) {
    *exception = "value should be Bool";
    return true;
  }
  vesk::RegistryStore registry(vesk::RegistryStore::Scope::kCurrentUser);
  registry.WriteDword(kContextMenuKey, "Disabled", jsc_value_to_boolean(value) ? 0 : 1);
  return true;
}

bool App::GetVersion(JSCValue*, JSCValue** retval, std::string*) {
  std::string text;
  const bool read = vesk::ReadFileToString(vesk::JoinPath(ExtensionState::Get().program_dir, "version.dat"),
                                           &text, 1 << 20);
  const vesk::VersionParts parts = vesk::ParseVersionText(read ? &text : nullptr);
  if (read && parts.warn)
    VESK_LOG(WARNING) << "Get Major and Minor Version Failed, Result is" << vesk::TrimWhitespace(text);
  JSCContext* context = jsc_context_get_current();
  JSCValue* version = jsc_value_new_object(context, nullptr, nullptr);
  const std::pair<const char*, std::string> members[] = {
      {"major", parts.major}, {"minor", parts.minor}, {"build", "5"}, {"revision", "5"}};
  for (const auto& [name, value] : members) {
    JSCValue* string = jsc_value_new_string(context, value.c_str());
    DefineReadOnly(version, name, string);
    g_object_unref(string);
  }
  *retval = version;
  return true;
}

bool App::GetOnUploadFile(JSCValue*, JSCValue** retval, std::string*) {
  *retval = IPCDispatcher::Get().GetHandler(vesk::kUploadMessage);
  return true;
}

bool App::SetOnUploadFile(JSCValue*, JSCValue* value, std::string* exception) {
  if (!IsFunction(value)) {
    *exception = "value should be Function";
    return true;
  }
  IPCDispatcher::Get().SetHandler(vesk::kUploadMessage, value);
  return true;
}

bool App::GetOnExitMessage(JSCValue*, JSCValue** retval, std::string*) {
  *retval = IPCDispatcher::Get().GetHandler(vesk::kExitMessage);
  return true;
}

bool App::SetOnExitMessage(JSCValue*, JSCValue* value, std::string*) {
  IPCDispatcher::Get().SetHandler(vesk::kExitMessage, value);
  return true;
}

bool App::GetOnForegroundPreInstance(JSCValue*, JSCValue** retval, std::string*) {
  *retval = IPCDispatcher::Get().GetHandler(vesk::kForegroundMessage);
  return true;
}

bool App::SetOnForegroundPreInstance(JSCValue*, JSCValue* value, std::string*) {
  IPCDispatcher::Get().SetHandler(vesk::kForegroundMessage, value);
  return true;
}

}  // namespace plugin
