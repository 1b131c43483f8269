#include "vesk/core/external_opener.h"

#include "vesk/core/logging.h"

namespace vesk {

ExternalOpener::ExternalOpener(OpenFunction open, int per_second, size_t max_pending)
    : open_(std::move(open)),
      max_pending_(max_pending),
      admission_(per_second, std::chrono::milliseconds(1000)),
      worker_("VeskExternalOpen") {
  worker_.Start();
}

ExternalOpener::~ExternalOpener() { worker_.Stop(); }

bool ExternalOpener::Submit(const std::string& target) {
  uint64_t dropped_before = 0;
  if (pending_.load() >= max_pending_ || !admission_.Allow(&dropped_before)) {
    VESK_LOG_LIMITED(WARNING, 2) << "Too many requests to open external targets; dropped: "
                                 << target.substr(0, 200);
    return false;
  }
  ++pending_;
  const bool posted = worker_.PostTask([this, target] {
    struct Done {
      std::atomic<size_t>& pending;
      ~Done() { --pending; }
    } done{pending_};
    open_(target);
  });
  if (!posted) --pending_;
  return posted;
}

void ExternalOpener::Drain() { worker_.Drain(); }

}  // namespace vesk
