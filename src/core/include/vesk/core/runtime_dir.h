// Where the instance lock and both channels live: a directory that only this
// user may enter, so no other user can create, lock or listen there first.
#pragma once

#include <optional>
#include <string>

namespace vesk {

// $XDG_RUNTIME_DIR when it is absolute and names an existing directory that
// belongs to us and that group and others cannot write; otherwise "<tmp>/vesk-<uid>"
// (GLib's temporary directory), created 0700 when missing and checked the
// same way. Empty (logged) when neither is usable.
std::string PrivateRuntimeDirectory();

// Creates |dir| with mode 0700 when it is missing, then checks it: a real
// directory (not a symlink), owned by the effective user, no access for
// group or others. Logs and returns false otherwise.
bool EnsurePrivateDirectory(const std::string& dir);

}  // namespace vesk
