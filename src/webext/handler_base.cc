#include "handler_base.h"

#include "vesk/core/browser/console_message.h"
#include "vesk/core/logging.h"

namespace plugin {

void LogConsoleMessage(const std::string& source_url, int line, const std::string& message) {
  VESK_LOG(INFO) << vesk::FormatConsoleMessage(source_url, line, message);
}

}  // namespace plugin
