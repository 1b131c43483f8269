// Pieces of the instance-channel tests: a receiver in a forked child serving
// its socket on its own GMainLoop, raw exchanges and sections made the way
// any peer would, and a fixture with a private runtime directory and log.
#pragma once

#include <fcntl.h>
#include <glib-unix.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "test_util.h"
#include "vesk/core/ipc/ipc.h"
#include "vesk/core/ipc/ipc_socket_dir.h"
#include "vesk/core/ipc/ipc_wire.h"
#include "vesk/core/logging.h"
#include "vesk/core/tick.h"

namespace vesk::ipc_test {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

inline bool WriteAllFd(int fd, const void* data, size_t size) {
  const char* bytes = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t written = ::write(fd, bytes, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}

// Lines written by a child on |fd|, until |count| arrived or |timeout|; a
// zero |timeout| takes only what is there already. A child writes each line
// in one write of less than PIPE_BUF bytes, so lines arrive whole.
inline std::vector<std::string> ReadLines(int fd, size_t count, std::chrono::milliseconds timeout) {
  std::vector<std::string> lines;
  std::string pending;
  const auto deadline = Clock::now() + timeout;
  do {
    pollfd entry{fd, POLLIN, 0};
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (::poll(&entry, 1, static_cast<int>(std::max<long long>(left.count(), 0))) <= 0) continue;
    char buffer[4096];
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got <= 0) break;
    pending.append(buffer, static_cast<size_t>(got));
    for (size_t end; (end = pending.find('\n')) != std::string::npos; pending.erase(0, end + 1))
      lines.push_back(pending.substr(0, end));
  } while (lines.size() < count && Clock::now() < deadline);
  return lines;
}

enum class ReceiverMode {
  kCompleteAtOnce,
  // A second listener keeps every completion until the test releases them.
  kSecondListenerHolds,
};

// Writes "<id>:<data>" for every message and completes at once.
class RecordingListener : public IPC::Listener {
 public:
  explicit RecordingListener(int fd) : fd_(fd) {}
  void OnMessage(const IPC&, int32_t id, const std::string& data, IPC::Completion done) override {
    const std::string line = std::to_string(id) + ":" + data + "\n";
    WriteAllFd(fd_, line.data(), line.size());
    done.Run();
  }

 private:
  int fd_;
};

// Keeps every completion until Release(), which first writes
// "released <count>", so the line is out before any answer is.
class HoldingListener : public IPC::Listener {
 public:
  explicit HoldingListener(int fd) : fd_(fd) {}
  void OnMessage(const IPC&, int32_t, const std::string&, IPC::Completion done) override {
    held_.push_back(std::move(done));
  }
  void Release() {
    const std::string line = "released " + std::to_string(held_.size()) + "\n";
    WriteAllFd(fd_, line.data(), line.size());
    std::vector<IPC::Completion> held = std::move(held_);
    held_.clear();
    for (IPC::Completion& done : held) done.Run();
  }

 private:
  int fd_;
  std::vector<IPC::Completion> held_;
};

// A receiver in a child process, served on the child's own main loop until
// the test closes the control pipe.
class ChildReceiver {
 public:
  explicit ChildReceiver(ReceiverMode mode) {
    int control[2], results[2], release[2];
    if (::pipe2(control, O_CLOEXEC) != 0 || ::pipe2(results, O_CLOEXEC) != 0 ||
        ::pipe2(release, O_CLOEXEC) != 0)
      return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(control[1]);
      ::close(results[0]);
      ::close(release[1]);
      RunChild(mode, control[0], results[1], release[0]);
    }
    ::close(control[0]);
    ::close(results[1]);
    ::close(release[0]);
    control_ = control[1];
    results_ = results[0];
    release_ = release[1];
    ready_ = ReadLines(results_, 1, 30s) == std::vector<std::string>{"ready"};
  }
  ~ChildReceiver() {
    Stop();
    if (results_ >= 0) ::close(results_);
  }
  // Lets the holding listener complete what it holds.
  void Release() { WriteAllFd(release_, "r", 1); }
  // Ends the child's loop; the child shuts its receiver down and exits.
  void Stop() {
    if (control_ >= 0) ::close(control_);
    if (release_ >= 0) ::close(release_);
    control_ = release_ = -1;
    int status = 0;
    if (pid_ > 0) ::waitpid(pid_, &status, 0);
    pid_ = -1;
  }
  bool ready() const { return ready_; }
  uint32_t pid() const { return static_cast<uint32_t>(pid_); }
  // Waits for |count| lines (generously: they are expected).
  std::vector<std::string> Deliveries(size_t count, std::chrono::milliseconds timeout = 30s) {
    return ReadLines(results_, count, timeout);
  }
  // The lines written so far, without waiting.
  std::vector<std::string> DeliveredSoFar() { return ReadLines(results_, SIZE_MAX, 0ms); }

 private:
  [[noreturn]] static void RunChild(ReceiverMode mode, int control, int results, int release) {
    if (!IPC::CreateReceiver()) ::_exit(1);
    static RecordingListener recorder(results);
    static HoldingListener holder(results);
    IPC::AddListener(&recorder);
    IPC::AddListener(&recorder);  // a programming error: logged, not added twice
    if (mode == ReceiverMode::kSecondListenerHolds) IPC::AddListener(&holder);
    WriteAllFd(results, "ready\n", 6);
    GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
    g_unix_fd_add(
        control, static_cast<GIOCondition>(G_IO_IN | G_IO_HUP),
        [](gint, GIOCondition, gpointer data) -> gboolean {
          g_main_loop_quit(static_cast<GMainLoop*>(data));
          return G_SOURCE_REMOVE;
        },
        loop);
    g_unix_fd_add(
        release, G_IO_IN,
        [](gint fd, GIOCondition, gpointer) -> gboolean {
          char byte;
          if (::read(fd, &byte, 1) != 1) return G_SOURCE_REMOVE;
          holder.Release();
          return G_SOURCE_CONTINUE;
        },
        nullptr);
    g_main_loop_run(loop);
    IPC::Shutdown();
    ::_exit(0);
  }

  pid_t pid_ = -1;
  int control_ = -1;
  int results_ = -1;
  int release_ = -1;
  bool ready_ = false;
};

class IpcChannelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* old = std::getenv("XDG_RUNTIME_DIR");
    if (old) saved_runtime_dir_ = old;
    runtime_dir_ = dir_.File("run");
    ASSERT_EQ(0, ::mkdir(runtime_dir_.c_str(), 0700));
    ::setenv("XDG_RUNTIME_DIR", runtime_dir_.c_str(), 1);
    logging::InitLogging(dir_.File("test.log"));
  }
  void TearDown() override {
    IPC::Shutdown();
    logging::ShutdownLogging();
    if (saved_runtime_dir_)
      ::setenv("XDG_RUNTIME_DIR", saved_runtime_dir_->c_str(), 1);
    else
      ::unsetenv("XDG_RUNTIME_DIR");
  }

  std::string Log() const {
    std::string text;
    ReadFileToString(dir_.File("test.log"), &text, 4 << 20);
    return text;
  }
  bool LogHas(const std::string& needle) const { return Log().find(needle) != std::string::npos; }
  std::string SocketDir() const { return runtime_dir_ + "/vesk_ipc_window"; }

  // Sends |id|, |data| to the first peer; returns the peer's pid (0: none).
  uint32_t SendToFirstPeer(int32_t id, const std::string& data, bool* answered,
                           std::chrono::milliseconds timeout = IPC::kDefaultAnswerTimeout) {
    uint32_t pid = 0;
    IPC::EnumerateRemotes([&](const IPC& peer) {
      pid = peer.remote_process_id();
      *answered = peer.Send(id, data, timeout);
      return true;
    });
    return pid;
  }

  testing::TempDir dir_;
  std::string runtime_dir_;
  std::optional<std::string> saved_runtime_dir_;
};

// Connects to |path|, writes |request|, and returns the answer's bytes, or
// nullopt when the receiver closed the connection without one.
inline std::optional<std::string> RawExchange(const std::string& path, const std::string& request) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return std::nullopt;
  }
  WriteAllFd(fd, request.data(), request.size());
  ::shutdown(fd, SHUT_WR);  // a short request ends here, not at the receiver's time-out
  std::string answer;
  char buffer[16];
  pollfd entry{fd, POLLIN, 0};
  while (answer.size() < 4 && ::poll(&entry, 1, 5000) > 0) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got <= 0) break;
    answer.append(buffer, static_cast<size_t>(got));
  }
  ::close(fd);
  if (answer.size() < 4) return std::nullopt;
  return answer;
}

inline std::string RequestBytes(uint32_t pid, uint32_t tick, uint32_t message = ipc::kIpcRequestMessage) {
  const auto bytes = ipc::EncodeIpcRequest(ipc::IpcRequest{message, pid, tick});
  return std::string(bytes.begin(), bytes.end());
}

// A section of |size| bytes starting with |text|, made the way any peer would.
inline void MakeSection(const std::string& name, const std::string& text, size_t size) {
  const int fd = ::shm_open(name.c_str(), O_CREAT | O_EXCL | O_RDWR, 0600);
  ASSERT_GE(fd, 0) << name;
  ASSERT_EQ(0, ::ftruncate(fd, static_cast<off_t>(size)));
  if (!text.empty()) {
    ASSERT_EQ(static_cast<ssize_t>(text.size()), ::pwrite(fd, text.data(), text.size(), 0));
  }
  ::close(fd);
}

inline bool SectionExists(const std::string& name) {
  const int fd = ::shm_open(name.c_str(), O_RDONLY, 0);
  if (fd >= 0) ::close(fd);
  return fd >= 0;
}

}  // namespace vesk::ipc_test
