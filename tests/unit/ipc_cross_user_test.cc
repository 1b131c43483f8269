// The instance channel between two users: a peer of another user is refused
// both ways. The test takes the second user with setresuid, so it runs as
// root: as root itself, or as the root of a user namespace that maps more
// users (tests/unit/with_two_users.sh arranges either).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "ipc_test_util.h"

namespace vesk::ipc_test {
namespace {

constexpr uid_t kOther = 65534;

TEST_F(IpcChannelTest, PeersOfAnotherUserAreRefusedBothWays) {
  // Not a skip: a refusal that was never tried must not pass as one.
  ASSERT_EQ(0u, ::geteuid()) << "cannot act as a second user; run this test through "
                                "tests/unit/with_two_users.sh";
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
}  // namespace vesk::ipc_test
