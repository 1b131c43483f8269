// Cross-origin whitelist entries: each source origin may reach each target's
// scheme and host, subdomains included.
#pragma once

#include <string>
#include <vector>

namespace vesk {

struct CrossOriginEntry {
  std::string source_origin;
  std::string target_protocol;
  std::string target_domain;
  bool allow_target_subdomains = true;
};

// Targets that do not parse as URLs with a host are passed over (a debug
// check reports "<origin> is not a valid url").
std::vector<CrossOriginEntry> BuildCrossOriginEntries(const std::vector<std::string>& sources,
                                                      const std::vector<std::string>& targets);

// Engine allow-list patterns for one entry: "proto://domain/*" and, with
// subdomains, "proto://*.domain/*".
std::vector<std::string> AllowListPatterns(const CrossOriginEntry& entry);

// Whether a page URL belongs to |origin| ("scheme://host[:port]").
bool UrlHasOrigin(const std::string& url, const std::string& origin);

// Whether |url| is one of |entry|'s targets: its protocol and domain, or a
// subdomain when the entry allows them. Any port, as the engine's patterns.
bool EntryCoversUrl(const CrossOriginEntry& entry, const std::string& url);

// Whether a page at |page_url| must be refused |url|: |url| is a target of
// some entry, is not of the page's own origin, and no entry whose source is
// the page's origin covers it.
bool IsTargetOfOtherSources(const std::vector<CrossOriginEntry>& entries, const std::string& page_url,
                            const std::string& url);

}  // namespace vesk
