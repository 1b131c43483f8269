#include "vesk/core/cross_origin_whitelist.h"

#include <glib.h>

#include "vesk/core/command_line.h"
#include "vesk/core/logging.h"

namespace vesk {
namespace {

struct ParsedOrigin {
  std::string scheme;
  std::string host;
  int port = -1;
};

bool ParseOrigin(const std::string& text, ParsedOrigin* out) {
  GUri* uri = g_uri_parse(text.c_str(), G_URI_FLAGS_NONE, nullptr);
  if (!uri) return false;
  const char* host = g_uri_get_host(uri);
  const bool ok = host && *host;
  if (ok) {
    out->scheme = AsciiLower(g_uri_get_scheme(uri));
    out->host = AsciiLower(host);
    out->port = g_uri_get_port(uri);
  }
  g_uri_unref(uri);
  return ok;
}

}  // namespace

std::vector<CrossOriginEntry> BuildCrossOriginEntries(const std::vector<std::string>& sources,
                                                      const std::vector<std::string>& targets) {
  std::vector<CrossOriginEntry> entries;
  for (const std::string& target : targets) {
    ParsedOrigin parsed;
    if (!ParseOrigin(target, &parsed)) {
      VESK_DCHECK(false) << target << " is not a valid url";
      continue;
    }
    for (const std::string& source : sources)
      entries.push_back(CrossOriginEntry{source, parsed.scheme, parsed.host, true});
  }
  return entries;
}

std::vector<std::string> AllowListPatterns(const CrossOriginEntry& entry) {
  std::vector<std::string> patterns{entry.target_protocol + "://" + entry.target_domain + "/*"};
  if (entry.allow_target_subdomains)
    patterns.push_back(entry.target_protocol + "://*." + entry.target_domain + "/*");
  return patterns;
}

bool UrlHasOrigin(const std::string& url, const std::string& origin) {
  ParsedOrigin page, wanted;
  if (!ParseOrigin(url, &page) || !ParseOrigin(origin, &wanted)) return false;
  return page.scheme == wanted.scheme && page.host == wanted.host && page.port == wanted.port;
}

bool EntryCoversUrl(const CrossOriginEntry& entry, const std::string& url) {
  ParsedOrigin parsed;
  if (!ParseOrigin(url, &parsed) || parsed.scheme != entry.target_protocol) return false;
  const std::string& domain = entry.target_domain;
  if (parsed.host == domain) return true;
  return entry.allow_target_subdomains && parsed.host.size() > domain.size() + 1 &&
         parsed.host.compare(parsed.host.size() - domain.size(), domain.size(), domain) == 0 &&
         parsed.host[parsed.host.size() - domain.size() - 1] == '.';
}

bool IsTargetOfOtherSources(const std::vector<CrossOriginEntry>& entries, const std::string& page_url,
                            const std::string& url) {
  // A page's own origin is never withheld from it.
  ParsedOrigin page, target;
  if (ParseOrigin(page_url, &page) && ParseOrigin(url, &target) && page.scheme == target.scheme &&
      page.host == target.host && page.port == target.port)
    return false;
  bool is_target = false;
  for (const CrossOriginEntry& entry : entries) {
    if (!EntryCoversUrl(entry, url)) continue;
    if (UrlHasOrigin(page_url, entry.source_origin)) return false;
    is_target = true;
  }
  return is_target;
}

}  // namespace vesk
