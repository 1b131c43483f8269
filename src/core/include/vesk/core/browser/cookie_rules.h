// How the page's cookie functions read URLs, cookie texts and domains; the
// host applies them before it asks the engine's cookie store.
#pragma once

#include <string>

namespace vesk {

namespace cookies {

// The default path of a cookie set for a URL with path |path|: the path up
// to its last "/" (without it), "/" when that leaves nothing.
std::string DefaultPath(const std::string& path);
// Whether a cookie name and value can be written as they are: no control
// characters and no ";" (which would end the cookie early), no "=" in the
// name, and not both empty.
bool IsWritable(const std::string& name, const std::string& value);
// The URL a moved cookie is set for: the target itself when it begins with
// "http://", otherwise "http://" + target.
std::string MoveTargetUrl(const std::string& target);
// Whether a cookie whose domain is |domain| (a leading "." allowed) may be
// set for |host|: the host itself or, for a host name, a subdomain
// of it.
bool DomainMatchesHost(const std::string& domain, const std::string& host);
// Whether a stored cookie's domain is |source| or "." + |source|.
bool IsFromDomain(const std::string& cookie_domain, const std::string& source);

}  // namespace cookies

}  // namespace vesk
