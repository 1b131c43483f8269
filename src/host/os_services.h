// Questions about the desktop that pages ask through the os object.
#pragma once

#include <string>

#include "vesk/core/browser/window_geometry.h"

namespace vesk {

// Opens a URL or file with the desktop's default handler, on a worker so the
// caller never waits for the handler to start.
void OpenExternal(const std::string& target);

// Whether one process's windows lie at all four corner points of the
// primary monitor (a full-screen window); the desktop counts as nobody.
bool HasFullScreenWindowOfOtherProcess();

WindowRect PrimaryWorkArea();

// Milliseconds since the user's last input (XScreenSaver idle time); 0 when
// the server cannot tell.
double MillisecondsSinceLastInput();

}  // namespace vesk
