#include "plugins/md5.h"

#include "plugin_base/byte_strings.h"

namespace plugin {

void MD5::RegisterApis() {
  // append is never traced: its argument is bulk data.
  RegisterFunction("append", &MD5::Append, 2);
  RegisterFunction("reset", &MD5::Reset);
  RegisterFunction("getResult", &MD5::GetResult);
  RegisterFunction("complete", &MD5::Complete);
}

bool MD5::Append(JSCValue*, const Arguments& arguments, JSCValue**, std::string* exception) {
  if (!CheckMinimumCount(arguments, 1, exception) ||
      !CheckArgument(IsString(arguments[0]), 0, "String", exception))
    return true;
  digest_.Append(ByteStringFromValue(arguments[0]));
  return true;
}

bool MD5::Reset(JSCValue*, const Arguments& arguments, JSCValue**, std::string* exception) {
  if (!CheckCount(arguments, 0, exception)) return true;
  digest_.Reset();
  return true;
}

bool MD5::GetResult(JSCValue*, const Arguments& arguments, JSCValue** retval, std::string* exception) {
  if (!CheckCount(arguments, 0, exception)) return true;
  const auto result = digest_.Result();
  if (!result) {
    *exception = "the md5 calculate has not be completed";
    return true;
  }
  *retval = jsc_value_new_string(jsc_context_get_current(), result->c_str());
  return true;
}

bool MD5::Complete(JSCValue*, const Arguments& arguments, JSCValue**, std::string* exception) {
  if (!CheckCount(arguments, 0, exception)) return true;
  digest_.Complete();
  return true;
}

}  // namespace plugin
