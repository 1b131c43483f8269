// Cost of serving one 50 KB entry from packages of 1, 5 and 20 MB:
//   straight   read the whole file, verify, open the archive, inflate (every request)
//   verifying  this implementation when the package must be verified (first request, or changed file)
//   unchanged  this implementation for a package verified before (mapped, not hashed again)
// next to lower bounds measured in the same run:
//   bound(verify)  SHA-1 over the archive + one RSA verification + one raw inflate of the entry
//   bound(lookup)  directory lookup + inflate over the archive already in memory
// Usage: package_bench [private-key.pem] [iterations]
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "package_writer.h"
#include "vesk/core/file_util.h"
#include "vesk/core/package/package_file.h"
#include "vesk/core/package/unzip_helper.h"

namespace {

using Clock = std::chrono::steady_clock;

double MedianMicros(int iterations, const std::function<void()>& body) {
  std::vector<double> samples;
  body();  // warm up
  for (int i = 0; i < iterations; ++i) {
    const auto start = Clock::now();
    body();
    samples.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
  }
  std::sort(samples.begin(), samples.end());
  return samples[samples.size() / 2];
}

std::vector<uint8_t> RandomBytes(size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> bytes(size);
  for (auto& byte : bytes) byte = static_cast<uint8_t>(random());
  return bytes;
}

// Page-like text: compresses the way the application's scripts do.
std::vector<uint8_t> PageText(size_t size) {
  std::string text;
  std::mt19937 random(3);
  const char* words[] = {"function ",
                         "return ",
                         "window.app",
                         ".getTrayIcon()",
                         "{ ",
                         "} ",
                         "var x",
                         " = ",
                         "\"vesk://vesk/res/\"",
                         "; ",
                         "\n",
                         "if (",
                         ") ",
                         "document",
                         ".title"};
  while (text.size() < size) text += words[random() % std::size(words)];
  text.resize(size);
  return {text.begin(), text.end()};
}

void Fail(const char* what) {
  std::fprintf(stderr, "package_bench: %s\n", what);
  std::exit(1);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string key_path = argc > 1 && argv[1][0] ? argv[1] : VESK_BENCH_PRIVATE_KEY;
  const int iterations = argc > 2 ? std::atoi(argv[2]) : 40;
  std::string error;
  auto key = vesk::qbun::LoadPrivateKey(key_path, &error);
  if (!key) Fail(error.c_str());
  const std::vector<uint8_t> entry = PageText(50 * 1024);
  const std::string dir = "/tmp/vesk_package_bench";
  vesk::CreateDirectoryRecursive(dir);

  std::printf("%-6s %12s %12s %12s %14s %14s %10s %10s\n", "size", "straight", "verifying", "unchanged",
              "bound(verify)", "bound(lookup)", "verif/bd", "unch/bd");
  for (const size_t megabytes : {1, 5, 20}) {
    // Filler entries of incompressible data (like images), then the page.
    std::vector<vesk::qbun::ArchiveFile> files;
    const size_t filler = 256 * 1024;
    for (size_t i = 0; i * filler < megabytes * 1024 * 1024; ++i)
      files.push_back({"img/filler" + std::to_string(i) + ".png", RandomBytes(filler, unsigned(i)), false});
    files.push_back({"js/app.js", entry, true});
    std::vector<uint8_t> archive;
    std::vector<uint8_t> signature;
    if (!vesk::qbun::BuildArchive(files, &archive, &error) ||
        !vesk::qbun::SignArchive(key.get(), archive, &signature, &error))
      Fail(error.c_str());
    const std::vector<uint8_t> package = vesk::qbun::AssemblePackage(signature, archive);
    const std::string path = dir + "/bench" + std::to_string(megabytes) + ".qbun";
    if (!vesk::qbun::WriteFileAtomically(path, package, &error)) Fail(error.c_str());
    // Verifications are remembered only for files with settled time stamps.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));

    const double straight = MedianMicros(iterations, [&] {
      std::vector<uint8_t> bytes;
      std::vector<uint8_t> out;
      vesk::PackageParts parts;
      if (!vesk::ReadWholeFile(path, &bytes) || !vesk::CheckPackageHeader(bytes.data(), bytes.size()) ||
          !vesk::SplitPackage(bytes.data(), bytes.size(), &parts) ||
          !vesk::VerifyPackageSignature(parts.signature, parts.signature_length, parts.archive,
                                        parts.archive_length))
        Fail("straight read failed");
      vesk::UnzipHelper unzip(parts.archive, parts.archive_length);
      if (!unzip.UnzipToMemory("js/app.js", &out) || out != entry) Fail("straight entry wrong");
    });
    const double verifying = MedianMicros(iterations, [&] {
      vesk::ForgetVerifiedPackages();
      std::vector<uint8_t> out;
      if (!vesk::ReadFileFromPackage(path, "js/app.js", &out) || out != entry) Fail("verifying read failed");
    });
    std::vector<uint8_t> warm;
    if (!vesk::ReadFileFromPackage(path, "js/app.js", &warm)) Fail("warm-up failed");
    const double unchanged = MedianMicros(iterations * 10, [&] {
      std::vector<uint8_t> out;
      if (!vesk::ReadFileFromPackage(path, "js/app.js", &out) || out != entry) Fail("cached read failed");
    });

    // Bounds, on bytes already in memory.
    vesk::PackageParts parts;
    vesk::SplitPackage(package.data(), package.size(), &parts);
    std::vector<uint8_t> compressed(compressBound(entry.size()));
    {
      // The entry's raw deflate stream, as the archive holds it.
      z_stream z{};
      deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
      z.next_in = const_cast<Bytef*>(entry.data());
      z.avail_in = static_cast<uInt>(entry.size());
      z.next_out = compressed.data();
      z.avail_out = static_cast<uInt>(compressed.size());
      deflate(&z, Z_FINISH);
      compressed.resize(z.total_out);
      deflateEnd(&z);
    }
    const double rsa_sha1 = MedianMicros(iterations, [&] {
      if (!vesk::VerifyPackageSignature(parts.signature, parts.signature_length, parts.archive,
                                        parts.archive_length))
        Fail("bound verify failed");
    });
    const double inflate_only = MedianMicros(iterations * 10, [&] {
      std::vector<uint8_t> out(entry.size());
      z_stream z{};
      inflateInit2(&z, -MAX_WBITS);
      z.next_in = compressed.data();
      z.avail_in = static_cast<uInt>(compressed.size());
      z.next_out = out.data();
      z.avail_out = static_cast<uInt>(out.size());
      inflate(&z, Z_FINISH);
      inflateEnd(&z);
    });
    const double lookup = MedianMicros(iterations * 10, [&] {
      vesk::UnzipHelper unzip(parts.archive, parts.archive_length);
      std::vector<uint8_t> out;
      if (!unzip.UnzipToMemory("js/app.js", &out)) Fail("bound lookup failed");
    });
    const double bound_verify = rsa_sha1 + inflate_only;
    std::printf("%3zu MB %10.0fus %10.0fus %10.0fus %12.0fus %12.0fus %9.2fx %9.2fx\n", megabytes, straight,
                verifying, unchanged, bound_verify, lookup, verifying / bound_verify, unchanged / lookup);
    std::remove(path.c_str());
  }
  return 0;
}
