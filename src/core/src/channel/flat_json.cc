#include "flat_json.h"

#include <charconv>
#include <cmath>
#include <cstddef>
#include <system_error>

namespace vesk::channel {
namespace {

// Beyond these the full reader and writer take over.
constexpr size_t kMaxMembers = 32;
constexpr size_t kMaxNameLength = 64;
// Nine digits always fit an int; JsonCpp reads longer integers into wider
// types, which this does not copy.
constexpr size_t kMaxIntegerDigits = 9;

bool IsNameChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

size_t CountDigits(std::string_view text, size_t at) {
  size_t count = 0;
  while (at + count < text.size() && IsDigit(text[at + count])) ++count;
  return count;
}

bool PlainName(std::string_view name) {
  if (name.empty() || name.size() > kMaxNameLength) return false;
  for (const char c : name)
    if (!IsNameChar(c)) return false;
  return true;
}

// A quoted plain name at the front of |text|, taken off it.
std::optional<std::string_view> TakeName(std::string_view* text) {
  if (text->empty() || text->front() != '"') return std::nullopt;
  const size_t end = text->find('"', 1);
  if (end == std::string_view::npos) return std::nullopt;
  const std::string_view name = text->substr(1, end - 1);
  if (!PlainName(name)) return std::nullopt;
  text->remove_prefix(end + 1);
  return name;
}

// A JSON number at the front of |text| (RFC 8259's grammar), taken off it.
std::optional<Json::Value> TakeNumber(std::string_view* text) {
  size_t at = (!text->empty() && text->front() == '-') ? 1 : 0;
  const size_t integer_digits = CountDigits(*text, at);
  if (integer_digits == 0 || (integer_digits > 1 && (*text)[at] == '0')) return std::nullopt;
  at += integer_digits;
  bool real = false;
  if (at < text->size() && (*text)[at] == '.') {
    const size_t fraction = CountDigits(*text, at + 1);
    if (fraction == 0) return std::nullopt;
    at += 1 + fraction;
    real = true;
  }
  if (at < text->size() && ((*text)[at] == 'e' || (*text)[at] == 'E')) {
    size_t exponent_at = at + 1;
    if (exponent_at < text->size() && ((*text)[exponent_at] == '+' || (*text)[exponent_at] == '-'))
      ++exponent_at;
    const size_t exponent = CountDigits(*text, exponent_at);
    if (exponent == 0) return std::nullopt;
    at = exponent_at + exponent;
    real = true;
  }
  const char* first = text->data();
  const char* last = text->data() + at;
  Json::Value number;
  if (real) {
    double value = 0;
    const auto [end, error] = std::from_chars(first, last, value);
    if (error != std::errc() || end != last || !std::isfinite(value)) return std::nullopt;
    number = value;
  } else {
    if (integer_digits > kMaxIntegerDigits) return std::nullopt;
    int value = 0;
    const auto [end, error] = std::from_chars(first, last, value);
    if (error != std::errc() || end != last) return std::nullopt;
    number = value;
  }
  text->remove_prefix(at);
  return number;
}

std::optional<Json::Value> TakeValue(std::string_view* text) {
  if (text->starts_with("true")) {
    text->remove_prefix(4);
    return Json::Value(true);
  }
  if (text->starts_with("false")) {
    text->remove_prefix(5);
    return Json::Value(false);
  }
  return TakeNumber(text);
}

bool AppendNumber(const Json::Value& value, std::string* out) {
  char buffer[32];
  std::to_chars_result written{};
  if (value.type() == Json::intValue) {
    written = std::to_chars(buffer, buffer + sizeof buffer, value.asInt64());
  } else if (value.type() == Json::uintValue) {
    written = std::to_chars(buffer, buffer + sizeof buffer, value.asUInt64());
  } else {
    const double real = value.asDouble();
    if (!std::isfinite(real)) return false;
    written = std::to_chars(buffer, buffer + sizeof buffer, real);
  }
  if (written.ec != std::errc()) return false;
  const std::string_view text(buffer, static_cast<size_t>(written.ptr - buffer));
  out->append(text);
  // A real stays one for the reader, as JsonCpp's writer keeps it.
  if (value.type() == Json::realValue && text.find_first_of(".e") == std::string_view::npos) *out += ".0";
  return true;
}

}  // namespace

std::optional<Json::Value> ReadFlatObject(std::string_view text) {
  if (!text.starts_with('{') || !text.ends_with('}')) return std::nullopt;
  text.remove_prefix(1);
  Json::Value object(Json::objectValue);
  if (text == "}") return object;
  while (true) {
    const auto name = TakeName(&text);
    if (!name || !text.starts_with(':')) return std::nullopt;
    text.remove_prefix(1);
    auto value = TakeValue(&text);
    if (!value || object.size() >= kMaxMembers) return std::nullopt;
    // JsonCpp refuses an object that names a member twice.
    if (object.isMember(name->data(), name->data() + name->size())) return std::nullopt;
    object[std::string(*name)] = std::move(*value);
    if (text == "}") return object;
    if (!text.starts_with(',')) return std::nullopt;
    text.remove_prefix(1);
  }
}

bool AppendFlatObject(const Json::Value& value, std::string* out) {
  if (!value.isObject() || value.size() > kMaxMembers) return false;
  for (auto it = value.begin(); it != value.end(); ++it) {
    const bool plain_value = it->isBool() || (it->isNumeric() && std::isfinite(it->asDouble()));
    if (!plain_value || !PlainName(it.name())) return false;
  }
  std::string written = "{";
  for (auto it = value.begin(); it != value.end(); ++it) {
    if (written.size() > 1) written += ',';
    written += '"';
    written += it.name();
    written += "\":";
    if (it->isBool())
      written += it->asBool() ? "true" : "false";
    else if (!AppendNumber(*it, &written))
      return false;
  }
  written += '}';
  *out += written;
  return true;
}

}  // namespace vesk::channel
