// The instance channel between real processes: a forked child serves its
// receiver socket on its own GMainLoop, the test process sends through real
// sockets and real shared memory, and both write to one log file.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "ipc_test_util.h"
#include "vesk/core/ipc/instance_handoff.h"
#include "vesk/core/ipc/ipc_section.h"
#include "vesk/core/runtime_dir.h"
#include "vesk/core/single_instance_lock.h"

namespace vesk::ipc_test {
namespace {

TEST_F(IpcChannelTest, MessageRoundTripAndListenerRegisteredOnce) {
  ChildReceiver child(ReceiverMode::kCompleteAtOnce);
  ASSERT_TRUE(child.ready());
  bool answered = false;
  EXPECT_EQ(child.pid(), SendToFirstPeer(kUploadMessage, "L3RtcC94Lmpzb24=", &answered));
  EXPECT_TRUE(answered);
  EXPECT_EQ(child.pid(), SendToFirstPeer(kExitMessage, "exit-process", &answered));
  EXPECT_EQ(child.pid(), SendToFirstPeer(kForegroundMessage, "", &answered));
  EXPECT_TRUE(answered);
  // Registered twice, called once per message. Every call came before its
  // answer, so all of them are in the pipe already.
  EXPECT_EQ((std::vector<std::string>{"1:L3RtcC94Lmpzb24=", "2:exit-process", "0:"}), child.DeliveredSoFar());
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
  ChildReceiver child(ReceiverMode::kSecondListenerHolds);
  ASSERT_TRUE(child.ready());
  std::atomic<int> returned{0};
  bool first_answered = false, second_answered = false;
  std::thread first([&] {
    SendToFirstPeer(7, "a", &first_answered);
    ++returned;
  });
  std::thread second([&] {
    SendToFirstPeer(8, "b", &second_answered);
    ++returned;
  });
  // While the first message waits for the holding listener, the loop takes
  // the second: both reach the listeners with neither answered.
  auto lines = child.Deliveries(2);
  std::sort(lines.begin(), lines.end());
  EXPECT_EQ((std::vector<std::string>{"7:a", "8:b"}), lines);
  EXPECT_EQ(0, returned.load()) << "answered before every listener completed";
  child.Release();
  first.join();
  second.join();
  EXPECT_TRUE(first_answered);
  EXPECT_TRUE(second_answered);
  // The release was written before any answer went out.
  EXPECT_EQ(std::vector<std::string>{"released 2"}, child.DeliveredSoFar());
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
  // Of all of these, only the valid one reached the listener (each was
  // answered, so each call came before this).
  EXPECT_EQ(std::vector<std::string>{"3:whole"}, child.DeliveredSoFar());
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
  auto lines = child.DeliveredSoFar();
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
  // A message that goes through marks the moment: nothing came before it.
  SendToFirstPeer(kForegroundMessage, "marker", &answered);
  EXPECT_TRUE(answered);
  EXPECT_EQ(std::vector<std::string>{"0:marker"}, child.DeliveredSoFar());
}

TEST_F(IpcChannelTest, HungReceiverReleasesTheSenderAfterTheBound) {
  ChildReceiver child(ReceiverMode::kSecondListenerHolds);
  ASSERT_TRUE(child.ready());
  bool answered = true;
  SendToFirstPeer(kForegroundMessage, "", &answered, 300ms);
  EXPECT_FALSE(answered);
  // The log names the bound that released it: not the default of 30 s.
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
  ChildReceiver child(ReceiverMode::kSecondListenerHolds);
  ASSERT_TRUE(child.ready());
  std::thread sender([&] {
    bool answered = true;
    SendToFirstPeer(kForegroundMessage, "", &answered, 120s);
    EXPECT_FALSE(answered);
  });
  ASSERT_EQ(1u, child.Deliveries(1).size());
  child.Stop();
  sender.join();
  // Released by the shutdown, not by its own (far longer) bound.
  EXPECT_TRUE(LogHas("closed the connection without an answer"));
  EXPECT_FALSE(LogHas("did not answer within"));
}

TEST_F(IpcChannelTest, SocketDirectoryMustBePrivate) {
  ASSERT_EQ(0, ::mkdir(SocketDir().c_str(), 0755));
  EXPECT_FALSE(IPC::CreateReceiver());
  EXPECT_TRUE(LogHas("is not a private directory of this user"));
  ASSERT_EQ(0, ::rmdir(SocketDir().c_str()));
  ASSERT_EQ(0, ::symlink(dir_.path().c_str(), SocketDir().c_str()));
  EXPECT_FALSE(IPC::CreateReceiver());
  ASSERT_EQ(0, ::unlink(SocketDir().c_str()));
  // Without a runtime directory: in our private directory in the temporary one.
  ::unsetenv("XDG_RUNTIME_DIR");
  EXPECT_EQ(JoinPath(g_get_tmp_dir(), "vesk-" + std::to_string(::geteuid()) + "/vesk_ipc_window"),
            ipc::IpcSocketDirectoryPath());
}

TEST_F(IpcChannelTest, WithoutAUsableRuntimeDirectoryLockAndChannelsShareOnePrivateDirectory) {
  const std::string fallback = JoinPath(g_get_tmp_dir(), "vesk-" + std::to_string(::geteuid()));
  const std::string world_writable = dir_.File("open");
  ASSERT_EQ(0, ::mkdir(world_writable.c_str(), 0700));
  ASSERT_EQ(0, ::chmod(world_writable.c_str(), 0777));
  for (const char* runtime :
       {static_cast<const char*>(nullptr), "/no/such/runtime/dir", "relative", world_writable.c_str()}) {
    SCOPED_TRACE(runtime ? runtime : "(unset)");
    if (runtime)
      ::setenv("XDG_RUNTIME_DIR", runtime, 1);
    else
      ::unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(PrivateRuntimeDirectory(), fallback);
    EXPECT_EQ(SingleInstanceLockPath("x"), fallback + "/x.lock");
    struct stat info {};
    ASSERT_EQ(0, ::lstat(fallback.c_str(), &info));
    EXPECT_TRUE(S_ISDIR(info.st_mode));
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    EXPECT_EQ(info.st_uid, ::geteuid());
  }
  ::setenv("XDG_RUNTIME_DIR", runtime_dir_.c_str(), 1);
  EXPECT_EQ(PrivateRuntimeDirectory(), runtime_dir_);
}

// Holds an instance lock in another process, as a running instance would,
// with |pid_text| written into the file.
class LockHolder {
 public:
  LockHolder(const std::string& path, const std::string& pid_text) {
    int control[2], ready[2];
    if (::pipe2(control, O_CLOEXEC) != 0 || ::pipe2(ready, O_CLOEXEC) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(control[1]);
      ::close(ready[0]);
      const int fd = ::open(path.c_str(), O_RDWR | O_CREAT, 0600);
      if (fd < 0 || ::flock(fd, LOCK_EX) != 0) ::_exit(1);
      WriteAllFd(ready[1], "ready\n", 6);
      char byte;
      (void)::read(control[0], &byte, 1);  // until the test closes the pipe
      ::_exit(0);
    }
    ::close(control[0]);
    ::close(ready[1]);
    control_ = control[1];
    ready_ = ReadLines(ready[0], 1, 10s) == std::vector<std::string>{"ready"};
    ::close(ready[0]);
    WriteStringToFile(path, pid_text);
  }
  ~LockHolder() {
    ::close(control_);
    ::waitpid(pid_, nullptr, 0);
  }
  bool ready() const { return ready_; }
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  int control_ = -1;
  bool ready_ = false;
};

// A socket that listens and never accepts: it takes connections into its
// backlog and never answers.
int ListenForever(const std::string& path) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 4) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

TEST_F(IpcChannelTest, ASecondStartHandsItsMessageToTheLockHolderOnly) {
  ChildReceiver instance(ReceiverMode::kCompleteAtOnce);
  ASSERT_TRUE(instance.ready());
  // A process of the same user listening under a lower pid than the instance.
  const int decoy = ListenForever(SocketDir() + "/1");
  ASSERT_GE(decoy, 0);
  const std::string lock_path = dir_.File("instance.lock");
  LockHolder holder(lock_path, std::to_string(instance.pid()) + "\n");
  ASSERT_TRUE(holder.ready());
  SingleInstanceLock lock;
  ASSERT_EQ(lock.TryAcquire(lock_path), SingleInstanceLock::Result::kHeldElsewhere);
  ASSERT_EQ(lock.HolderPid(), instance.pid());
  EXPECT_TRUE(ipc::HandOffToLockHolder(lock, 2, "exit-process"));
  EXPECT_EQ(instance.Deliveries(1), std::vector<std::string>{"2:exit-process"});
  EXPECT_LT(::accept(decoy, nullptr, nullptr), 0) << "the decoy was never contacted";
  ::close(decoy);
}

TEST_F(IpcChannelTest, AReceiverServedByAnotherProcessThanTheHolderIsRefused) {
  const std::string lock_path = dir_.File("instance.lock");
  LockHolder holder(lock_path, "placeholder");
  ASSERT_TRUE(holder.ready());
  // The holder serves no receiver; this process listens under its pid.
  ASSERT_EQ(0, ::mkdir(SocketDir().c_str(), 0700));
  const int impostor = ListenForever(SocketDir() + "/" + std::to_string(holder.pid()));
  ASSERT_GE(impostor, 0);
  ASSERT_TRUE(WriteStringToFile(lock_path, std::to_string(holder.pid()) + "\n"));
  SingleInstanceLock lock;
  ASSERT_EQ(lock.TryAcquire(lock_path), SingleInstanceLock::Result::kHeldElsewhere);
  EXPECT_FALSE(ipc::HandOffToLockHolder(lock, 0, "", 300ms));
  EXPECT_TRUE(LogHas("is served by process " + std::to_string(::getpid())));
  EXPECT_TRUE(LogHas("Second instance: the running instance (process " + std::to_string(holder.pid()) +
                     ") did not take message 0"));
  ::close(impostor);
}

TEST_F(IpcChannelTest, SectionsOfEndedReceiversAreRemovedAtTheNextStart) {
  const pid_t ended = ::fork();
  if (ended == 0) ::_exit(0);
  ASSERT_EQ(ended, ::waitpid(ended, nullptr, 0));
  const std::string leftover = ipc::IpcSectionName(static_cast<uint32_t>(ended), 7);
  const std::string live = ipc::IpcSectionName(static_cast<uint32_t>(::getpid()), 8);
  MakeSection(leftover, "{}", 3);
  MakeSection(live, "{}", 3);
  EXPECT_GE(ipc::RemoveLeftoverIpcSections(), 1);
  EXPECT_FALSE(SectionExists(leftover));
  EXPECT_TRUE(SectionExists(live)) << "a live receiver's section may still be read";
  ::shm_unlink(live.c_str());
}

}  // namespace
}  // namespace vesk::ipc_test
