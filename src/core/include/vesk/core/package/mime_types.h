// The vesk:// MIME table: 46 rows searched in order, first match wins,
// extensions compared without regard to ASCII case. Rows 40 on add the types
// of module scripts, WebAssembly, JSON and web fonts.
#pragma once

#include <string_view>

namespace vesk {

// "text/plain" for an extension that no row lists (and for "").
const char* MimeTypeForExtension(std::string_view extension);
// The text after the last '.' of the last path component ('/' and '\'
// separate components); empty when that component has no '.'.
std::string_view ExtensionOfPath(std::string_view path);

}  // namespace vesk
