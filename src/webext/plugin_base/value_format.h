// Script values as text for call traces.
#pragma once

#include <jsc/jsc.h>

#include <string>

#include "plugin_base/js_object.h"

namespace plugin {

// "[function Function]", "[array Array]", "(" members ")" for objects, the
// engine's own conversion otherwise. Objects nested deeper than four levels
// print "[object Object]".
std::string ValueToString(JSCValue* value, int depth);
std::string MembersToString(JSCValue* value, int depth);
std::string ArgumentsToString(const Arguments& arguments);

}  // namespace plugin
