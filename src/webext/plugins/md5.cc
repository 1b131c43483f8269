#include "plugins/md5.h"

#include "plugin_base/byte_strings.h"

namespace plugin {
namespace {

void Append(MD5& self, Call& call) {
  if (!call.ExpectMinimumCount(1) || !call.Expect(IsBytes(call[0]), 0, "String")) return;
  // Binary data is hashed where it lies, without a copy.
  if (const auto binary = BinaryDataOf(call[0]))
    self.digest().Append(*binary);
  else
    self.digest().Append(ByteStringFromValue(call[0]));
}

void Reset(MD5& self, Call& call) {
  if (call.ExpectCount(0)) self.digest().Reset();
}

void GetResult(MD5& self, Call& call) {
  if (!call.ExpectCount(0)) return;
  const auto result = self.digest().Result();
  if (!result) return call.Throw("the md5 calculate has not be completed");
  call.ReturnString(*result);
}

void Complete(MD5& self, Call& call) {
  if (call.ExpectCount(0)) self.digest().Complete();
}

}  // namespace

void MD5::RegisterApis() {
  // append is never traced: its argument is bulk data.
  RegisterFunction("append", Append, TraceMode::kNever);
  RegisterFunction("reset", Reset);
  RegisterFunction("getResult", GetResult);
  RegisterFunction("complete", Complete);
}

}  // namespace plugin
