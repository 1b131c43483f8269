// Package files from disk: the header, the archive reader, entry extraction
// and the diagnosis of a failing package. The signature check is left out here (and only here) so that
// the fuzzer reaches the archive code with arbitrary archives.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "vesk/core/package/package_diagnosis.h"
#include "vesk/core/package/package_file.h"
#include "vesk/core/package/unzip_helper.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // A package header in front selects its archive part; otherwise the whole
  // input is taken as the archive.
  const uint8_t* archive = data;
  size_t archive_length = size;
  vesk::PackageParts parts;
  if (vesk::CheckPackageHeader(data, size) && vesk::SplitPackage(data, size, &parts)) {
    archive = parts.archive;
    archive_length = parts.archive_length;
  }
  vesk::UnzipHelper unzip(archive, archive_length);
  std::vector<vesk::UnzipHelper::Entry> entries;
  unzip.ListEntries(&entries);
  std::vector<uint8_t> bytes;
  size_t tried = 0;
  for (const auto& entry : entries) {
    if (++tried > 16) break;
    if (unzip.UnzipToMemory(entry.name, &bytes) && bytes.size() != entry.uncompressed_size &&
        entry.name.size() <= vesk::UnzipHelper::kMaxNameLength) {
      // The lookup may find an earlier entry of the same name; only a
      // size no entry of that name declares is a fault.
      bool declared = false;
      for (const auto& other : entries)
        declared |= other.name == entry.name && other.uncompressed_size == bytes.size();
      if (!declared) __builtin_trap();
    }
  }
  unzip.UnzipToMemory("index.html", &bytes);
  unzip.UnzipToMemory(std::string(256, 'a'), &bytes);
  // The words the start-up check logs for a package that fails, header and
  // signature included.
  const vesk::PackageDiagnosis diagnosis = vesk::DiagnosePackageBytes(data, size, nullptr);
  if (diagnosis.reason.empty()) __builtin_trap();
  return 0;
}
