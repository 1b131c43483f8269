#include "vesk/core/browser/error_processor.h"

#include <glib.h>

namespace vesk {
namespace {

std::u16string ToUtf16(const std::string& text) {
  glong written = 0;
  g_autofree gunichar2* converted =
      g_utf8_to_utf16(text.c_str(), static_cast<glong>(text.size()), nullptr, &written, nullptr);
  if (!converted) return std::u16string(text.begin(), text.end());
  return std::u16string(reinterpret_cast<char16_t*>(converted), static_cast<size_t>(written));
}

}  // namespace

bool ErrorProcessor::Utf16Less::operator()(const std::string& a, const std::string& b) const {
  return ToUtf16(a) < ToUtf16(b);
}

ErrorProcessor& ErrorProcessor::Get() {
  // Function-local statics are initialised once, safely from any thread.
  static ErrorProcessor* instance = new ErrorProcessor;
  return *instance;
}

void ErrorProcessor::SetErrorData(const std::vector<std::pair<std::string, std::string>>& entries) {
  for (const auto& [key, value] : entries) {
    error_data_[key] = value;
    ordered_[key] = value;
  }
}

std::optional<std::string> ErrorProcessor::BuildErrorPageUrl(const std::string& failed_url,
                                                             const std::string& error_text) const {
  if (error_handler_url_.empty()) return std::nullopt;
  std::string url = error_handler_url_ + "?url=" + failed_url + "&error_text=" + error_text;
  for (const auto& [key, value] : ordered_) url += "&" + key + "=" + value;
  return url;
}

void ErrorProcessor::ResetForTesting() {
  error_data_.clear();
  ordered_.clear();
  error_handler_url_.clear();
}

}  // namespace vesk
