// The engine-handler roles of one window. Each holds the window's
// ClientHandlersDelegate, or null once the window has let go of its view, so
// late engine callbacks do nothing window-related.
#pragma once

#include <webkit2/webkit2.h>

#include <string>

#include "browser/delegates.h"

namespace vesk {

class HandlerBase {
 public:
  explicit HandlerBase(ClientHandlersDelegate* delegate) : delegate_(delegate) {}
  virtual ~HandlerBase() = default;
  void DetachDelegate() { delegate_ = nullptr; }
  ClientHandlersDelegate* delegate() const { return delegate_; }

 protected:
  ClientHandlersDelegate* delegate_;
};

}  // namespace vesk
