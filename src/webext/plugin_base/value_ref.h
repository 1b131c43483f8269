// Owners of script values.
#pragma once

#include <jsc/jsc.h>

#include "vesk/core/object_ref.h"

namespace plugin {

using ValueRef = vesk::ObjectRef<JSCValue>;
using WeakValueRef = vesk::ObjectRef<JSCWeakValue>;

}  // namespace plugin
