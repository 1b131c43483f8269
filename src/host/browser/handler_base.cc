#include "browser/handler_base.h"

#include "vesk/core/browser/console_message.h"
#include "vesk/core/logging.h"

namespace vesk {

void LogConsoleMessage(const std::string& source_url, int line, const std::string& message) {
  VESK_LOG(INFO) << FormatConsoleMessage(source_url, line, message);
}

}  // namespace vesk
