// Throughput of window.security's digest, checksum and compression objects
// on a 10 MB byte string (MD5 also on a Uint8Array) through the page API
// (the real engine, the real web extension), next to the same libraries
// called directly from C++ in the same run: OpenSSL's MD5, zlib's crc32 and
// compress2 at level 9.
// Run under a display:
//   dbus-run-session -- xvfb-run -a build/bench/security_bench build/program/webext
#include <gtk/gtk.h>
#include <openssl/evp.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
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
constexpr size_t kBytes = 10 * 1000 * 1000;
constexpr int kRounds = 5;

using bench::Evaluate;
using bench::SpinUntil;

// The page's and this program's data: x = x * 1103515245 + 12345 (mod 2^31),
// byte = x >> 16 & 255, seed 1.
std::string PseudoRandomBytes(size_t count) {
  std::string out(count, '\0');
  uint32_t x = 1;
  for (char& c : out) {
    x = (x * 1103515245u + 12345u) & 0x7FFFFFFFu;
    c = static_cast<char>((x >> 16) & 255);
  }
  return out;
}

double MedianMs(std::vector<double> samples) {
  std::sort(samples.begin(), samples.end());
  return samples.empty() ? 0 : samples[samples.size() / 2];
}

template <typename Fn>
double TimeDirect(Fn&& fn) {
  std::vector<double> samples;
  for (int i = 0; i < kRounds; ++i) {
    const auto start = Clock::now();
    fn();
    samples.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
  }
  return MedianMs(samples);
}

// Median page time in ms of |call| (which uses the page's variable data),
// and the call's last result.
std::pair<double, std::string> TimePage(WebKitWebView* view, const std::string& call) {
  const std::string script = "(function(){var s=[],r;for(var i=0;i<" + std::to_string(kRounds) +
                             ";i++){var t=performance.now();r=" + call +
                             ";s.push(performance.now()-t);}s.sort(function(a,b){return a-b});"
                             "return s[Math.floor(s.length/2)]+' '+r;})()";
  const std::string text = Evaluate(view, script);
  double ms = 0;
  char result[256] = {};
  std::sscanf(text.c_str(), "%lf %255s", &ms, result);
  return {ms, result};
}

std::string Md5Hex(const std::string& data) {
  unsigned char digest[16];
  unsigned int length = 0;
  EVP_Digest(data.data(), data.size(), digest, &length, EVP_md5(), nullptr);
  char hex[33];
  for (int i = 0; i < 16; ++i) std::snprintf(hex + 2 * i, 3, "%02X", digest[i]);
  return hex;
}

void Row(const char* what, double page_ms, double direct_ms) {
  const double mb = static_cast<double>(kBytes) / 1e6;
  std::printf("%-22s page %8.1f ms (%7.1f MB/s)   direct %8.1f ms (%7.1f MB/s)   page/direct %.2f\n", what,
              page_ms, mb / (page_ms / 1000), direct_ms, mb / (direct_ms / 1000), page_ms / direct_ms);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: security_bench <program dir>/webext\n");
    return 2;
  }
  const bench::BenchPage page = bench::OpenBenchPage(&argc, &argv, argv[1]);
  if (!page.view) return 1;
  WebKitWebView* view = page.view;
  const std::string built = Evaluate(
      view,
      "(function(){var x=1,p=[];for(var i=0;i<" + std::to_string(kBytes) +
          ";i++){x=(Math.imul(x,1103515245)+12345)&0x7fffffff;p.push(String.fromCharCode((x>>>16)&255));}"
          "window.data=p.join('');window.md5=security.newMD5();window.crc=security.newCRC();"
          "window.zlib=security.newZlib();window.bytes=new Uint8Array(data.length);"
          "for(var i=0;i<data.length;i++)bytes[i]=data.charCodeAt(i);return data.length;})()");
  std::printf("byte string: %s bytes (pseudo-random, all 256 values), median of %d rounds\n", built.c_str(),
              kRounds);

  const std::string data = PseudoRandomBytes(kBytes);
  const auto page_md5 = TimePage(view, "(md5.reset(),md5.append(data),md5.complete(),md5.getResult())");
  const auto page_md5_bytes =
      TimePage(view, "(md5.reset(),md5.append(bytes),md5.complete(),md5.getResult())");
  const auto page_crc = TimePage(view, "crc.calculateCRC(data)");
  const auto page_zlib = TimePage(view, "zlib.zlibCompress(data).length");
  const auto page_md5_empty = TimePage(view, "(md5.reset(),md5.append(''),md5.complete(),md5.getResult())");

  std::string direct_md5;
  const double md5_ms = TimeDirect([&] { direct_md5 = Md5Hex(data); });
  uLong direct_crc = 0;
  const double crc_ms = TimeDirect([&] {
    direct_crc = crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size()));
  });
  uLongf direct_zlib_size = 0;
  const double zlib_ms = TimeDirect([&] {
    std::string out(compressBound(data.size()), '\0');
    direct_zlib_size = out.size();
    compress2(reinterpret_cast<Bytef*>(out.data()), &direct_zlib_size,
              reinterpret_cast<const Bytef*>(data.data()), data.size(), 9);
  });

  char crc_text[9];
  std::snprintf(crc_text, sizeof crc_text, "%08lX", direct_crc);
  const bool same = page_md5.second == direct_md5 && page_md5_bytes.second == direct_md5 &&
                    page_crc.second == crc_text && page_zlib.second == std::to_string(direct_zlib_size);
  Row("MD5", page_md5.first, md5_ms);
  Row("MD5 from a Uint8Array", page_md5_bytes.first, md5_ms);
  Row("CRC-32", page_crc.first, crc_ms);
  Row("zlib level 9", page_zlib.first, zlib_ms);
  std::printf("MD5 call overhead with no data (page): %.3f ms\n", page_md5_empty.first);
  std::printf("page results equal the direct ones: %s\n", same ? "yes" : "NO");
  bench::CloseBenchPage(page);
  return same ? 0 : 1;
}
