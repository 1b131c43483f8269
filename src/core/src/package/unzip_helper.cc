#include "vesk/core/package/unzip_helper.h"

#include <unzip.h>

#include <cstring>
#include <limits>

#include "vesk/core/logging.h"

namespace vesk {
namespace {

// The general-purpose flag bit that marks an encrypted entry.
constexpr unsigned long kFlagEncrypted = 1;
constexpr int kMethodStored = 0;
constexpr int kMethodDeflate = 8;

// Memory I/O for the archive reader: reads and seeks are clamped to the
// bytes present, so no size or offset in the archive can reach past them.
struct MemoryIo {
  static voidpf Open(voidpf opaque, const void* /*filename*/, int mode) {
    if (mode & ZLIB_FILEFUNC_MODE_WRITE) return nullptr;
    return opaque;
  }
  static uLong Read(voidpf /*opaque*/, voidpf stream, void* buffer, uLong size) {
    auto* s = static_cast<UnzipHelper::Stream*>(stream);
    const uint64_t left = s->size - s->position;
    const uint64_t count = size < left ? size : left;
    if (count > 0) std::memcpy(buffer, s->data + s->position, static_cast<size_t>(count));
    s->position += count;
    return static_cast<uLong>(count);
  }
  static uLong Write(voidpf, voidpf, const void*, uLong) { return 0; }
  static ZPOS64_T Tell(voidpf /*opaque*/, voidpf stream) {
    return static_cast<UnzipHelper::Stream*>(stream)->position;
  }
  static long Seek(voidpf /*opaque*/, voidpf stream, ZPOS64_T offset, int origin) {
    auto* s = static_cast<UnzipHelper::Stream*>(stream);
    uint64_t base = 0;
    switch (origin) {
      case ZLIB_FILEFUNC_SEEK_SET:
        base = 0;
        break;
      case ZLIB_FILEFUNC_SEEK_CUR:
        base = s->position;
        break;
      case ZLIB_FILEFUNC_SEEK_END:
        base = s->size;
        break;
      default:
        return -1;
    }
    if (offset > s->size - base) return -1;
    s->position = base + offset;
    return 0;
  }
  static int Close(voidpf, voidpf) { return 0; }
  static int Error(voidpf, voidpf) { return 0; }
};

// Whether the declared sizes fit the bytes present: the compressed data must
// lie in the archive, and the declared size must be reachable from it (equal
// for stored entries, at most deflate's best ratio for deflated ones). The
// output buffer is sized from the declared size, so this bounds it by the
// input.
bool SizesArePossible(const unz_file_info64& info, uint64_t archive_size) {
  constexpr uint64_t kMaxDeflateRatio = 1032;
  if (info.compressed_size > archive_size) return false;
  if (info.compression_method == kMethodStored) return info.uncompressed_size == info.compressed_size;
  return info.uncompressed_size <= info.compressed_size * kMaxDeflateRatio + 64;
}

}  // namespace

UnzipHelper::UnzipHelper(const uint8_t* data, size_t size) : stream_{data, data ? size : 0, 0} {
  zlib_filefunc64_def io{};
  io.zopen64_file = &MemoryIo::Open;
  io.zread_file = &MemoryIo::Read;
  io.zwrite_file = &MemoryIo::Write;
  io.ztell64_file = &MemoryIo::Tell;
  io.zseek64_file = &MemoryIo::Seek;
  io.zclose_file = &MemoryIo::Close;
  io.zerror_file = &MemoryIo::Error;
  io.opaque = &stream_;
  // The reader wants a non-null name; the memory stream ignores it.
  archive_ = unzOpen2_64("memory", &io);
}

UnzipHelper::~UnzipHelper() {
  if (archive_) unzClose(archive_);
}

bool UnzipHelper::UnzipToMemory(const std::string& name, std::vector<uint8_t>* bytes) {
  bytes->clear();
  int error = kErrorNoArchive;
  if (archive_) {
    error = kErrorNotFound;
    // Names are compared whole, byte for byte: a stored name that is longer
    // than the buffer, or carries a NUL, never matches a shorter wanted one.
    if (name.size() <= kMaxNameLength) {
      int status = unzGoToFirstFile(archive_);
      while (status == UNZ_OK) {
        unz_file_info64 info{};
        char stored[kMaxNameLength + 1];
        if (unzGetCurrentFileInfo64(archive_, &info, stored, sizeof(stored), nullptr, 0, nullptr, 0) !=
            UNZ_OK) {
          error = kErrorCorrupt;
          break;
        }
        if (info.size_filename == name.size() && std::memcmp(stored, name.data(), name.size()) == 0) {
          if ((info.flag & kFlagEncrypted) ||
              (info.compression_method != kMethodStored && info.compression_method != kMethodDeflate)) {
            error = kErrorCorrupt;
          } else if (info.uncompressed_size > kMaxEntryBytes) {
            error = kErrorTooLarge;
          } else if (!SizesArePossible(info, stream_.size)) {
            error = kErrorCorrupt;
          } else {
            error = Extract(info.uncompressed_size, bytes);
          }
          break;
        }
        status = unzGoToNextFile(archive_);
        if (status != UNZ_OK && status != UNZ_END_OF_LIST_OF_FILE) error = kErrorCorrupt;
      }
    }
  }
  if (error != 0) {
    bytes->clear();
    VESK_LOG(WARNING) << "Unzip " << name << " to memory failed:" << error;
    return false;
  }
  return true;
}

int UnzipHelper::Extract(uint64_t size, std::vector<uint8_t>* bytes) {
  if (size == 0) return 0;
  if (unzOpenCurrentFile(archive_) != UNZ_OK) return kErrorCorrupt;
  std::vector<uint8_t> data(static_cast<size_t>(size));
  size_t done = 0;
  int error = 0;
  while (done < data.size()) {
    const size_t chunk = std::min<size_t>(data.size() - done, std::numeric_limits<int>::max());
    const int got = unzReadCurrentFile(archive_, data.data() + done, static_cast<unsigned>(chunk));
    if (got <= 0) {
      error = kErrorCorrupt;
      break;
    }
    done += static_cast<size_t>(got);
  }
  // Closing checks the CRC once the whole declared size was read; a
  // damaged deflate stream or a wrong size shows up here or above.
  if (unzCloseCurrentFile(archive_) != UNZ_OK && error == 0) error = kErrorCorrupt;
  if (error == 0) *bytes = std::move(data);
  return error;
}

bool UnzipHelper::ListEntries(std::vector<Entry>* entries) {
  entries->clear();
  if (!archive_) return false;
  int status = unzGoToFirstFile(archive_);
  while (status == UNZ_OK) {
    unz_file_info64 info{};
    if (unzGetCurrentFileInfo64(archive_, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK) return false;
    std::string name(info.size_filename, '\0');
    if (unzGetCurrentFileInfo64(archive_, &info, name.data(), static_cast<uLong>(name.size()), nullptr, 0,
                                nullptr, 0) != UNZ_OK)
      return false;
    entries->push_back(Entry{std::move(name), info.compressed_size, info.uncompressed_size,
                             static_cast<int>(info.compression_method)});
    status = unzGoToNextFile(archive_);
  }
  return status == UNZ_END_OF_LIST_OF_FILE;
}

}  // namespace vesk
