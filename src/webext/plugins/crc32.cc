#include "plugins/crc32.h"

#include "plugin_base/byte_strings.h"
#include "vesk/core/security/checksums.h"

namespace plugin {

void CRC32::RegisterApis() { RegisterFunction("calculateCRC", &CRC32::CalculateCRC); }

bool CRC32::CalculateCRC(JSCValue*, const Arguments& arguments, JSCValue** retval, std::string* exception) {
  if (!CheckMinimumCount(arguments, 1, exception) ||
      !CheckArgument(IsString(arguments[0]), 0, "String", exception))
    return true;
  const std::string bytes = ByteStringFromValue(arguments[0]);
  if (bytes.empty()) {
    *exception = "the content can not be empty string";
    return true;
  }
  const std::string text = vesk::security::FormatCrc32(vesk::security::Crc32(bytes));
  *retval = jsc_value_new_string(jsc_context_get_current(), text.c_str());
  return true;
}

}  // namespace plugin
