#include "ipc/page_message_delivery.h"

#include "vesk/core/logging.h"

namespace vesk {

void LoggingPageMessageDelivery::CallPageHandler(int32_t id, IPC::Completion done) {
  VESK_LOG(INFO) << "IPC message " << id << ": no page handler";
  done.Run();
}

}  // namespace vesk
