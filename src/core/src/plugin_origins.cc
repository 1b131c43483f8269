#include "vesk/core/plugin_origins.h"

#include <glib.h>

#include <algorithm>

#include "vesk/core/command_line.h"

namespace vesk {
namespace {

int DefaultPort(const std::string& scheme) {
  if (scheme == "http" || scheme == "ws") return 80;
  if (scheme == "https" || scheme == "wss") return 443;
  return -1;
}

}  // namespace

std::optional<std::string> NormalizeOrigin(const std::string& text) {
  g_autoptr(GUri) uri = g_uri_parse(text.c_str(), G_URI_FLAGS_NONE, nullptr);
  if (!uri) return std::nullopt;
  const char* host = g_uri_get_host(uri);
  if (!host || !*host) return std::nullopt;
  const std::string scheme = AsciiLower(g_uri_get_scheme(uri));
  std::string origin = scheme + "://";
  const std::string lower_host = AsciiLower(host);
  // An IPv6 literal keeps its brackets in an origin.
  origin += lower_host.find(':') == std::string::npos ? lower_host : "[" + lower_host + "]";
  const int port = g_uri_get_port(uri);
  if (port >= 0 && port != DefaultPort(scheme)) {
    // Appended in two steps: ":" + text makes GCC 12 at -O3 warn falsely (-Wrestrict).
    origin += ':';
    origin += std::to_string(port);
  }
  return origin;
}

PluginOriginList PluginOriginList::FromEntries(const std::vector<std::string>& entries,
                                               std::vector<std::string>* rejected) {
  PluginOriginList list;
  for (const std::string& entry : entries) {
    if (entry == kEveryOrigin) {
      list.Add(kEveryOrigin);
      continue;
    }
    const auto origin = NormalizeOrigin(entry);
    if (origin)
      list.Add(*origin);
    else if (rejected)
      rejected->push_back(entry);
  }
  return list;
}

PluginOriginList PluginOriginList::Default(const std::vector<std::string>& application_names,
                                           const std::vector<CrossOriginEntry>& cross_origin_entries) {
  std::vector<std::string> entries;
  for (const std::string& name : application_names) entries.push_back("vesk://" + name);
  for (const CrossOriginEntry& entry : cross_origin_entries) entries.push_back(entry.source_origin);
  return FromEntries(entries);
}

void PluginOriginList::Add(const std::string& normalized) {
  if (normalized == kEveryOrigin) every_origin_ = true;
  if (std::find(entries_.begin(), entries_.end(), normalized) == entries_.end())
    entries_.push_back(normalized);
}

bool PluginOriginList::Allows(const std::string& origin) const {
  if (every_origin_) return true;
  const auto normalized = NormalizeOrigin(origin);
  return normalized && std::find(entries_.begin(), entries_.end(), *normalized) != entries_.end();
}

std::string PluginOriginList::Describe() const {
  if (entries_.empty()) return "(none)";
  std::string text;
  for (const std::string& entry : entries_) text += (text.empty() ? "" : ", ") + entry;
  return text;
}

}  // namespace vesk
