#include "ipc/ipc_dispatcher.h"

#include "vesk/core/ipc_message.h"
#include "vesk/core/logging.h"
#include "vesk/core/upload_request.h"

namespace vesk {

IPCDispatcher& IPCDispatcher::Get() {
  static IPCDispatcher* dispatcher = new IPCDispatcher;
  return *dispatcher;
}

IPCDispatcher::IPCDispatcher() : page_delivery_(std::make_unique<LoggingPageMessageDelivery>()) {}

void IPCDispatcher::SetPageDelivery(std::unique_ptr<PageMessageDelivery> delivery) {
  page_delivery_ = delivery ? std::move(delivery) : std::make_unique<LoggingPageMessageDelivery>();
}

void IPCDispatcher::OnMessage(const IPC&, int32_t id, const std::string& data, IPC::Completion done) {
  if (id == kUploadMessage) {
    // The paths are in place before the page hears of them; whether the
    // request could be read does not change what happens next.
    const size_t before = PendingUploadFiles::Get().files().size();
    LoadUploadRequest(data);
    VESK_LOG(INFO) << "IPC upload request: " << PendingUploadFiles::Get().files().size() - before
                   << " file(s) appended";
  }
  page_delivery_->CallPageHandler(id, std::move(done));
}

}  // namespace vesk
