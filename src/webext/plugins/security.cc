#include "plugins/security.h"

#include <memory>
#include <optional>

#include "plugin_base/byte_strings.h"
#include "plugins/compress.h"
#include "plugins/crc32.h"
#include "plugins/md5.h"
#include "vesk/core/security/access_key.h"
#include "vesk/core/security/guid.h"
#include "vesk/core/security/session_key.h"

namespace plugin {
namespace {

constexpr char kEightIntegers[] = "arguments must be a array with eight integer elements.";

// The array's elements, or nothing (with the exception set) when it does
// not hold exactly eight. With |numbers_only| each element must be a script
// number ("value should be Number").
std::optional<std::vector<ValueRef>> KeyElements(JSCValue* array, bool numbers_only, std::string* exception) {
  ValueRef length(jsc_value_object_get_property(array, "length"));
  if (!length || !IsNumber(length.get()) ||
      jsc_value_to_double(length.get()) != vesk::security::kKeyNumberCount) {
    *exception = kEightIntegers;
    return std::nullopt;
  }
  std::vector<ValueRef> elements;
  for (guint i = 0; i < vesk::security::kKeyNumberCount; ++i) {
    elements.emplace_back(jsc_value_object_get_property_at_index(array, i));
    if (numbers_only && !IsNumber(elements.back().get())) {
      *exception = "value should be Number";
      return std::nullopt;
    }
  }
  return elements;
}

// The engine's integer conversion (ToInt32) of each element.
vesk::security::SessionKey SessionKeyOf(const std::vector<ValueRef>& elements) {
  vesk::security::KeyNumbers numbers{};
  for (size_t i = 0; i < numbers.size(); ++i)
    numbers[i] = elements[i] ? jsc_value_to_int32(elements[i].get()) : 0;
  return vesk::security::SessionKeyFromNumbers(numbers);
}

}  // namespace

void Security::RegisterApis() {
  RegisterFunction("getSessionKey", &Security::GetSessionKey);
  RegisterFunction("createGuid", &Security::CreateGuid);
  RegisterFunction("newMD5", &Security::NewMD5);
  RegisterFunction("newCRC", &Security::NewCRC);
  RegisterFunction("newZlib", &Security::NewZlib);
  RegisterFunction("getOperateAccessKey", &Security::GetOperateAccessKey);
}

bool Security::GetSessionKey(JSCValue*, const Arguments& arguments, JSCValue** retval,
                             std::string* exception) {
  if (!CheckCount(arguments, 1, exception) || !CheckArgument(IsArray(arguments[0]), 0, "Array", exception))
    return true;
  const auto elements = KeyElements(arguments[0], /*numbers_only=*/false, exception);
  if (!elements) return true;
  const auto wrapped = vesk::security::WrapSessionKey(SessionKeyOf(*elements));
  if (!wrapped) {
    *exception = "rsa fialed";
    return true;
  }
  *retval = jsc_value_new_string(jsc_context_get_current(), wrapped->c_str());
  return true;
}

bool Security::CreateGuid(JSCValue*, const Arguments& arguments, JSCValue** retval, std::string* exception) {
  if (!CheckCount(arguments, 0, exception)) return true;
  const auto guid = vesk::security::CreateGuid();
  if (!guid) {
    *exception = "Failed to create guid";
    return true;
  }
  *retval = jsc_value_new_string(jsc_context_get_current(), guid->c_str());
  return true;
}

bool Security::NewMD5(JSCValue*, const Arguments&, JSCValue** retval, std::string*) {
  *retval = MD5::New()->CreateOwnedObject(jsc_context_get_current());
  return true;
}

bool Security::NewCRC(JSCValue*, const Arguments&, JSCValue** retval, std::string*) {
  *retval = CRC32::New()->CreateOwnedObject(jsc_context_get_current());
  return true;
}

bool Security::NewZlib(JSCValue*, const Arguments&, JSCValue** retval, std::string*) {
  *retval = Compress::New()->CreateOwnedObject(jsc_context_get_current());
  return true;
}

bool Security::GetOperateAccessKey(JSCValue*, const Arguments& arguments, JSCValue** retval,
                                   std::string* exception) {
  if (!CheckCount(arguments, 2, exception) || !CheckArgument(IsArray(arguments[0]), 0, "Array", exception) ||
      !CheckArgument(IsString(arguments[1]), 1, "String", exception))
    return true;
  const auto elements = KeyElements(arguments[0], /*numbers_only=*/true, exception);
  if (!elements) return true;
  // UTF-8 with its length: a text may hold NUL characters.
  std::unique_ptr<GBytes, decltype(&g_bytes_unref)> text(jsc_value_to_string_as_bytes(arguments[1]),
                                                         &g_bytes_unref);
  gsize size = 0;
  const auto* data = text ? static_cast<const char*>(g_bytes_get_data(text.get(), &size)) : nullptr;
  const std::string cipher =
      vesk::security::EncryptAccessKey(SessionKeyOf(*elements), vesk::security::BuiltInAccessKeyIv(),
                                       std::string_view(data ? data : "", data ? size : 0));
  *retval = jsc_value_new_string(jsc_context_get_current(),
                                 vesk::security::Base64UrlEncodeNoPadding(cipher).c_str());
  return true;
}

}  // namespace plugin
