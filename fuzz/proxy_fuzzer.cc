// What reaches the UI process from the engine's network process and the
// page: resolver request lines, connection origins and table keys.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "vesk/core/proxy/proxy_manager.h"
#include "vesk/core/proxy/resolver_wire.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (const auto request = vesk::proxy_wire::ParseRequest(text)) {
    (void)vesk::ParseProxyOrigin(request->connection);
    (void)vesk::proxy_wire::LookupLine(request->token, request->connection);
    (void)vesk::proxy_wire::FailureLine(request->token, request->code, request->text);
  }
  (void)vesk::ParseProxyOrigin(text);
  (void)vesk::ProxyManager::KeyOf(text);
  return 0;
}
