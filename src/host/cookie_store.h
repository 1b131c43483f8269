// The page's cookie functions over the engine's cookie store (the
// WebKitCookieManager of the program's website data manager). Every call is
// asynchronous: the UI process never waits for the network process; the
// page waits on the channel until |done| runs. UI main thread only.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "vesk/core/browser/cookie_rules.h"

namespace vesk {

class CookieStore {
 public:
  static CookieStore& Get();

  // The first cookie named |name| the store sends to |url|, HttpOnly ones
  // included; nothing (and the error log line) when there is none.
  void GetCookie(const std::string& url, const std::string& name,
                 std::function<void(std::optional<std::string>)> done);
  // A session cookie with only |name| and |value|, host-only for the URL's
  // host and with its default path. False when the URL or the cookie cannot
  // be used.
  void SetCookie(const std::string& url, const std::string& name, const std::string& value,
                 std::function<void(bool)> done);
  // Empty |url|: every cookie. Empty |name|: every host cookie of the URL's
  // host, whatever its path. Both: the cookies of that name the URL is sent.
  // False for a URL that cannot be parsed.
  void RemoveCookie(const std::string& url, const std::string& name, std::function<void(bool)> done);
  // Copies the first cookie named |name| of domain |source| (or "." +
  // |source|) to domain |target|; the source cookie stays. Failures are
  // logged.
  void MoveCookie(const std::string& source, const std::string& target, const std::string& name,
                  std::function<void()> done);

 private:
  CookieStore() = default;
};

}  // namespace vesk
