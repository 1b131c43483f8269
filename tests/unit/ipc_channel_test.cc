// The instance channel between real processes: a forked child serves its
// receiver socket on its own GMainLoop, the test process sends through real
// sockets and real shared memory, and both write to one log file.
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
#include <chrono>
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

namespace vesk {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

bool WriteAllFd(int fd, const void* data, size_t size) {
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

// Lines written by a child on |fd|, until |count| arrived or |timeout|.
std::vector<std::string> ReadLines(int fd, size_t count, std::chrono::milliseconds timeout) {
  std::vector<std::string> lines;
  std::string pending;
  const auto deadline = Clock::now() + timeout;
  while (lines.size() < count && Clock::now() < deadline) {
    pollfd entry{fd, POLLIN, 0};
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (::poll(&entry, 1, static_cast<int>(std::max<long long>(left.count(), 0))) <= 0) continue;
    char buffer[4096];
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got <= 0) break;
    pending.append(buffer, static_cast<size_t>(got));
    for (size_t end; (end = pending.find('\n')) != std::string::npos; pending.erase(0, end + 1))
      lines.push_back(pending.substr(0, end));
  }
  return lines;
}

enum class ReceiverMode { kCompleteAtOnce, kSecondListenerLater, kSecondListenerNever };

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

// Keeps the completion: runs it after |delay_ms|, or never when 0.
class SlowListener : public IPC::Listener {
 public:
  explicit SlowListener(unsigned delay_ms) : delay_ms_(delay_ms) {}
  void OnMessage(const IPC&, int32_t, const std::string&, IPC::Completion done) override {
    held_.push_back(std::move(done));
    if (delay_ms_ == 0) return;
    g_timeout_add(
        delay_ms_,
        [](gpointer self) -> gboolean {
          static_cast<SlowListener*>(self)->held_.front().Run();
          static_cast<SlowListener*>(self)->held_.erase(static_cast<SlowListener*>(self)->held_.begin());
          return G_SOURCE_REMOVE;
        },
        this);
  }

 private:
  unsigned delay_ms_;
  std::vector<IPC::Completion> held_;
};

// A receiver in a child process, served on the child's own main loop until
// the test closes the control pipe.
class ChildReceiver {
 public:
  explicit ChildReceiver(ReceiverMode mode) {
    int control[2], results[2];
    if (::pipe2(control, O_CLOEXEC) != 0 || ::pipe2(results, O_CLOEXEC) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(control[1]);
      ::close(results[0]);
      RunChild(mode, control[0], results[1]);
    }
    ::close(control[0]);
    ::close(results[1]);
    control_ = control[1];
    results_ = results[0];
    ready_ = ReadLines(results_, 1, 10s) == std::vector<std::string>{"ready"};
  }
  ~ChildReceiver() {
    Stop();
    if (results_ >= 0) ::close(results_);
  }
  // Ends the child's loop; the child shuts its receiver down and exits.
  void Stop() {
    if (control_ >= 0) ::close(control_);
    control_ = -1;
    int status = 0;
    if (pid_ > 0) ::waitpid(pid_, &status, 0);
    pid_ = -1;
  }
  bool ready() const { return ready_; }
  uint32_t pid() const { return static_cast<uint32_t>(pid_); }
  std::vector<std::string> Deliveries(size_t count, std::chrono::milliseconds timeout = 5s) {
    return ReadLines(results_, count, timeout);
  }

 private:
  [[noreturn]] static void RunChild(ReceiverMode mode, int control, int results) {
    if (!IPC::CreateReceiver()) ::_exit(1);
    static RecordingListener recorder(results);
    static SlowListener later(400);
    static SlowListener never(0);
    IPC::AddListener(&recorder);
    IPC::AddListener(&recorder);  // a programming error: logged, not added twice
    if (mode == ReceiverMode::kSecondListenerLater) IPC::AddListener(&later);
    if (mode == ReceiverMode::kSecondListenerNever) IPC::AddListener(&never);
    WriteAllFd(results, "ready\n", 6);
    GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
    g_unix_fd_add(
        control, static_cast<GIOCondition>(G_IO_IN | G_IO_HUP),
        [](gint, GIOCondition, gpointer data) -> gboolean {
          g_main_loop_quit(static_cast<GMainLoop*>(data));
          return G_SOURCE_REMOVE;
        },
        loop);
    g_main_loop_run(loop);
    IPC::Shutdown();
    ::_exit(0);
  }

  pid_t pid_ = -1;
  int control_ = -1;
  int results_ = -1;
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
std::optional<std::string> RawExchange(const std::string& path, const std::string& request) {
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

std::string RequestBytes(uint32_t pid, uint32_t tick, uint32_t message = ipc::kIpcRequestMessage) {
  const auto bytes = ipc::EncodeIpcRequest(ipc::IpcRequest{message, pid, tick});
  return std::string(bytes.begin(), bytes.end());
}

// A section of |size| bytes starting with |text|, made the way any peer would.
void MakeSection(const std::string& name, const std::string& text, size_t size) {
  const int fd = ::shm_open(name.c_str(), O_CREAT | O_EXCL | O_RDWR, 0600);
  ASSERT_GE(fd, 0) << name;
  ASSERT_EQ(0, ::ftruncate(fd, static_cast<off_t>(size)));
  if (!text.empty()) {
    ASSERT_EQ(static_cast<ssize_t>(text.size()), ::pwrite(fd, text.data(), text.size(), 0));
  }
  ::close(fd);
}

bool SectionExists(const std::string& name) {
  const int fd = ::shm_open(name.c_str(), O_RDONLY, 0);
  if (fd >= 0) ::close(fd);
  return fd >= 0;
}

TEST_F(IpcChannelTest, MessageRoundTripAndListenerRegisteredOnce) {
  ChildReceiver child(ReceiverMode::kCompleteAtOnce);
  ASSERT_TRUE(child.ready());
  bool answered = false;
  EXPECT_EQ(child.pid(), SendToFirstPeer(kUploadMessage, "L3RtcC94Lmpzb24=", &answered));
  EXPECT_TRUE(answered);
  EXPECT_EQ(child.pid(), SendToFirstPeer(kExitMessage, "exit-process", &answered));
  EXPECT_EQ(child.pid(), SendToFirstPeer(kForegroundMessage, "", &answered));
  EXPECT_TRUE(answered);
  // Registered twice, called once per message.
  EXPECT_EQ((std::vector<std::string>{"1:L3RtcC94Lmpzb24=", "2:exit-process", "0:"}),
            child.Deliveries(4, 500ms));
  EXPECT_TRUE(LogHas("You Have Already Register This Listener"));
  EXPECT_TRUE(LogHas("IPC message received: id=1"));
  EXPECT_TRUE(LogHas("IPC message handled: id=0"));
  EXPECT_FALSE(LogHas("IPC EnumWindows Failed"));
  // Neither side leaves a section behind.
  std::string shm_names;
  for (const auto& entry : std::filesystem::directory_iterator("/dev/shm"))
    if (entry.path().filename().string().rfind("vesk_ipc_" + std::to_string(child.pid()) + "_", 0) == 0)
      shm_names += entry.path().filename().string() + " ";
  EXPECT_EQ("", shm_names);
}

TEST_F(IpcChannelTest, AnswerWaitsForEveryListenerWithoutBlockingTheReceiver) {
  ChildReceiver child(ReceiverMode::kSecondListenerLater);
  ASSERT_TRUE(child.ready());
  const auto start = Clock::now();
  bool answered = false;
  SendToFirstPeer(kForegroundMessage, "", &answered);
  EXPECT_TRUE(answered);
  EXPECT_GE(Clock::now() - start, 380ms) << "answered before the slow listener completed";
  // While one message waits for its slow listener, the loop serves the next.
  const auto second_start = Clock::now();
  bool other_answered = false;
  std::thread other([&] { SendToFirstPeer(7, "a", &other_answered); });
  bool this_answered = false;
  SendToFirstPeer(8, "b", &this_answered);
  other.join();
  EXPECT_TRUE(this_answered);
  EXPECT_TRUE(other_answered);
  const auto lines = child.Deliveries(3, 2s);
  ASSERT_EQ(3u, lines.size());
  EXPECT_EQ("0:", lines[0]);
  EXPECT_TRUE((lines[1] == "7:a" && lines[2] == "8:b") || (lines[1] == "8:b" && lines[2] == "7:a"));
  EXPECT_LT(Clock::now() - second_start, 780ms) << "the two slow messages were handled one after the other";
}

TEST_F(IpcChannelTest, InvalidSectionsAreLoggedDroppedAndAnswered) {
  ChildReceiver child(ReceiverMode::kCompleteAtOnce);
  ASSERT_TRUE(child.ready());
  const std::string socket = ipc::IpcPeerSocketPath(SocketDir(), child.pid());
  struct Case {
    std::string text;
    size_t size;  // of the section
    std::string log;
  };
  const auto with_nul = [](const std::string& text) { return Case{text, text.size() + 1, ""}; };
  std::vector<Case> cases;
  for (const char* text : {R"({"data":"","id":"1"})", R"({"data":"","id":1.5})",
                           R"({"data":"","id":4294967296})", R"({"data":[],"id":1})"}) {
    cases.push_back(with_nul(text));
    cases.back().log = std::string("IPCData Json Data Parse Failed: ") + text;
  }
  cases.push_back(Case{"not json", 9, "IPCData Parse Failed: not json"});
  cases.push_back(Case{"", 1, "IPCData Parse Failed: \n"});
  cases.push_back(Case{"", 0, "Map Existed IPC Shared Memory Failed: Invalid argument"});
  cases.push_back(Case{"{", ipc::kMaxIpcSectionBytes + 1, "more than the limit of 65536"});
  uint32_t tick = 100;
  for (const Case& entry : cases) {
    const std::string name = ipc::IpcSectionName(child.pid(), ++tick);
    MakeSection(name, entry.text, entry.size);
    EXPECT_EQ(std::string(4, '\0'), RawExchange(socket, RequestBytes(child.pid(), tick))) << entry.text;
    EXPECT_TRUE(LogHas(entry.log)) << entry.log;
    EXPECT_TRUE(SectionExists(name)) << "only the sender removes its section";
    ::shm_unlink(name.c_str());
  }
  // No section at all.
  EXPECT_EQ(std::string(4, '\0'), RawExchange(socket, RequestBytes(child.pid(), 99)));
  EXPECT_TRUE(LogHas("Open Existed IPC Shared Memory Failed: No such file or directory"));
  // A section without NUL is read to its end, never past it.
  MakeSection(ipc::IpcSectionName(child.pid(), 50), R"({"data":"whole","id":3})", 23);
  EXPECT_EQ(std::string(4, '\0'), RawExchange(socket, RequestBytes(child.pid(), 50)));
  // Requests that are not ours are closed without an answer.
  EXPECT_EQ(std::nullopt, RawExchange(socket, RequestBytes(child.pid(), 50, 0x8002)));
  EXPECT_EQ(std::nullopt, RawExchange(socket, RequestBytes(child.pid() + 1, 50)));
  EXPECT_EQ(std::nullopt, RawExchange(socket, "short"));
  // Of all of these, only the valid one reached the listener.
  EXPECT_EQ(std::vector<std::string>{"3:whole"}, child.Deliveries(2, 500ms));
}

TEST_F(IpcChannelTest, SendersInTheSameMillisecondAllGetThrough) {
  ChildReceiver child(ReceiverMode::kCompleteAtOnce);
  ASSERT_TRUE(child.ready());
  constexpr int kSenders = 8;
  bool answered[kSenders] = {};
  std::vector<std::thread> senders;
  for (int i = 0; i < kSenders; ++i)
    senders.emplace_back([&, i] { SendToFirstPeer(10 + i, "", &answered[i]); });
  for (std::thread& sender : senders) sender.join();
  for (int i = 0; i < kSenders; ++i) EXPECT_TRUE(answered[i]) << i;
  auto lines = child.Deliveries(kSenders + 1, 1s);
  std::sort(lines.begin(), lines.end());
  EXPECT_EQ((std::vector<std::string>{"10:", "11:", "12:", "13:", "14:", "15:", "16:", "17:"}), lines);
  EXPECT_FALSE(LogHas("Create IPC Shared Memory Failed"));
}

TEST_F(IpcChannelTest, ExistingSectionIsNeverReused) {
  ChildReceiver child(ReceiverMode::kCompleteAtOnce);
  ASSERT_TRUE(child.ready());
  // Another sender's sections for every name this send could pick.
  std::vector<std::string> taken;
  const uint32_t now = TickCount32();
  for (uint32_t tick = now; tick != now + 1000; ++tick) {
    taken.push_back(ipc::IpcSectionName(child.pid(), tick));
    MakeSection(taken.back(), R"({"data":"theirs","id":5})", 26);
  }
  bool answered = true;
  SendToFirstPeer(kForegroundMessage, "", &answered);
  EXPECT_FALSE(answered);
  EXPECT_TRUE(LogHas("Create IPC Shared Memory Failed: File exists"));
  for (const std::string& name : taken) {
    EXPECT_TRUE(SectionExists(name)) << name;
    ::shm_unlink(name.c_str());
  }
  EXPECT_EQ(std::vector<std::string>{}, child.Deliveries(1, 300ms));
}

TEST_F(IpcChannelTest, HungReceiverReleasesTheSenderAfterTheBound) {
  ChildReceiver child(ReceiverMode::kSecondListenerNever);
  ASSERT_TRUE(child.ready());
  const auto start = Clock::now();
  bool answered = true;
  SendToFirstPeer(kForegroundMessage, "", &answered, 300ms);
  EXPECT_FALSE(answered);
  EXPECT_LT(Clock::now() - start, 3s);
  EXPECT_TRUE(LogHas("did not answer within 300 ms"));
}

TEST_F(IpcChannelTest, OversizedMessageIsNotSent) {
  ChildReceiver child(ReceiverMode::kCompleteAtOnce);
  ASSERT_TRUE(child.ready());
  bool answered = true;
  SendToFirstPeer(kUploadMessage, std::string(ipc::kMaxIpcSectionBytes, 'A'), &answered);
  EXPECT_FALSE(answered);
  EXPECT_TRUE(LogHas("larger than the limit of 65536; not sent"));
  // Just under the limit still goes through.
  const std::string fits(ipc::kMaxIpcSectionBytes - 1 -
                             std::string(R"({"data":"","id":1})"
                                         "\n")
                                 .size(),
                         'B');
  SendToFirstPeer(kUploadMessage, fits, &answered);
  EXPECT_TRUE(answered);
  const auto lines = child.Deliveries(1);
  ASSERT_EQ(1u, lines.size());
  EXPECT_EQ("1:" + fits, lines[0]);
}

TEST_F(IpcChannelTest, OwnReceiverIsSkippedAndStaleSocketsAreRemoved) {
  ASSERT_TRUE(IPC::CreateReceiver());
  const std::string own = ipc::IpcPeerSocketPath(SocketDir(), static_cast<uint32_t>(::getpid()));
  // A socket whose process ended without removing it, and files that are no
  // receiver's at all.
  const std::string stale = ipc::IpcPeerSocketPath(SocketDir(), 4000000);
  {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, stale.c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(0, ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address));
    ::close(fd);
  }
  WriteStringToFile(SocketDir() + "/notes", "x");
  WriteStringToFile(ipc::IpcPeerSocketPath(SocketDir(), 4000001), "not a socket");
  int calls = 0;
  EXPECT_TRUE(IPC::EnumerateRemotes([&](const IPC&) { return ++calls > 0; }));
  EXPECT_EQ(0, calls);
  EXPECT_TRUE(LogHas("IPC EnumWindows Failed: Connection refused"));
  EXPECT_FALSE(PathExists(stale));
  EXPECT_TRUE(PathExists(own));
  EXPECT_TRUE(PathExists(SocketDir() + "/notes"));
  IPC::Shutdown();
  EXPECT_FALSE(PathExists(own)) << "the socket goes with the receiver";
}

TEST_F(IpcChannelTest, ShutdownReleasesSendersWaitingForListeners) {
  ChildReceiver child(ReceiverMode::kSecondListenerNever);
  ASSERT_TRUE(child.ready());
  std::thread sender([&] {
    bool answered = true;
    SendToFirstPeer(kForegroundMessage, "", &answered, 10s);
    EXPECT_FALSE(answered);
  });
  ASSERT_EQ(1u, child.Deliveries(1).size());
  const auto start = Clock::now();
  child.Stop();
  sender.join();
  EXPECT_LT(Clock::now() - start, 5s);
  EXPECT_TRUE(LogHas("closed the connection without an answer"));
}

TEST_F(IpcChannelTest, SocketDirectoryMustBePrivate) {
  ASSERT_EQ(0, ::mkdir(SocketDir().c_str(), 0755));
  EXPECT_FALSE(IPC::CreateReceiver());
  EXPECT_TRUE(LogHas("is not a private directory of this user"));
  ASSERT_EQ(0, ::rmdir(SocketDir().c_str()));
  ASSERT_EQ(0, ::symlink(dir_.path().c_str(), SocketDir().c_str()));
  EXPECT_FALSE(IPC::CreateReceiver());
  ASSERT_EQ(0, ::unlink(SocketDir().c_str()));
  // Without a runtime directory: a per-user directory in the temporary one.
  ::unsetenv("XDG_RUNTIME_DIR");
  EXPECT_EQ(JoinPath(g_get_tmp_dir(), "vesk_ipc_window-" + std::to_string(::geteuid())),
            ipc::IpcSocketDirectoryPath());
}

// Needs two users; as root the test makes the other one with setuid.
TEST_F(IpcChannelTest, PeersOfAnotherUserAreRefusedBothWays) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as a second user";
  constexpr uid_t kOther = 65534;
  ChildReceiver child(ReceiverMode::kCompleteAtOnce);
  ASSERT_TRUE(child.ready());
  const std::string socket = ipc::IpcPeerSocketPath(SocketDir(), child.pid());
  // Receiving: a client of another user is refused before it is read. The
  // other user may pass through the directories, no more.
  ASSERT_EQ(0, ::chmod(dir_.path().c_str(), 0711));
  ASSERT_EQ(0, ::chmod(runtime_dir_.c_str(), 0711));
  ASSERT_EQ(0, ::chmod(SocketDir().c_str(), 0711));
  ASSERT_EQ(0, ::chmod(socket.c_str(), 0777));
  MakeSection(ipc::IpcSectionName(child.pid(), 7), R"({"data":"","id":0})", 20);
  const pid_t client = ::fork();
  if (client == 0) {
    if (::setresgid(kOther, kOther, kOther) != 0 || ::setresuid(kOther, kOther, kOther) != 0) ::_exit(2);
    ::_exit(RawExchange(socket, RequestBytes(child.pid(), 7)) ? 1 : 0);
  }
  int status = -1;
  ::waitpid(client, &status, 0);
  EXPECT_EQ(0, WEXITSTATUS(status)) << "the other user's request was answered";
  EXPECT_TRUE(LogHas("IPC connection of user 65534 refused"));
  ::shm_unlink(ipc::IpcSectionName(child.pid(), 7).c_str());
  // Sending: a receiver socket served by another user is skipped.
  ASSERT_EQ(0, ::chmod(SocketDir().c_str(), 0777));
  int ready[2];
  ASSERT_EQ(0, ::pipe(ready));
  const pid_t impostor = ::fork();
  if (impostor == 0) {
    if (::setresgid(kOther, kOther, kOther) != 0 || ::setresuid(kOther, kOther, kOther) != 0) ::_exit(2);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string path = ipc::IpcPeerSocketPath(SocketDir(), 1);
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 4) != 0)
      ::_exit(3);
    WriteAllFd(ready[1], "x", 1);
    ::pause();
    ::_exit(0);
  }
  char byte;
  ASSERT_EQ(1, ::read(ready[0], &byte, 1));
  ASSERT_EQ(0, ::chmod(SocketDir().c_str(), 0700));
  std::vector<uint32_t> offered;
  IPC::EnumerateRemotes([&](const IPC& peer) {
    offered.push_back(peer.remote_process_id());
    return false;
  });
  ::kill(impostor, SIGKILL);
  ::waitpid(impostor, &status, 0);
  ::close(ready[0]);
  ::close(ready[1]);
  EXPECT_EQ(std::vector<uint32_t>{child.pid()}, offered);
  EXPECT_TRUE(LogHas("/1 is served by user 65534; skipped"));
  EXPECT_TRUE(LogHas("IPC EnumWindows Failed"));
}

}  // namespace
}  // namespace vesk
