// The lines between the proxy-resolver module (in the engine's network
// process) and the UI process. Header only: the module shares it and links
// nothing but GLib.
//
//   module:  "<token> lookup <scheme://host:port>\n"
//   answer:  "proxy <proxy text>\n"  use that proxy
//            "system\n"              ask the system settings
//            "refused\n"             a wrong token or a malformed line
//   module:  "<token> failed <code> <text>\n"   the system settings failed
//   answer:  "ok\n"
//
// A line is at most kMaxLineBytes with its line feed; texts never hold a
// line feed (the sender replaces control characters by spaces).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace vesk::proxy_wire {

inline constexpr size_t kMaxLineBytes = 4096;
// The environment of the engine's network process names the socket and the
// token; the module reads both there.
inline constexpr char kSocketVariable[] = "VESK_PROXY_SOCKET";
inline constexpr char kTokenVariable[] = "VESK_PROXY_TOKEN";
// The module's name among GIO's proxy resolvers (GIO_USE_PROXY_RESOLVER).
inline constexpr char kResolverName[] = "vesk";

inline std::string Printable(std::string_view text) {
  std::string clean(text.substr(0, kMaxLineBytes / 2));
  for (char& c : clean)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = ' ';
  return clean;
}

inline std::string LookupLine(std::string_view token, std::string_view connection) {
  return std::string(token) + " lookup " + Printable(connection) + "\n";
}

inline std::string FailureLine(std::string_view token, int code, std::string_view text) {
  return std::string(token) + " failed " + std::to_string(code) + " " + Printable(text) + "\n";
}

struct Request {
  enum class Kind { kLookup, kFailure };
  Kind kind = Kind::kLookup;
  std::string token;
  std::string connection;  // kLookup
  int code = 0;            // kFailure
  std::string text;        // kFailure
};

// One line without its line feed; nothing when it is not one of the two.
inline std::optional<Request> ParseRequest(std::string_view line) {
  if (line.size() >= kMaxLineBytes) return std::nullopt;
  const size_t first = line.find(' ');
  if (first == std::string_view::npos || first == 0) return std::nullopt;
  Request request;
  request.token = std::string(line.substr(0, first));
  std::string_view rest = line.substr(first + 1);
  constexpr std::string_view kLookup = "lookup ", kFailed = "failed ";
  if (rest.substr(0, kLookup.size()) == kLookup) {
    request.kind = Request::Kind::kLookup;
    request.connection = std::string(rest.substr(kLookup.size()));
    return request.connection.empty() ? std::nullopt : std::optional<Request>(std::move(request));
  }
  if (rest.substr(0, kFailed.size()) != kFailed) return std::nullopt;
  rest.remove_prefix(kFailed.size());
  request.kind = Request::Kind::kFailure;
  const size_t space = rest.find(' ');
  const std::string_view code = rest.substr(0, space);
  if (code.empty() || code.size() > 10) return std::nullopt;
  long value = 0;
  bool negative = code.front() == '-';
  for (size_t i = negative ? 1 : 0; i < code.size(); ++i) {
    if (code[i] < '0' || code[i] > '9') return std::nullopt;
    value = value * 10 + (code[i] - '0');
  }
  if ((negative && code.size() == 1) || value > 2147483647L) return std::nullopt;
  request.code = static_cast<int>(negative ? -value : value);
  request.text = space == std::string_view::npos ? std::string() : std::string(rest.substr(space + 1));
  return request;
}

}  // namespace vesk::proxy_wire
