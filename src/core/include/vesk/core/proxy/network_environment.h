// The environment the engine's network process inherits from the UI
// process: GIO loads our proxy-resolver module from |module_dir| and uses
// it, and the module finds the resolver socket and its token. A value the
// user had set (their own GIO modules, their own choice of resolver) is kept
// as VESK_SAVED_<name>: the module honours the saved choice, and programs we
// start get the user's values back (update::ChildEnvironment).
#pragma once

#include <string>

namespace vesk {

inline constexpr char kSavedVariablePrefix[] = "VESK_SAVED_";

// Call before the engine starts any process.
void PrepareNetworkProcessEnvironment(const std::string& module_dir, const std::string& socket,
                                      const std::string& token);

}  // namespace vesk
