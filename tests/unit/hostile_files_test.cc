// Files that another process of the user controls: it may shrink or rewrite
// them while we read, or put a FIFO where a file is expected. None of that may
// kill the process with a signal or stall it; reads end with a clean failure
// or with content that was really there.
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <random>
#include <thread>

#include "package_test_util.h"
#include "vesk/core/base64.h"
#include "vesk/core/command_line.h"
#include "vesk/core/ipc/ipc_section.h"
#include "vesk/core/ipc/ipc_wire.h"
#include "vesk/core/package/url_content.h"
#include "vesk/core/package/verified_package_cache.h"
#include "vesk/core/upload_request.h"

namespace vesk {
namespace {

using testing::Archive;
using testing::Bytes;
using testing::SignedPackage;
using testing::TempDir;
using testing::WriteBytes;

std::vector<uint8_t> RandomBytes(size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> bytes(size);
  for (auto& byte : bytes) byte = static_cast<uint8_t>(random());
  return bytes;
}

// Runs |body| in a child process and reports how it ended: "exit <code>",
// "signal <n>", or "still running" when it did not end within a generous
// bound (then it is killed). A hang or a fault thus fails the test instead of
// stopping the whole run.
std::string RunInChild(const std::function<int()>& body) {
  const pid_t child = fork();
  if (child == 0) _exit(body());
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  int status = 0;
  while (waitpid(child, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(child, SIGKILL);
      waitpid(child, &status, 0);
      return "still running";
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (WIFSIGNALED(status)) return "signal " + std::to_string(WTERMSIG(status));
  return "exit " + std::to_string(WEXITSTATUS(status));
}

// A child that keeps changing something until it is stopped.
class Vandal {
 public:
  explicit Vandal(const std::function<void(int)>& step) {
    pid_ = fork();
    if (pid_ == 0) {
      for (int i = 0;; ++i) step(i);
    }
  }
  ~Vandal() {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }

 private:
  pid_t pid_;
};

TEST(HostileSectionTest, ASectionShrunkWhileItIsReadGivesTextOrAFailure) {
  const std::string name = ipc::IpcSectionName(static_cast<uint32_t>(::getpid()), 4242);
  ::shm_unlink(name.c_str());
  const int fd = ::shm_open(name.c_str(), O_CREAT | O_EXCL | O_RDWR, 0600);
  ASSERT_GE(fd, 0);
  const std::string text(60000, 'm');
  {
    Vandal shrinker([&](int i) {
      if (i % 2 == 0) {
        if (::ftruncate(fd, 65536) == 0) (void)::pwrite(fd, text.data(), text.size(), 0);
      } else {
        (void)::ftruncate(fd, 0);
      }
    });
    const std::string outcome = RunInChild([&] {
      for (int i = 0; i < 3000; ++i) {
        const std::optional<std::string> read = ipc::ReadIpcSection(name);
        if (read && read->find_first_not_of('m') != std::string::npos) return 2;
      }
      return 0;
    });
    EXPECT_EQ(outcome, "exit 0");
  }
  ::close(fd);
  ::shm_unlink(name.c_str());
}

TEST(HostileSectionTest, AFifoInPlaceOfASectionIsRefusedAtOnce) {
  const std::string name = ipc::IpcSectionName(static_cast<uint32_t>(::getpid()), 4343);
  const std::string path = "/dev/shm" + name;
  ::unlink(path.c_str());
  ASSERT_EQ(0, ::mkfifo(path.c_str(), 0600));
  testing::LogCapture log;
  EXPECT_EQ(RunInChild([&] { return ipc::ReadIpcSection(name) ? 1 : 0; }), "exit 0");
  ::unlink(path.c_str());
}

// Verifications are remembered only for files whose time stamps are clearly
// in the past. No event tells that time has passed, and a change time cannot
// be set back: a pause longer than the settle time (a slower machine only
// makes it longer).
void SettleTimeStamps() { std::this_thread::sleep_for(std::chrono::milliseconds(150)); }

class HostilePackageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    VESK_REQUIRE_SIGNING_KEY();
    ForgetVerifiedPackages();
    path_ = dir_.File("main.qbun");
    for (unsigned version = 0; version < 2; ++version) {
      pages_[version] = Bytes("<p>version " + std::to_string(version) + "</p>");
      packages_[version] =
          SignedPackage(Archive({{"index.html", pages_[version], true},
                                 {"img/big.bin", RandomBytes((version + 2) << 20, version), false}}));
    }
  }

  TempDir dir_;
  std::string path_;
  std::vector<uint8_t> pages_[2];
  std::vector<uint8_t> packages_[2];
};

TEST_F(HostilePackageTest, APackageRewrittenInPlaceWhileItIsReadGivesOldNewOrNothing) {
  WriteBytes(path_, packages_[0]);
  // Remembered as verified before the rewriting starts.
  SettleTimeStamps();
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(ReadFileFromPackage(path_, "index.html", &bytes));
  // As "cp new.qbun main.qbun" does: truncate, then write in pieces.
  Vandal rewriter([&](int i) {
    const std::vector<uint8_t>& package = packages_[i % 2];
    const int fd = ::open(path_.c_str(), O_WRONLY | O_TRUNC);
    for (size_t done = 0; fd >= 0 && done < package.size(); done += 65536)
      (void)::write(fd, package.data() + done, std::min<size_t>(65536, package.size() - done));
    if (fd >= 0) ::close(fd);
  });
  // Most reads fail (the file is rarely whole); none may fault or serve
  // bytes that were not in one of the packages.
  const std::string outcome = RunInChild([&] {
    for (int i = 0; i < 400; ++i) {
      std::vector<uint8_t> page;
      if (ReadFileFromPackage(path_, "index.html", &page) && page != pages_[0] && page != pages_[1]) return 2;
    }
    return 0;
  });
  EXPECT_EQ(outcome, "exit 0") << "exit 2: content that was never in a package";
}

TEST_F(HostilePackageTest, AFailedPackageIsNotHashedAgainUntilItChanges) {
  std::vector<uint8_t> damaged = packages_[0];
  damaged[damaged.size() / 2] ^= 1;
  WriteBytes(path_, damaged);
  SettleTimeStamps();
  testing::LogCapture log;
  std::vector<uint8_t> bytes;
  for (int i = 0; i < 5; ++i) EXPECT_FALSE(ReadFileFromPackage(path_, "index.html", &bytes));
  const std::string text = log.Text();
  EXPECT_NE(text.find("CryptVerifySignature Failed"), std::string::npos) << text;
  EXPECT_EQ(text.find("CryptVerifySignature Failed"), text.rfind("CryptVerifySignature Failed"))
      << "checked once, then remembered";
  WriteBytes(path_ + ".new", packages_[1]);
  ASSERT_EQ(0, ::rename((path_ + ".new").c_str(), path_.c_str()));
  ASSERT_TRUE(ReadFileFromPackage(path_, "index.html", &bytes)) << "a new file is checked again";
  EXPECT_EQ(bytes, pages_[1]);
}

TEST_F(HostilePackageTest, RememberedPackagesStayWithinTheMemoryBound) {
  WriteBytes(path_, packages_[1]);
  SettleTimeStamps();
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(ReadFileFromPackage(path_, "index.html", &bytes));
  EXPECT_EQ(VerifiedPackageCache::Global().held_bytes(), packages_[1].size());
  ForgetVerifiedPackages();
  EXPECT_EQ(VerifiedPackageCache::Global().held_bytes(), 0u);
}

TEST(HostileFifoTest, AFifoAsUploadRequestOrOverrideFileIsRefusedAtOnce) {
  TempDir dir;
  const std::string fifo = dir.File("request.json");
  ASSERT_EQ(0, ::mkfifo(fifo.c_str(), 0600));
  EXPECT_EQ(RunInChild([&] {
              std::vector<std::string> paths;
              return LoadUploadRequest(Base64Encode(fifo), &paths) ? 1 : 0;
            }),
            "exit 0");
  const std::string site = dir.File("site");
  ASSERT_EQ(0, ::mkdir(site.c_str(), 0755));
  ASSERT_EQ(0, ::mkfifo((site + "/index.html").c_str(), 0600));
  EXPECT_EQ(
      RunInChild([&] {
        std::vector<uint8_t> bytes;
        const CommandLine command_line = CommandLine::FromArgv({"pelicard", "--main-package-dir=" + site});
        return LoadUrlContent("vesk://main/index.html", dir.path(), command_line, &bytes) ? 1 : 0;
      }),
      "exit 0");
  EXPECT_EQ(RunInChild([&] { return WriteStringToFile(dir.File("request.json"), "x") ? 1 : 0; }), "exit 0")
      << "nobody reads the FIFO: the write fails instead of waiting";
}

}  // namespace
}  // namespace vesk
