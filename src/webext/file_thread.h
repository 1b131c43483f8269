// The web process's file thread: update-package writes run there, one after
// another in the order they were posted, so the page never waits on the
// disk. Results come back to the main thread, where every script value lives.
#pragma once

#include <functional>

namespace plugin {

// Runs |work| on the file thread, then |done| on the main thread with its
// result. Nothing of |work| may touch a script value.
void PostFileWork(std::function<bool()> work, std::function<void(bool)> done);

}  // namespace plugin
