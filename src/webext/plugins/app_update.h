// window.app's update members (registered by App::RegisterApis): the update
// package files and the restart-time flags, written here in the web process
// like every other file the page's objects write.
#pragma once

#include "plugins/app.h"

namespace plugin {

void NewUpdatePackage(App& self, Call& call);
void UpdateWhenRestart(App& self, Call& call);
void UpdateQbunsWhenRestart(App& self, Call& call);

}  // namespace plugin
