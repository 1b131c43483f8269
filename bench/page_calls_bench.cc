// Cost of the page API, measured in one run with the real engine, the real
// web extension and the real page channel:
//   - a call that stays in the web process (app.getErrorHandler),
//   - calls that cross to the host: winhelper.getWindowOpacity (no window-
//     system work) and winhelper.getWindowPosition (the window's rectangle),
//   - a host-to-page script run with its answer (evaluate_javascript),
// next to a raw Unix-socket round trip between two processes that carries
// frames of the same sizes as getWindowOpacity's request and answer.
//
// The kinds are measured in interleaved rounds, so a machine whose load
// changes during the run weighs on all of them alike; each sample is the
// average of one batch (the page clock is coarse, about a millisecond).
//
// Run under a display:
//   dbus-run-session -- xvfb-run -a build/bench/page_calls_bench build/program/webext [iterations] [only]
// |only| (a call's name, e.g. getWindowOpacity) runs just that call, in one
// long loop, for a profiler.
#include <gtk/gtk.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "page_driver.h"
#include "vesk/core/channel/channel_schema.h"

namespace {

using Clock = std::chrono::steady_clock;
using bench::Evaluate;

constexpr int kBatch = 2000;

struct Stats {
  double median_us = 0, min_us = 0, max_us = 0;
};

Stats Summarise(std::vector<double> samples) {
  if (samples.empty()) return {};
  std::sort(samples.begin(), samples.end());
  return {samples[samples.size() / 2], samples.front(), samples.back()};
}

// The average cost in µs of one call of |call|, over a batch of |count|.
double PageBatch(WebKitWebView* view, const std::string& call, int count) {
  const std::string script = "(function(){var t=performance.now();for(var i=0;i<" + std::to_string(count) +
                             ";i++){" + call + ";}return (performance.now()-t)*1000/" +
                             std::to_string(count) + ";})()";
  return std::atof(Evaluate(view, script).c_str());
}

double HostToPage(WebKitWebView* view) {
  const auto start = Clock::now();
  Evaluate(view, "window.__tick = (window.__tick || 0) + 1");
  return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

bool ReadExactly(int fd, char* buffer, size_t size) {
  size_t got = 0;
  while (got < size) {
    const ssize_t n = read(fd, buffer + got, size - got);
    if (n <= 0) return false;
    got += static_cast<size_t>(n);
  }
  return true;
}

// A peer process that answers each request frame with an answer frame, as
// the host does, with nothing in between: the physical floor of a call.
class RawPeer {
 public:
  RawPeer(std::string request, std::string answer)
      : request_(std::move(request)), answer_(std::move(answer)) {
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0) return;
    child_ = fork();
    if (child_ == 0) {
      close(pair[0]);
      std::string buffer(request_.size(), '\0');
      while (ReadExactly(pair[1], buffer.data(), buffer.size()) &&
             write(pair[1], answer_.data(), answer_.size()) == static_cast<ssize_t>(answer_.size())) {
      }
      _exit(0);
    }
    close(pair[1]);
    fd_ = pair[0];
  }
  RawPeer(const RawPeer&) = delete;
  RawPeer& operator=(const RawPeer&) = delete;
  ~RawPeer() {
    if (fd_ >= 0) close(fd_);
    if (child_ > 0) waitpid(child_, nullptr, 0);
  }

  // The average round trip in µs over |count|.
  double Batch(int count) {
    std::string buffer(answer_.size(), '\0');
    const auto start = Clock::now();
    for (int i = 0; i < count; ++i) {
      if (write(fd_, request_.data(), request_.size()) != static_cast<ssize_t>(request_.size()) ||
          !ReadExactly(fd_, buffer.data(), buffer.size()))
        return 0;
    }
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count() / count;
  }

 private:
  std::string request_, answer_;
  int fd_ = -1;
  pid_t child_ = -1;
};

// The frames of one getWindowOpacity call as they travel.
RawPeer OpacitySizedPeer(WebKitWebView* view) {
  vesk::channel::Request request;
  request.op = vesk::channel::Op::kWinGetOpacity;
  request.page_id = webkit_web_view_get_page_id(view);
  vesk::channel::Response answer;
  answer.result["opacity"] = 1.0;
  return RawPeer(vesk::channel::Frame(vesk::channel::EncodeRequest(request)),
                 vesk::channel::Frame(vesk::channel::EncodeResponse(answer)));
}

void Print(const char* what, const Stats& stats) {
  std::printf("%-58s median %6.1f us  (batches %.1f-%.1f)\n", what, stats.median_us, stats.min_us,
              stats.max_us);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: page_calls_bench <program dir>/webext [iterations] [only]\n");
    return 2;
  }
  const int iterations = argc > 2 ? std::max(kBatch, std::atoi(argv[2])) : 20000;
  const std::string only = argc > 3 ? argv[3] : "";
  const bench::BenchPage page = bench::OpenBenchPage(&argc, &argv, argv[1]);
  if (!page.view) return 1;
  WebKitWebView* view = page.view;
  if (!only.empty()) {
    std::printf("winhelper.%s: %.1f us\n", only.c_str(),
                PageBatch(view, "winhelper." + only + "()", iterations));
    bench::CloseBenchPage(page);
    return 0;
  }
  RawPeer raw_peer = OpacitySizedPeer(view);
  // Warm every road once.
  PageBatch(view, "app.getErrorHandler()", 200);
  PageBatch(view, "winhelper.getWindowPosition()", 200);
  PageBatch(view, "winhelper.getWindowOpacity()", 200);
  raw_peer.Batch(200);

  std::vector<double> local, position, opacity, raw, callback;
  for (int round = 0; round < iterations / kBatch; ++round) {
    local.push_back(PageBatch(view, "app.getErrorHandler()", kBatch));
    position.push_back(PageBatch(view, "winhelper.getWindowPosition()", kBatch));
    opacity.push_back(PageBatch(view, "winhelper.getWindowOpacity()", kBatch));
    raw.push_back(raw_peer.Batch(kBatch));
    for (int i = 0; i < 20; ++i) callback.push_back(HostToPage(view));
  }
  const Stats raw_stats = Summarise(raw), position_stats = Summarise(position),
              opacity_stats = Summarise(opacity);
  std::printf("iterations: %d in %zu rounds of %d\n", iterations, raw.size(), kBatch);
  Print("call staying in the web process (app.getErrorHandler):", Summarise(local));
  Print("call crossing to the host (winhelper.getWindowOpacity):", opacity_stats);
  Print("call crossing to the host (winhelper.getWindowPosition):", position_stats);
  Print("host-to-page script run with answer (single runs):", Summarise(callback));
  Print("raw Unix-socket round trip, frames of getWindowOpacity's size:", raw_stats);
  if (raw_stats.median_us > 0) {
    std::printf("getWindowOpacity / raw round trip:  %.2f (goal <= 1.5)\n",
                opacity_stats.median_us / raw_stats.median_us);
    std::printf("getWindowPosition / raw round trip: %.2f (goal <= 4)\n",
                position_stats.median_us / raw_stats.median_us);
  }
  bench::CloseBenchPage(page);
  return 0;
}
