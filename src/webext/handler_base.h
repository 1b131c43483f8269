// The engine-handler side of the web process: what the page's engine
// reports (console messages) is written here, so log lines name this file
// as their source.
#pragma once

#include <string>

namespace plugin {

// Writes a page's console message into the log as
// "[CONSOLE:<file>(<line>)] <message>".
void LogConsoleMessage(const std::string& source_url, int line, const std::string& message);

}  // namespace plugin
