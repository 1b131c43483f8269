#include "plugins/crc32.h"

#include "plugin_base/byte_strings.h"
#include "vesk/core/security/checksums.h"

namespace plugin {
namespace {

void CalculateCRC(CRC32&, Call& call) {
  if (!call.ExpectMinimumCount(1) || !call.Expect(IsBytes(call[0]), 0, "String")) return;
  const std::string bytes = BytesFromValue(call[0]);
  if (bytes.empty()) return call.Throw("the content can not be empty string");
  call.ReturnString(vesk::security::FormatCrc32(vesk::security::Crc32(bytes)));
}

}  // namespace

void CRC32::RegisterApis() { RegisterFunction("calculateCRC", CalculateCRC); }

}  // namespace plugin
