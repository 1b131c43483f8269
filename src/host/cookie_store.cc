#include "cookie_store.h"

#include <libsoup/soup.h>
#include <webkit2/webkit2.h>

#include <memory>
#include <optional>
#include <tuple>
#include <utility>
#include <vector>

#include "engine.h"
#include "vesk/core/guarded.h"
#include "vesk/core/logging.h"
#include "vesk/core/thread_check.h"

namespace vesk {

namespace {

WebKitCookieManager* Manager() {
  return webkit_website_data_manager_get_cookie_manager(
      webkit_web_context_get_website_data_manager(Engine::Get().context()));
}

struct UriParts {
  std::string host;
  std::string path;
};

// Only http and https URLs with a host address cookies.
std::optional<UriParts> ParseCookieUrl(const std::string& url) {
  g_autoptr(GUri) uri = g_uri_parse(url.c_str(), G_URI_FLAGS_NONE, nullptr);
  if (!uri || !g_uri_get_host(uri) || !*g_uri_get_host(uri)) return std::nullopt;
  const char* scheme = g_uri_get_scheme(uri);
  if (g_ascii_strcasecmp(scheme, "http") != 0 && g_ascii_strcasecmp(scheme, "https") != 0)
    return std::nullopt;
  return UriParts{g_uri_get_host(uri), g_uri_get_path(uri)};
}

// The completion of one asynchronous call: |done| runs once, with |fallback|
// when the work ended without an answer (a callback that threw).
template <typename... Args>
class Completion {
 public:
  Completion(std::function<void(Args...)> done, Args... fallback)
      : done_(std::move(done)), fallback_(std::move(fallback)...) {}
  ~Completion() {
    if (done_) std::apply(done_, fallback_);
  }
  // A copy would answer twice.
  Completion(const Completion&) = delete;
  Completion& operator=(const Completion&) = delete;
  void operator()(Args... args) {
    auto done = std::exchange(done_, nullptr);
    if (done) done(std::move(args)...);
  }

 private:
  std::function<void(Args...)> done_;
  std::tuple<Args...> fallback_;
};

struct CookieList {
  GList* list = nullptr;
  ~CookieList() { g_list_free_full(list, reinterpret_cast<GDestroyNotify>(soup_cookie_free)); }
  std::vector<SoupCookie*> items() const {
    std::vector<SoupCookie*> cookies;
    for (GList* item = list; item; item = item->next) cookies.push_back(static_cast<SoupCookie*>(item->data));
    return cookies;
  }
};

using CookieListHandler = std::function<void(const CookieList&)>;

struct FetchState {
  bool all = false;
  CookieListHandler then;
};

void OnCookiesFetched(GObject* manager, GAsyncResult* result, gpointer data) {
  VESK_REQUIRE_MAIN_THREAD();
  std::unique_ptr<FetchState> state(static_cast<FetchState*>(data));
  Guarded("cookie list", [&] {
    g_autoptr(GError) error = nullptr;
    CookieList cookies;
    auto* cookie_manager = WEBKIT_COOKIE_MANAGER(manager);
    cookies.list = state->all ? webkit_cookie_manager_get_all_cookies_finish(cookie_manager, result, &error)
                              : webkit_cookie_manager_get_cookies_finish(cookie_manager, result, &error);
    if (error) VESK_LOG(WARNING) << "Cookie store: " << error->message;
    state->then(cookies);
  });
}

// Runs |then| with the cookies the store sends to |url| in the store's
// order, or with every cookie when |url| is empty.
void FetchCookies(const std::string& url, CookieListHandler then) {
  auto* state = new FetchState{url.empty(), std::move(then)};
  if (state->all)
    webkit_cookie_manager_get_all_cookies(Manager(), nullptr, OnCookiesFetched, state);
  else
    webkit_cookie_manager_get_cookies(Manager(), url.c_str(), nullptr, OnCookiesFetched, state);
}

// Adds |cookie| (a copy is taken by the store); |done| tells whether the
// store accepted it.
void AddCookie(SoupCookie* cookie, std::function<void(bool)> done) {
  auto* state = new Completion<bool>(std::move(done), false);
  webkit_cookie_manager_add_cookie(
      Manager(), cookie, nullptr,
      [](GObject* manager, GAsyncResult* result, gpointer data) {
        std::unique_ptr<Completion<bool>> completion(static_cast<Completion<bool>*>(data));
        Guarded("add cookie", [&] {
          g_autoptr(GError) error = nullptr;
          const bool added =
              webkit_cookie_manager_add_cookie_finish(WEBKIT_COOKIE_MANAGER(manager), result, &error);
          if (error) VESK_LOG(WARNING) << "Cookie store: " << error->message;
          (*completion)(added);
        });
      },
      state);
}

// Deletes |cookies| one after another, then runs |done| with whether all
// went.
void DeleteCookies(std::vector<SoupCookie*> cookies, std::function<void(bool)> done) {
  struct State {
    explicit State(std::function<void(bool)> then) : done(std::move(then), false) {}
    ~State() {
      for (SoupCookie* cookie : pending) soup_cookie_free(cookie);
    }
    std::vector<SoupCookie*> pending;
    bool all_deleted = true;
    Completion<bool> done;
  };
  auto state = std::make_unique<State>(std::move(done));
  for (SoupCookie* cookie : cookies) state->pending.push_back(soup_cookie_copy(cookie));
  struct Step {
    static void Next(std::unique_ptr<State> state) {
      if (state->pending.empty()) {
        state->done(state->all_deleted);
        return;
      }
      SoupCookie* cookie = state->pending.back();
      webkit_cookie_manager_delete_cookie(Manager(), cookie, nullptr, Finished, state.release());
    }
    static void Finished(GObject* manager, GAsyncResult* result, gpointer data) {
      std::unique_ptr<State> state(static_cast<State*>(data));
      Guarded("delete cookie", [&] {
        g_autoptr(GError) error = nullptr;
        if (!webkit_cookie_manager_delete_cookie_finish(WEBKIT_COOKIE_MANAGER(manager), result, &error)) {
          VESK_LOG(WARNING) << "Cookie store: " << (error ? error->message : "a cookie was not deleted");
          state->all_deleted = false;
        }
        soup_cookie_free(state->pending.back());
        state->pending.pop_back();
        Next(std::move(state));
      });
    }
  };
  Step::Next(std::move(state));
}

}  // namespace

CookieStore& CookieStore::Get() {
  static CookieStore* store = new CookieStore;
  return *store;
}

void CookieStore::GetCookie(const std::string& url, const std::string& name,
                            std::function<void(std::optional<std::string>)> done) {
  VESK_REQUIRE_MAIN_THREAD();
  auto completion = std::make_shared<Completion<std::optional<std::string>>>(std::move(done), std::nullopt);
  FetchCookies(url, [completion, name](const CookieList& cookies) {
    for (SoupCookie* cookie : cookies.items()) {
      if (name == soup_cookie_get_name(cookie)) {
        (*completion)(std::string(soup_cookie_get_value(cookie)));
        return;
      }
    }
    // Nothing at all visited logs nothing, as a visit without cookies does.
    if (cookies.list) VESK_LOG(ERROR) << "No Such Cookie " << name;
    (*completion)(std::nullopt);
  });
}

void CookieStore::SetCookie(const std::string& url, const std::string& name, const std::string& value,
                            std::function<void(bool)> done) {
  VESK_REQUIRE_MAIN_THREAD();
  const auto parts = ParseCookieUrl(url);
  if (!parts || !cookies::IsWritable(name, value)) return done(false);
  // A session cookie; a domain without a leading "." is host-only.
  SoupCookie* cookie = soup_cookie_new(name.c_str(), value.c_str(), parts->host.c_str(),
                                       cookies::DefaultPath(parts->path).c_str(), -1);
  AddCookie(cookie, std::move(done));
  soup_cookie_free(cookie);
}

void CookieStore::RemoveCookie(const std::string& url, const std::string& name,
                               std::function<void(bool)> done) {
  VESK_REQUIRE_MAIN_THREAD();
  if (url.empty()) {
    auto* pending = new Completion<bool>(std::move(done), false);
    webkit_website_data_manager_clear(
        webkit_web_context_get_website_data_manager(Engine::Get().context()), WEBKIT_WEBSITE_DATA_COOKIES, 0,
        nullptr,
        [](GObject* manager, GAsyncResult* result, gpointer data) {
          std::unique_ptr<Completion<bool>> completion(static_cast<Completion<bool>*>(data));
          Guarded("clear cookies", [&] {
            g_autoptr(GError) error = nullptr;
            (*completion)(webkit_website_data_manager_clear_finish(WEBKIT_WEBSITE_DATA_MANAGER(manager),
                                                                   result, &error));
          });
        },
        pending);
    return;
  }
  const auto parts = ParseCookieUrl(url);
  if (!parts) return done(false);
  auto shared_done = std::make_shared<std::function<void(bool)>>(std::move(done));
  auto finish = [shared_done](bool deleted) { (*shared_done)(deleted); };
  if (name.empty()) {
    // Every host cookie of the host, whatever its path; domain cookies stay.
    FetchCookies("", [finish, host = parts->host](const CookieList& cookies) {
      std::vector<SoupCookie*> doomed;
      for (SoupCookie* cookie : cookies.items())
        if (g_ascii_strcasecmp(soup_cookie_get_domain(cookie), host.c_str()) == 0) doomed.push_back(cookie);
      DeleteCookies(std::move(doomed), finish);
    });
    return;
  }
  FetchCookies(url, [finish, name](const CookieList& cookies) {
    std::vector<SoupCookie*> doomed;
    for (SoupCookie* cookie : cookies.items())
      if (name == soup_cookie_get_name(cookie)) doomed.push_back(cookie);
    DeleteCookies(std::move(doomed), finish);
  });
}

void CookieStore::MoveCookie(const std::string& source, const std::string& target, const std::string& name,
                             std::function<void()> done) {
  VESK_REQUIRE_MAIN_THREAD();
  auto completion = std::make_shared<Completion<>>(std::move(done));
  FetchCookies("", [=](const CookieList& cookies) {
    for (SoupCookie* cookie : cookies.items()) {
      if (!cookies::IsFromDomain(soup_cookie_get_domain(cookie), source) ||
          name != soup_cookie_get_name(cookie))
        continue;
      const auto failed = [=] {
        VESK_LOG(ERROR) << "Failed to move cookie " << name << " from " << source << " to " << target;
      };
      // The copy keeps everything but its domain, which is the target text
      // as given; the store takes it only where the target URL may set it.
      const auto target_url = ParseCookieUrl(cookies::MoveTargetUrl(target));
      if (!target_url || !cookies::DomainMatchesHost(target, target_url->host)) {
        failed();
        return (*completion)();
      }
      SoupCookie* copy = soup_cookie_copy(cookie);
      soup_cookie_set_domain(copy, target.c_str());
      AddCookie(copy, [completion, failed](bool added) {
        if (!added) failed();
        (*completion)();
      });
      soup_cookie_free(copy);
      return;
    }
    if (cookies.list) VESK_LOG(ERROR) << "No Such Cookie " << name;
    (*completion)();
  });
}

}  // namespace vesk
