// Which frames get the script objects: the origins on the plugin allow-list.
// A frame of any other origin (an ad, a mail shown in an iframe, any
// third-party page) runs without them. Origins are compared in the form a
// document reports its own origin: "scheme://host[:port]", scheme and host
// in lower case, the scheme's default port left out.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "vesk/core/cross_origin_whitelist.h"

namespace vesk {

// The entry that lets every frame have the objects.
inline constexpr char kEveryOrigin[] = "*";

// The canonical form of an origin (or of a URL's origin); nothing for a text
// without a scheme and host.
std::optional<std::string> NormalizeOrigin(const std::string& text);

class PluginOriginList {
 public:
  // An explicit list; entries that are neither "*" nor an origin go to
  // |rejected| (when given) and are left out.
  static PluginOriginList FromEntries(const std::vector<std::string>& entries,
                                      std::vector<std::string>* rejected = nullptr);
  // The application's own origins: vesk://<name> for every registered
  // application and every source origin of the cross-origin list.
  static PluginOriginList Default(const std::vector<std::string>& application_names,
                                  const std::vector<CrossOriginEntry>& cross_origin_entries);

  // |origin| as a document reports it ("null" for an opaque origin, which
  // only "*" admits).
  bool Allows(const std::string& origin) const;
  bool allows_every_origin() const { return every_origin_; }
  // The normalized entries, "*" included, in their first order.
  const std::vector<std::string>& entries() const { return entries_; }
  // "a, b, c" for the log; "(none)" when empty.
  std::string Describe() const;

 private:
  void Add(const std::string& normalized);

  std::vector<std::string> entries_;
  bool every_origin_ = false;
};

}  // namespace vesk
