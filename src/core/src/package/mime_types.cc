#include "vesk/core/package/mime_types.h"

#include "vesk/core/command_line.h"

namespace vesk {
namespace {

struct MimeRow {
  const char* type;
  const char* extensions;  // comma-separated, no dots
};

// Order matters: the first row that lists an extension wins ("webm" is
// video, "jpg" comes from row 5).
constexpr MimeRow kMimeRows[] = {
    {"text/html", "html,htm"},
    {"text/css", "css"},
    {"text/xml", "xml"},
    {"image/gif", "gif"},
    {"image/jpeg", "jpeg,jpg"},
    {"image/webp", "webp"},
    {"image/png", "png"},
    {"video/mp4", "mp4,m4v"},
    {"audio/x-m4a", "m4a"},
    {"audio/mp3", "mp3"},
    {"video/ogg", "ogv,ogm"},
    {"audio/ogg", "ogg,oga"},
    {"video/webm", "webm"},
    {"audio/webm", "webm"},
    {"audio/wav", "wav"},
    {"application/xhtml+xml", "xhtml,xht"},
    {"application/x-chrome-extension", "crx"},
    {"multipart/related", "mhtml,mht"},
    {"application/octet-stream", "exe,com,bin"},
    {"application/gzip", "gz"},
    {"application/pdf", "pdf"},
    {"application/postscript", "ps,eps,ai"},
    {"application/x-javascript", "js"},
    {"image/bmp", "bmp"},
    {"image/x-icon", "ico"},
    {"image/jpeg", "jfif,pjpeg,pjp"},
    {"image/tiff", "tiff,tif"},
    {"image/x-xbitmap", "xbm"},
    {"image/svg+xml", "svg,svgz"},
    {"message/rfc822", "eml"},
    {"text/plain", "txt,text"},
    {"text/html", "shtml,ehtml"},
    {"application/rss+xml", "rss"},
    {"application/rdf+xml", "rdf"},
    {"text/xml", "xsl,xbl"},
    {"application/vnd.mozilla.xul+xml", "xul"},
    {"application/x-shockwave-flash", "swf,swl"},
    {"application/pkcs7-mime", "p7m,p7c,p7z"},
    {"application/pkcs7-signature", "p7s"},
    // Types the engine insists on: module scripts and WebAssembly are refused
    // as text/plain, fonts and JSON are mishandled. Always after the rows
    // above, which keep their order.
    {"text/javascript", "mjs"},
    {"application/wasm", "wasm"},
    {"application/json", "json"},
    {"font/woff2", "woff2"},
    {"font/woff", "woff"},
    {"font/ttf", "ttf"},
    {"font/otf", "otf"},
};
static_assert(std::size(kMimeRows) == 46);

bool RowListsExtension(std::string_view list, std::string_view extension) {
  while (!list.empty()) {
    const size_t comma = list.find(',');
    if (EqualsIgnoreAsciiCase(list.substr(0, comma), extension)) return true;
    if (comma == std::string_view::npos) break;
    list.remove_prefix(comma + 1);
  }
  return false;
}

}  // namespace

const char* MimeTypeForExtension(std::string_view extension) {
  if (!extension.empty()) {
    for (const MimeRow& row : kMimeRows)
      if (RowListsExtension(row.extensions, extension)) return row.type;
  }
  return "text/plain";
}

std::string_view ExtensionOfPath(std::string_view path) {
  const size_t separator = path.find_last_of("/\\");
  if (separator != std::string_view::npos) path.remove_prefix(separator + 1);
  const size_t dot = path.rfind('.');
  if (dot == std::string_view::npos) return {};
  return path.substr(dot + 1);
}

}  // namespace vesk
