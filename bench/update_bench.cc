// Appending 50 MB to an update package from a page in 1 MB pieces, once
// from byte strings and once from Uint8Arrays, through app.newUpdatePackage
// (the real engine, the real web extension, its file thread), next to
// writing the same bytes with write(2) in 1 MB calls from C++ in the same
// run (the floor). The page's time runs from the first append to the last
// callback; the files are compared byte for byte with the floor's file.
// Run under a display:
//   dbus-run-session -- xvfb-run -a build/bench/update_bench build/program/webext
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "page_driver.h"
#include "vesk/core/file_util.h"
#include "vesk/core/update/update_location.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr size_t kPiece = 1 << 20;
constexpr int kPieces = 50;
constexpr int kRounds = 5;

using bench::Evaluate;
using bench::SpinUntil;

double MedianMs(std::vector<double> samples) {
  std::sort(samples.begin(), samples.end());
  return samples.empty() ? 0 : samples[samples.size() / 2];
}

// Piece p, byte i: (i * 7 + p) & 255, in the page and here.
std::string Piece(int p) {
  std::string out(kPiece, '\0');
  for (size_t i = 0; i < kPiece; ++i) out[i] = static_cast<char>((i * 7 + static_cast<size_t>(p)) & 255);
  return out;
}

double WriteFloorMs(const std::string& path, const std::vector<std::string>& pieces) {
  const auto start = Clock::now();
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  for (const std::string& piece : pieces)
    if (::write(fd, piece.data(), piece.size()) != static_cast<ssize_t>(piece.size())) std::perror("write");
  ::close(fd);
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// The page's time for one round over window[|pieces|]; -1 on failure.
double PageRoundMs(WebKitWebView* view, const char* pieces) {
  Evaluate(view, std::string("window.benchResult=null;(function(){var pkg=app.newUpdatePackage('bench.bin');"
                             "var left=") +
                     std::to_string(kPieces) +
                     ",failed=false,t=performance.now();"
                     "function done(ok){failed=failed||!ok;if(--left===0)"
                     "window.benchResult=failed?-1:performance.now()-t;}"
                     "for(var i=0;i<" +
                     std::to_string(kPieces) + ";i++)pkg.append(window." + pieces + "[i],done);})();0");
  std::string result;
  SpinUntil(
      [&] {
        result = Evaluate(view, "String(window.benchResult)");
        return result != "null";
      },
      600000);
  return std::atof(result.c_str());
}

bool SameFile(const std::string& a, const std::string& b) {
  std::string x, y;
  return vesk::ReadFileToString(a, &x, 1 << 27) && vesk::ReadFileToString(b, &y, 1 << 27) && x == y;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: update_bench <program dir>/webext\n");
    return 2;
  }
  const bench::BenchPage page = bench::OpenBenchPage(&argc, &argv, argv[1]);
  if (!page.view) return 1;
  WebKitWebView* view = page.view;
  const std::string n = std::to_string(kPieces), size = std::to_string(kPiece);
  Evaluate(view, "(function(){window.u8=[];window.str=[];for(var p=0;p<" + n + ";p++){var a=new Uint8Array(" +
                     size + ");for(var i=0;i<" + size +
                     ";i++)a[i]=(i*7+p)&255;u8.push(a);"
                     "var s=[];for(var i=0;i<" +
                     size +
                     ";i+=8192)s.push(String.fromCharCode.apply(null,a.subarray(i,i+8192)));"
                     "str.push(s.join(''));}return u8.length+str.length;})()");

  std::vector<std::string> pieces;
  for (int p = 0; p < kPieces; ++p) pieces.push_back(Piece(p));
  // The extension's update directory is below its program directory, this
  // benchmark's directory.
  const std::string update_dir = vesk::update::UpdateDirectory(vesk::ProgramDirectory());
  vesk::CreateDirectoryRecursive(update_dir);
  const std::string package = vesk::JoinPath(update_dir, "bench.bin");
  const std::string floor_file = vesk::JoinPath(update_dir, "floor.bin");

  std::vector<double> floor_ms, u8_ms, str_ms;
  bool same = true;
  for (int round = 0; round < kRounds; ++round) {
    floor_ms.push_back(WriteFloorMs(floor_file, pieces));
    u8_ms.push_back(PageRoundMs(view, "u8"));
    same = same && SameFile(package, floor_file);
    str_ms.push_back(PageRoundMs(view, "str"));
    same = same && SameFile(package, floor_file);
  }
  const double floor = MedianMs(floor_ms), u8 = MedianMs(u8_ms), str = MedianMs(str_ms);
  std::printf("append %d x %zu bytes, median of %d rounds\n", kPieces, kPiece, kRounds);
  std::printf("write(2) floor        %8.1f ms\n", floor);
  std::printf("page, Uint8Array      %8.1f ms   ratio to floor %.2f (goal <= 1.50)\n", u8, u8 / floor);
  std::printf("page, byte string     %8.1f ms   ratio to floor %.2f\n", str, str / floor);
  std::printf("page files equal the floor's file: %s\n", same ? "yes" : "NO");
  ::unlink(package.c_str());
  ::unlink(floor_file.c_str());
  ::rmdir(update_dir.c_str());
  bench::CloseBenchPage(page);
  return same ? 0 : 1;
}
