#include "vesk/core/security/guid.h"

#include <uuid.h>

namespace vesk::security {

std::optional<std::string> CreateGuid() {
  uuid_t uuid;
  uuid_generate_random(uuid);
  // libuuid reports no errors; an all-zero value is the one sign that the
  // generator produced nothing.
  if (uuid_is_null(uuid)) return std::nullopt;
  char text[37];
  uuid_unparse_lower(uuid, text);
  return std::string(text);
}

}  // namespace vesk::security
