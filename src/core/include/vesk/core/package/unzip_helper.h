// An archive reader over a byte range in memory that it does not own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vesk {

class UnzipHelper {
 public:
  // Reader error codes; they appear in the failure log line.
  static constexpr int kErrorNotFound = 0x500;
  static constexpr int kErrorCorrupt = 0x700;
  static constexpr int kErrorTooLarge = 0x300;
  static constexpr int kErrorNoArchive = 0x10000;
  // Entries larger than this are refused: no package holds one, and every
  // request for an entry holds it whole in memory (the scheme serves it
  // from there), so this bounds what one request can make us allocate.
  static constexpr uint64_t kMaxEntryBytes = 32ull << 20;
  // Names this long are never found (the archive format's name buffer).
  static constexpr size_t kMaxNameLength = 255;

  struct Entry {
    std::string name;
    uint64_t compressed_size = 0;
    uint64_t uncompressed_size = 0;
    int method = 0;
  };

  // Opens the archive; no password.
  UnzipHelper(const uint8_t* data, size_t size);
  virtual ~UnzipHelper();
  UnzipHelper(const UnzipHelper&) = delete;
  UnzipHelper& operator=(const UnzipHelper&) = delete;

  bool is_open() const { return archive_ != nullptr; }

  // Clears |bytes|, finds the first entry named exactly |name| in
  // central-directory order and extracts it. True for a found entry that
  // extracted whole with a matching CRC (an empty entry leaves |bytes|
  // empty); otherwise logs "Unzip <name> to memory failed:<code>".
  bool UnzipToMemory(const std::string& name, std::vector<uint8_t>* bytes);

  // Every entry in central-directory order; false when the directory is damaged.
  bool ListEntries(std::vector<Entry>* entries);

  // The byte range the reader's I/O callbacks work on.
  struct Stream {
    const uint8_t* data;
    uint64_t size;
    uint64_t position;
  };

 private:
  int Extract(uint64_t size, std::vector<uint8_t>* bytes);

  Stream stream_;
  void* archive_ = nullptr;  // unzFile
};

}  // namespace vesk
