// The UI process's listener of the instance channel: an upload request first
// fills PendingUploadFiles, then the page is asked to call the handler it
// stored for the message's id. The sender is released once the page replied.
#pragma once

#include <memory>
#include <string>

#include "ipc/page_message_delivery.h"
#include "vesk/core/ipc/ipc.h"

namespace vesk {

class IPCDispatcher : public IPC::Listener {
 public:
  // Created on first use, lives until process exit. UI thread only.
  static IPCDispatcher& Get();

  // Replaces the road to the page (the default only logs).
  void SetPageDelivery(std::unique_ptr<PageMessageDelivery> delivery);

  void OnMessage(const IPC& sender, int32_t id, const std::string& data, IPC::Completion done) override;

 private:
  IPCDispatcher();
  ~IPCDispatcher() override = default;

  std::unique_ptr<PageMessageDelivery> page_delivery_;
};

}  // namespace vesk
