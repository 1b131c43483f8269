#include "plugins/update_package.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <map>
#include <memory>
#include <optional>

#include "file_thread.h"
#include "plugin_base/byte_strings.h"
#include "vesk/core/command_line.h"
#include "vesk/core/logging.h"
#include "vesk/core/security/byte_string.h"
#include "vesk/core/switches.h"
#include "vesk/core/thread_check.h"

namespace plugin {
namespace {

// The callbacks of appends still on the file thread, by append number.
// Script values stay on the main thread: the file thread sees only bytes.
std::map<uint64_t, ValueRef>& PendingCallbacks() {
  static auto* callbacks = new std::map<uint64_t, ValueRef>;
  return *callbacks;
}

void CallBack(uint64_t id, bool result) {
  auto found = PendingCallbacks().find(id);
  if (found == PendingCallbacks().end()) return;
  const ValueRef callback = std::move(found->second);
  PendingCallbacks().erase(found);
  // Called in the context it came from; its result and any exception are
  // of no interest.
  JSCContext* context = jsc_value_get_context(callback.get());
  ValueRef ignored(
      jsc_value_function_call(callback.get(), G_TYPE_BOOLEAN, result ? TRUE : FALSE, G_TYPE_NONE));
  if (context) jsc_context_clear_exception(context);
}

bool WriteAll(int fd, const std::string& bytes, size_t* written) {
  *written = 0;
  while (*written < bytes.size()) {
    const ssize_t done = ::write(fd, bytes.data() + *written, bytes.size() - *written);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return false;
    *written += static_cast<size_t>(done);
  }
  return true;
}

// On the file thread: appends to the existing file only.
bool AppendToFile(const std::string& path, const std::string& bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    VESK_PLOG(WARNING) << "OpenFile failed(" << errno << "):" << path;
    return false;
  }
  size_t written = 0;
  const bool complete = WriteAll(fd, bytes, &written);
  const int error = errno;
  ::close(fd);
  if (!complete && written == 0) {
    errno = error;
    VESK_PLOG(WARNING) << "writing file(" << error << "):" << path;
    return false;
  }
  if (!complete) {
    errno = error;
    VESK_PLOG(WARNING) << "wrote" << written << " bytes to " << path << " expected " << bytes.size();
    return false;
  }
  return true;
}

bool CreateEmpty(const std::string& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

// Byte i is the low byte of code unit i; the units 0xF700-0xF7FF stand for
// the bytes 0x80-0xFF (x-user-defined text). Others are a caller error.
// Nothing when the engine could not hand the string over.
std::optional<std::string> UpdateBytesOf(JSCValue* value) {
  if (const auto binary = BinaryDataOf(value)) return std::string(*binary);
  g_autoptr(GBytes) text = jsc_value_to_string_as_bytes(value);
  if (!text) return std::nullopt;
  gsize size = 0;
  const auto* data = static_cast<const char*>(g_bytes_get_data(text, &size));
  auto result = vesk::security::ByteStringFromUtf8(std::string_view(data ? data : "", data ? size : 0));
  VESK_DCHECK_TEXT(result.wide_units == result.private_range_units,
                   "((str[i] & 0xff00) == 0 || (str[i] & 0xff00) == 0xf700)");
  return std::move(result.bytes);
}

void Reset(UpdatePackage& self, Call& call) {
  if (call.ExpectCount(0)) CreateEmpty(self.path());
}

void Append(UpdatePackage& self, Call& call) {
  VESK_REQUIRE_MAIN_THREAD();
  if (!call.ExpectCount(2) || !call.Expect(IsBytes(call[0]), 0, "String") ||
      !call.Expect(IsFunction(call[1]), 1, "Function"))
    return;
  std::optional<std::string> bytes = UpdateBytesOf(call[0]);
  if (!bytes) return call.Throw("Should Append Valid Data");
  if (bytes->empty()) return call.Throw("Should Append Not Empty Data");
  static uint64_t next_id = 0;
  const uint64_t id = ++next_id;
  PendingCallbacks()[id] = ValueRef::Share(call[1]);
  PostFileWork([path = self.path(), bytes = std::move(*bytes)] { return AppendToFile(path, bytes); },
               [id](bool result) { CallBack(id, result); });
}

void Delete(UpdatePackage& self, Call& call) {
  if (!call.ExpectCount(0)) return;
  if (::unlink(self.path().c_str()) != 0 && errno != ENOENT)
    call.Throw("Delete UpdatePackage Failed:" + self.path());
}

void GetSize(UpdatePackage& self, Call& call) {
  struct stat info {};
  const long long size = ::stat(self.path().c_str(), &info) == 0 ? static_cast<long long>(info.st_size) : 0;
  if (size > INT_MAX) {
    const std::string message =
        "UpdatePackage File(" + self.path() + ")Is Too Large: " + std::to_string(size);
    VESK_LOG(WARNING) << message;
    return call.Throw(message);
  }
  call.ReturnNumber(static_cast<double>(size));
}

void GetPath(UpdatePackage& self, Call& call) { call.ReturnString(self.path()); }

}  // namespace

std::shared_ptr<UpdatePackage> UpdatePackage::New(std::string path, bool create_file) {
  std::shared_ptr<UpdatePackage> package(new UpdatePackage(std::move(path)));
  if (create_file) CreateEmpty(package->path_);
  return package;
}

void UpdatePackage::RegisterApis() {
  RegisterFunction("reset", Reset);
  // Never traced: its argument is bulk data.
  RegisterFunction("append", Append, TraceMode::kNever);
  RegisterFunction("delete", Delete);
  RegisterProperty("size", GetSize);
  if (vesk::CommandLine::ForCurrentProcess().HasSwitch(vesk::switches::kShowUpdatePackageDetail))
    RegisterProperty("path", GetPath);
}

}  // namespace plugin
