#include "vesk/core/proxy/network_environment.h"

#include <glib.h>

#include "vesk/core/proxy/resolver_wire.h"

namespace vesk {
namespace {

std::string SavedName(const char* name) { return std::string(kSavedVariablePrefix) + name; }

}  // namespace

void PrepareNetworkProcessEnvironment(const std::string& module_dir, const std::string& socket,
                                      const std::string& token) {
  // Once ours are set, only the saved values are the user's.
  const bool prepared_before = g_getenv(proxy_wire::kSocketVariable) != nullptr;
  const auto users = [prepared_before](const char* name) -> std::string {
    const char* saved = g_getenv(SavedName(name).c_str());
    if (saved || prepared_before) return saved ? saved : "";
    const char* value = g_getenv(name);
    if (value) g_setenv(SavedName(name).c_str(), value, TRUE);
    return value ? value : "";
  };
  // The user's own module directories stay usable after ours.
  const std::string users_modules = users("GIO_EXTRA_MODULES");
  users("GIO_USE_PROXY_RESOLVER");
  const std::string modules = users_modules.empty() ? module_dir : module_dir + ":" + users_modules;
  g_setenv("GIO_EXTRA_MODULES", modules.c_str(), TRUE);
  g_setenv("GIO_USE_PROXY_RESOLVER", proxy_wire::kResolverName, TRUE);
  g_setenv(proxy_wire::kSocketVariable, socket.c_str(), TRUE);
  g_setenv(proxy_wire::kTokenVariable, token.c_str(), TRUE);
}

}  // namespace vesk
