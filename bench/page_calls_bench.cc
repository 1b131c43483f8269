// Cost of the page API, measured in one run with the real engine, the real
// web extension and the real page channel:
//   - a call that stays in the web process (app.getErrorHandler),
//   - a call that crosses to the host (winhelper.getWindowPosition),
//   - a host-to-page script run with its answer (evaluate_javascript),
// next to a raw Unix-socket round trip between two processes.
// Run under a display: dbus-run-session -- xvfb-run -a build/bench/page_calls_bench build/program/webext
#include <gtk/gtk.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "browser/browser_host.h"
#include "browser/page_bridge.h"
#include "channel/channel_handlers.h"
#include "channel/channel_server.h"
#include "channel/page_messages.h"
#include "engine.h"
#include "page_driver.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Stats {
  double median_us = 0, p99_us = 0;
};

Stats Summarise(std::vector<double> samples) {
  std::sort(samples.begin(), samples.end());
  if (samples.empty()) return {};
  return {samples[samples.size() / 2], samples[std::min(samples.size() - 1, samples.size() * 99 / 100)]};
}

using bench::Evaluate;
using bench::SpinUntil;

// Page-side timing of |iterations| calls of |call|; "median p99" in µs.
// The page clock is coarse (about a millisecond), so calls are timed in
// batches of 100 and each sample is a batch's average per call: the p99 is
// that of batch averages, which understates single-call outliers.
Stats PageTiming(WebKitWebView* view, const std::string& call, int iterations) {
  const std::string script =
      "(function(){var s=[];for(var b=0;b<" + std::to_string(std::max(1, iterations / 100)) +
      ";b++){var t=performance.now();for(var i=0;i<100;i++){" + call +
      ";}s.push((performance.now()-t)*10);}s.sort(function(a,b){return a-b});"
      "return s[Math.floor(s.length/2)]+' '+s[Math.min(s.length-1,Math.floor(s.length*0.99))];})()";
  Stats stats;
  std::sscanf(Evaluate(view, script).c_str(), "%lf %lf", &stats.median_us, &stats.p99_us);
  return stats;
}

Stats HostToPage(WebKitWebView* view, int iterations) {
  std::vector<double> samples;
  for (int i = 0; i < iterations; ++i) {
    const auto start = Clock::now();
    Evaluate(view, "window.__tick = (window.__tick || 0) + 1");
    samples.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
  }
  return Summarise(samples);
}

Stats RawSocketRoundTrip(int iterations) {
  int pair[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0) return {};
  const pid_t child = fork();
  if (child == 0) {
    close(pair[0]);
    char buffer[64];
    while (true) {
      const ssize_t got = read(pair[1], buffer, sizeof buffer);
      if (got <= 0 || write(pair[1], buffer, static_cast<size_t>(got)) != got) _exit(0);
    }
  }
  close(pair[1]);
  std::vector<double> samples;
  char message[48] = "{\"v\":1,\"op\":24,\"page\":1,\"args\":{}}";
  char answer[64];
  for (int i = 0; i < iterations; ++i) {
    const auto start = Clock::now();
    if (write(pair[0], message, sizeof message) != sizeof message) break;
    size_t got = 0;
    while (got < sizeof message) {
      const ssize_t n = read(pair[0], answer + got, sizeof message - got);
      if (n <= 0) break;
      got += static_cast<size_t>(n);
    }
    samples.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
  }
  close(pair[0]);
  waitpid(child, nullptr, 0);
  return Summarise(samples);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: page_calls_bench <program dir>/webext [iterations]\n");
    return 2;
  }
  const int iterations = argc > 2 ? std::max(10, std::atoi(argv[2])) : 2000;
  const bench::BenchPage page = bench::OpenBenchPage(&argc, &argv, argv[1]);
  if (!page.view) return 1;
  WebKitWebView* view = page.view;
  // Warm both roads once.
  PageTiming(view, "app.getErrorHandler()", 50);
  PageTiming(view, "winhelper.getWindowPosition()", 50);
  RawSocketRoundTrip(100);

  const Stats local = PageTiming(view, "app.getErrorHandler()", iterations);
  const Stats crossing = PageTiming(view, "winhelper.getWindowPosition()", iterations);
  const Stats crossing_plain = PageTiming(view, "winhelper.getWindowOpacity()", iterations);
  const Stats callback = HostToPage(view, iterations / 4);
  const Stats raw = RawSocketRoundTrip(iterations);
  std::printf("iterations: %d\n", iterations);
  std::printf("call staying in the web process (app.getErrorHandler): median %.1f us, p99 %.1f us\n",
              local.median_us, local.p99_us);
  std::printf("call crossing to the host (winhelper.getWindowPosition): median %.1f us, p99 %.1f us\n",
              crossing.median_us, crossing.p99_us);
  std::printf("call crossing to the host (winhelper.getWindowOpacity):  median %.1f us, p99 %.1f us\n",
              crossing_plain.median_us, crossing_plain.p99_us);
  std::printf("host-to-page script run with answer:                    median %.1f us, p99 %.1f us\n",
              callback.median_us, callback.p99_us);
  std::printf("raw Unix-socket round trip between two processes:       median %.1f us, p99 %.1f us\n",
              raw.median_us, raw.p99_us);
  if (raw.median_us > 0) {
    std::printf("crossing / raw round trip, getWindowPosition: %.2f (goal <= 2)\n",
                crossing.median_us / raw.median_us);
    std::printf("crossing / raw round trip, getWindowOpacity:  %.2f (goal <= 2)\n",
                crossing_plain.median_us / raw.median_us);
  }
  bench::CloseBenchPage(page);
  return 0;
}
