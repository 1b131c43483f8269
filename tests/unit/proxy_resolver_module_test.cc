// The real proxy-resolver module, loaded by GIO in this process the way the
// engine's network process loads it (GIO_EXTRA_MODULES and
// GIO_USE_PROXY_RESOLVER set before GIO first looks for modules), asking
// the real resolver socket. The system settings it falls back to are
// GIO's own resolver reading the proxy environment variables. A binary of
// its own: GIO reads those variables once per process.
#include <gio/gio.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "vesk/core/proxy/network_environment.h"
#include "vesk/core/proxy/proxy_manager.h"
#include "vesk/core/proxy/resolver_server.h"

namespace vesk {
namespace {

std::vector<std::string> Lookup(const char* uri) {
  g_autoptr(GError) error = nullptr;
  g_auto(GStrv) proxies = g_proxy_resolver_lookup(g_proxy_resolver_get_default(), uri, nullptr, &error);
  EXPECT_FALSE(error) << error->message;
  std::vector<std::string> result;
  for (gchar** proxy = proxies; proxy && *proxy; ++proxy) result.emplace_back(*proxy);
  return result;
}

std::vector<std::string> LookupAsync(const char* uri) {
  g_autoptr(GMainContext) context = g_main_context_new();
  g_main_context_push_thread_default(context);
  GStrv proxies = nullptr;
  bool done = false;
  struct State {
    GStrv* proxies;
    bool* done;
  } state{&proxies, &done};
  g_proxy_resolver_lookup_async(
      g_proxy_resolver_get_default(), uri, nullptr,
      [](GObject* source, GAsyncResult* result, gpointer data) {
        auto* waiting = static_cast<State*>(data);
        *waiting->proxies = g_proxy_resolver_lookup_finish(G_PROXY_RESOLVER(source), result, nullptr);
        *waiting->done = true;
      },
      &state);
  while (!done) g_main_context_iteration(context, TRUE);
  g_main_context_pop_thread_default(context);
  std::vector<std::string> result;
  for (gchar** proxy = proxies; proxy && *proxy; ++proxy) result.emplace_back(*proxy);
  g_strfreev(proxies);
  return result;
}

class ProxyResolverModuleTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(ProxyResolverServer::Get().Start());
    PrepareNetworkProcessEnvironment(VESK_PROXY_MODULE_DIR, ProxyResolverServer::Get().socket_path(),
                                     ProxyResolverServer::Get().token());
    // The session's own settings, as the system resolver sees them.
    g_setenv("http_proxy", "http://session-proxy.test:3128", TRUE);
    g_unsetenv("no_proxy");
    g_unsetenv("NO_PROXY");
  }
};

TEST_F(ProxyResolverModuleTest, ThePagesRulesFirstThenTheSystemSettings) {
  GProxyResolver* resolver = g_proxy_resolver_get_default();
  ASSERT_STREQ(G_OBJECT_TYPE_NAME(resolver), "VeskProxyResolver") << "GIO chose our module";
  ProxyManager::Get().SetProxyForUrl("http://a.test/", {"http", "page-proxy.test", 8080, "", ""});
  const uint64_t answered = ProxyResolverServer::Get().answered();
  EXPECT_EQ(Lookup("http://a.test:80"), std::vector<std::string>{"http://page-proxy.test:8080"});
  EXPECT_EQ(LookupAsync("http://a.test:80"), std::vector<std::string>{"http://page-proxy.test:8080"});
  EXPECT_EQ(ProxyResolverServer::Get().answered(), answered + 2) << "each lookup asked the application";

  // No entry, no default: the session's proxy variable.
  EXPECT_EQ(Lookup("http://b.test:80"), std::vector<std::string>{"http://session-proxy.test:3128"});
  // An incomplete entry hides a complete default.
  ProxyManager::Get().set_default_proxy({"socks5", "default.test", 1080, "", ""});
  EXPECT_EQ(LookupAsync("http://b.test:80"), std::vector<std::string>{"socks5://default.test:1080"});
  ProxyManager::Get().SetProxyForUrl("http://b.test", {"", "no-scheme.test", 8080, "", ""});
  EXPECT_EQ(Lookup("http://b.test:80"), std::vector<std::string>{"http://session-proxy.test:3128"});

  // The application gone: the system settings alone.
  ProxyResolverServer::Get().Stop();
  EXPECT_EQ(Lookup("http://a.test:80"), std::vector<std::string>{"http://session-proxy.test:3128"});
}

}  // namespace
}  // namespace vesk
