// The cost of a proxy decision per new connection: the engine's network
// process asks our GIO module, which asks the UI process over the resolver
// socket. Measured next to a direct lookup by GIO's system resolver (what
// the engine would do without us) in the same run:
//   direct   libproxy's resolver, asked directly (session settings: http_proxy)
//   entry    our module, the page's table decides (module -> socket -> answer)
//   system   our module, no entry: the socket round trip, then the system resolver
// The module is loaded by GIO as in the network process (GIO_EXTRA_MODULES,
// GIO_USE_PROXY_RESOLVER); the socket is served by the real server thread,
// here in this process rather than in the UI process.
//   build/bench/proxy_bench build/program/gio 20000
#include <gio/gio.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "vesk/core/proxy/network_environment.h"
#include "vesk/core/proxy/proxy_manager.h"
#include "vesk/core/proxy/resolver_server.h"

namespace {

using Clock = std::chrono::steady_clock;

// Microseconds per lookup over |count| lookups.
double MicrosecondsPerLookup(GProxyResolver* resolver, const char* uri, int count, const char* expected) {
  const auto start = Clock::now();
  for (int i = 0; i < count; ++i) {
    g_auto(GStrv) proxies = g_proxy_resolver_lookup(resolver, uri, nullptr, nullptr);
    if (!proxies || g_strcmp0(proxies[0], expected) != 0) {
      std::fprintf(stderr, "%s: unexpected answer %s\n", uri, proxies ? proxies[0] : "(none)");
      std::exit(1);
    }
  }
  return std::chrono::duration<double, std::micro>(Clock::now() - start).count() / count;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

GProxyResolver* SystemResolverNamed(const char* name) {
  GIOExtension* extension = g_io_extension_point_get_extension_by_name(
      g_io_extension_point_lookup(G_PROXY_RESOLVER_EXTENSION_POINT_NAME), name);
  return extension ? G_PROXY_RESOLVER(g_object_new(g_io_extension_get_type(extension), nullptr)) : nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s <module dir> [lookups per round]\n", argv[0]);
    return 2;
  }
  const int count = argc > 2 ? std::max(1, std::atoi(argv[2])) : 20000;
  vesk::ProxyResolverServer& server = vesk::ProxyResolverServer::Get();
  if (!server.Start()) return 1;
  vesk::PrepareNetworkProcessEnvironment(argv[1], server.socket_path(), server.token());
  g_setenv("http_proxy", "http://session-proxy.test:3128", TRUE);
  g_unsetenv("no_proxy");

  GProxyResolver* ours = g_proxy_resolver_get_default();  // loads the modules
  if (g_strcmp0(G_OBJECT_TYPE_NAME(ours), "VeskProxyResolver") != 0) {
    std::fprintf(stderr, "GIO did not choose our module (%s)\n", G_OBJECT_TYPE_NAME(ours));
    return 1;
  }
  g_autoptr(GProxyResolver) direct = SystemResolverNamed("libproxy");
  if (!direct) {
    std::fprintf(stderr, "no libproxy resolver\n");
    return 1;
  }
  vesk::ProxyManager::Get().SetProxyForUrl("http://a.test", {"http", "page-proxy.test", 8080, "", ""});

  // The three kinds take turns, so a machine whose load changes during the
  // run weighs on each alike.
  std::vector<double> direct_rounds, entry_rounds, system_rounds;
  for (int round = 0; round < 9; ++round) {
    direct_rounds.push_back(
        MicrosecondsPerLookup(direct, "http://b.test:80", count, "http://session-proxy.test:3128"));
    entry_rounds.push_back(
        MicrosecondsPerLookup(ours, "http://a.test:80", count, "http://page-proxy.test:8080"));
    system_rounds.push_back(
        MicrosecondsPerLookup(ours, "http://b.test:80", count, "http://session-proxy.test:3128"));
  }
  const double direct_us = Median(direct_rounds);
  const double entry_us = Median(entry_rounds);
  const double system_us = Median(system_rounds);
  std::printf("lookups per round: %d, median of 9 interleaved rounds\n", count);
  std::printf("direct system resolver (libproxy): %8.2f us\n", direct_us);
  std::printf("module, the page's entry decides:  %8.2f us  (%.2fx direct)\n", entry_us,
              entry_us / direct_us);
  std::printf("module, then the system resolver:  %8.2f us  (%.2fx direct; added %.2f us)\n", system_us,
              system_us / direct_us, system_us - direct_us);
  server.Stop();
  return 0;
}
