#include "plugins/compress.h"

#include "plugin_base/byte_strings.h"
#include "vesk/core/security/checksums.h"

namespace plugin {
namespace {

void ZlibCompress(Compress&, Call& call) {
  if (!call.ExpectMinimumCount(1) || !call.Expect(IsBytes(call[0]), 0, "String")) return;
  const auto compressed = vesk::security::ZlibCompress(BytesFromValue(call[0]));
  // Any failure but a full buffer ends the call without a result.
  if (compressed) call.Return(NewByteStringValue(call.context(), *compressed));
}

}  // namespace

void Compress::RegisterApis() { RegisterFunction("zlibCompress", ZlibCompress); }

}  // namespace plugin
