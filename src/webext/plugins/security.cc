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

// The array's elements, or nothing (with the call thrown) when it does not
// hold exactly eight. With |numbers_only| each element must be a script
// number ("value should be Number").
std::optional<std::vector<ValueRef>> KeyElements(JSCValue* array, bool numbers_only, Call& call) {
  ValueRef length(jsc_value_object_get_property(array, "length"));
  if (!length || !IsNumber(length.get()) ||
      jsc_value_to_double(length.get()) != vesk::security::kKeyNumberCount) {
    call.Throw(kEightIntegers);
    return std::nullopt;
  }
  std::vector<ValueRef> elements;
  for (guint i = 0; i < vesk::security::kKeyNumberCount; ++i) {
    elements.emplace_back(jsc_value_object_get_property_at_index(array, i));
    if (numbers_only && !IsNumber(elements.back().get())) {
      call.Throw("value should be Number");
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

void GetSessionKey(Security&, Call& call) {
  if (!call.ExpectCount(1) || !call.Expect(IsArray(call[0]), 0, "Array")) return;
  const auto elements = KeyElements(call[0], /*numbers_only=*/false, call);
  if (!elements) return;
  const auto wrapped = vesk::security::WrapSessionKey(SessionKeyOf(*elements));
  if (!wrapped) return call.Throw("rsa fialed");
  call.ReturnString(*wrapped);
}

void CreateGuid(Security&, Call& call) {
  if (!call.ExpectCount(0)) return;
  const auto guid = vesk::security::CreateGuid();
  if (!guid) return call.Throw("Failed to create guid");
  call.ReturnString(*guid);
}

void NewMD5(Security&, Call& call) { call.Return(MD5::New()->CreateOwnedObject(call.context())); }
void NewCRC(Security&, Call& call) { call.Return(CRC32::New()->CreateOwnedObject(call.context())); }
void NewZlib(Security&, Call& call) { call.Return(Compress::New()->CreateOwnedObject(call.context())); }

void GetOperateAccessKey(Security&, Call& call) {
  if (!call.ExpectCount(2) || !call.Expect(IsArray(call[0]), 0, "Array") ||
      !call.Expect(IsString(call[1]), 1, "String"))
    return;
  const auto elements = KeyElements(call[0], /*numbers_only=*/true, call);
  if (!elements) return;
  // The engine's plain UTF-8 form ends a text at an unpaired surrogate; its
  // JSON form keeps every code unit (and NUL characters).
  g_autofree char* json = jsc_value_to_json(call[1], 0);
  const auto text = vesk::security::TextFromJsonString(json ? json : "");
  if (!text) return call.Throw("arguments[1] should be String");
  const std::string cipher =
      vesk::security::EncryptAccessKey(SessionKeyOf(*elements), vesk::security::BuiltInAccessKeyIv(), *text);
  call.ReturnString(vesk::security::Base64UrlEncodeNoPadding(cipher));
}

}  // namespace

void Security::RegisterApis() {
  RegisterFunction("getSessionKey", GetSessionKey);
  RegisterFunction("createGuid", CreateGuid);
  RegisterFunction("newMD5", NewMD5);
  RegisterFunction("newCRC", NewCRC);
  RegisterFunction("newZlib", NewZlib);
  RegisterFunction("getOperateAccessKey", GetOperateAccessKey);
}

}  // namespace plugin
