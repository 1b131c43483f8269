#include "plugins/compress.h"

#include "plugin_base/byte_strings.h"
#include "vesk/core/security/checksums.h"

namespace plugin {

void Compress::RegisterApis() { RegisterFunction("zlibCompress", &Compress::ZlibCompress); }

bool Compress::ZlibCompress(JSCValue*, const Arguments& arguments, JSCValue** retval,
                            std::string* exception) {
  if (!CheckMinimumCount(arguments, 1, exception) ||
      !CheckArgument(IsString(arguments[0]), 0, "String", exception))
    return true;
  const auto compressed = vesk::security::ZlibCompress(ByteStringFromValue(arguments[0]));
  // Any failure but a full buffer ends the call without a result.
  if (compressed) *retval = NewByteStringValue(jsc_context_get_current(), *compressed);
  return true;
}

}  // namespace plugin
