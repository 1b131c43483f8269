// Smaller core pieces: the single-instance lock, the task thread, the
// registry store and cross-origin entries.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <set>
#include <thread>

#include "test_util.h"
#include "vesk/core/cross_origin_whitelist.h"
#include "vesk/core/external_opener.h"
#include "vesk/core/file_util.h"
#include "vesk/core/registry.h"
#include "vesk/core/single_instance_lock.h"
#include "vesk/core/task_thread.h"

namespace vesk {
namespace {

TEST(SingleInstanceLockTest, OnlyOneHolderAndReleasedOnClose) {
  testing::TempDir dir;
  const std::string path = dir.File("instance.lock");
  SingleInstanceLock first, second;
  EXPECT_EQ(first.TryAcquire(path), SingleInstanceLock::Result::kAcquired);
  EXPECT_EQ(second.TryAcquire(path), SingleInstanceLock::Result::kHeldElsewhere);
  first.Close();
  EXPECT_EQ(second.TryAcquire(path), SingleInstanceLock::Result::kAcquired);
  EXPECT_EQ(first.TryAcquire(dir.File("no/such/dir/x.lock")), SingleInstanceLock::Result::kError);
}

TEST(TaskThreadTest, RunsInDueOrderAndDrainWaitsForEarlierTasks) {
  TaskThread thread("test");
  thread.Start();
  std::vector<int> order;
  std::mutex mutex;
  auto record = [&](int value) {
    return [&, value] {
      std::lock_guard<std::mutex> lock(mutex);
      order.push_back(value);
    };
  };
  auto recorded = [&] {
    std::lock_guard<std::mutex> lock(mutex);
    return order;
  };
  // Seconds, not milliseconds: Drain must return before the delayed task is
  // due even when this thread stalls on a loaded machine.
  thread.PostDelayedTask(record(3), std::chrono::seconds(3));
  thread.PostTask(record(1));
  thread.PostTask([] { throw std::runtime_error("a task that throws is logged, not fatal"); });
  thread.PostTask(record(2));
  thread.Drain();
  EXPECT_EQ(recorded(), (std::vector<int>{1, 2}));
  EXPECT_TRUE(testing::WaitUntil([&] { return recorded().size() == 3; }));
  EXPECT_EQ(recorded(), (std::vector<int>{1, 2, 3}));
  // Draining from the thread itself would wait forever; it returns instead.
  std::atomic<bool> returned{false};
  thread.PostTask([&] {
    thread.Drain();
    returned = true;
  });
  thread.Drain();
  EXPECT_TRUE(returned);
  thread.Stop();
  EXPECT_FALSE(thread.PostTask([] {}));
}

TEST(RegistryTest, RoundTripTypesAndScopes) {
  testing::TempDir dir;
  RegistryStore user(RegistryStore::Scope::kCurrentUser, dir.File("cfg/registry.ini"));
  const char key[] = "Software\\Kestrow\\NewPelicard\\ContextMenu";
  EXPECT_FALSE(user.ReadString(key, "Disabled"));
  EXPECT_TRUE(user.WriteDword(key, "Disabled", 1));
  EXPECT_TRUE(user.WriteString("Software\\Microsoft\\Windows\\CurrentVersion\\Run", "pelicard",
                               "\"/opt/p/pelicard\" --vesk-startup=tray\nsecond line"));
  RegistryStore reread(RegistryStore::Scope::kCurrentUser, dir.File("cfg/registry.ini"));
  EXPECT_EQ(reread.ReadDword(key, "Disabled"), 1u);
  EXPECT_FALSE(reread.ReadString(key, "Disabled"));  // types are kept apart
  EXPECT_EQ(reread.ReadString("Software\\Microsoft\\Windows\\CurrentVersion\\Run", "pelicard"),
            "\"/opt/p/pelicard\" --vesk-startup=tray\nsecond line");
  EXPECT_TRUE(reread.DeleteValue(key, "Disabled"));
  EXPECT_FALSE(reread.ReadDword(key, "Disabled"));
  EXPECT_FALSE(reread.WriteString("bad]key", "v", "x"));

  ASSERT_TRUE(WriteStringToFile(dir.File("machine.ini"),
                                "[SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\AeDebug]\n"
                                "Debugger=sz:gdb -p %ld\n"));
  RegistryStore machine(RegistryStore::Scope::kMachine, dir.File("machine.ini"));
  EXPECT_EQ(machine.ReadString("SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\AeDebug", "Debugger"),
            "gdb -p %ld");
  EXPECT_FALSE(machine.WriteString("k", "v", "x"));  // machine-wide values are read-only
}

TEST(RegistryTest, DefaultValueIsTheEmptyNameAndStoredAsAt) {
  testing::TempDir dir;
  RegistryStore user(RegistryStore::Scope::kCurrentUser, dir.File("registry.ini"));
  const char key[] = "Software\\Kestrow\\NewPelicard\\ContextMenuParam";
  EXPECT_FALSE(user.ReadString(key, ""));
  EXPECT_TRUE(user.WriteString(key, "", "--a b"));
  EXPECT_EQ(user.ReadString(key, ""), "--a b");
  EXPECT_FALSE(user.ReadString(key, "other"));
  std::string contents;
  ASSERT_TRUE(ReadFileToString(dir.File("registry.ini"), &contents, 4096));
  EXPECT_NE(contents.find("@=sz:--a b"), std::string::npos) << contents;
  EXPECT_TRUE(user.DeleteValue(key, ""));
  EXPECT_FALSE(user.ReadString(key, ""));
}

TEST(CrossOriginTest, EveryTargetForEverySourceAndBadTargetsSkipped) {
  const std::vector<std::string> sources{"http://a.kestrow.example", "http://b.kestrow.example",
                                         "vesk://pelicard", "vesk://vesk"};
  std::vector<std::string> targets;
  for (const char* scheme : {"http://", "https://"})
    for (int i = 0; i < 6; ++i) targets.push_back(std::string(scheme) + "m" + std::to_string(i) + ".example");
  const auto entries = BuildCrossOriginEntries(sources, targets);
  ASSERT_EQ(entries.size(), 48u);
  EXPECT_EQ(entries[0].source_origin, "http://a.kestrow.example");
  EXPECT_EQ(entries[0].target_protocol, "http");
  EXPECT_EQ(entries[0].target_domain, "m0.example");
  EXPECT_EQ(entries[47].target_protocol, "https");
  EXPECT_EQ(AllowListPatterns(entries[0]),
            (std::vector<std::string>{"http://m0.example/*", "http://*.m0.example/*"}));
  EXPECT_EQ(BuildCrossOriginEntries(sources, {"not a url", "https://ok.example"}).size(), 4u);
  EXPECT_TRUE(UrlHasOrigin("vesk://vesk/res/app_init.html?x=1", "vesk://vesk"));
  EXPECT_FALSE(UrlHasOrigin("vesk://pelicard/res/a.html", "vesk://vesk"));
  EXPECT_FALSE(UrlHasOrigin("http://a.kestrow.example:8080/", "http://a.kestrow.example"));
}

TEST(CrossOriginWhitelistTest, TargetsAreWithheldFromPagesThatAreNotTheirSources) {
  const auto entries = BuildCrossOriginEntries({"vesk://vesk"}, {"https://api.example"});
  const std::string app = "vesk://vesk/res/main.html", other = "http://127.0.0.2:8000/page.html";
  EXPECT_FALSE(IsTargetOfOtherSources(entries, app, "https://api.example/data.json"));
  EXPECT_FALSE(IsTargetOfOtherSources(entries, app, "https://eu.api.example:8443/x"));
  EXPECT_TRUE(IsTargetOfOtherSources(entries, other, "https://api.example/data.json"));
  EXPECT_TRUE(IsTargetOfOtherSources(entries, other, "https://eu.api.example/x"));
  // Not targets: another scheme, a look-alike host, a host the domain ends.
  EXPECT_FALSE(IsTargetOfOtherSources(entries, other, "http://api.example/"));
  EXPECT_FALSE(IsTargetOfOtherSources(entries, other, "https://evilapi.example/"));
  EXPECT_FALSE(IsTargetOfOtherSources(entries, other, "https://example/"));
  // The target's own pages keep their origin; bad URLs are no targets.
  EXPECT_FALSE(IsTargetOfOtherSources(entries, "https://api.example/inbox", "https://api.example/data.json"));
  EXPECT_FALSE(IsTargetOfOtherSources(entries, other, "not a url"));
}

TEST(ExternalOpenerTest, AFloodOpensAFewOnOneWorkerAndDropsTheRest) {
  testing::LogCapture log;
  std::mutex mutex;
  std::vector<std::string> opened;
  std::set<std::thread::id> threads;
  ExternalOpener opener([&](const std::string& target) {
    std::lock_guard<std::mutex> lock(mutex);
    opened.push_back(target);
    threads.insert(std::this_thread::get_id());
  });
  int accepted = 0;
  for (int i = 0; i < 5000; ++i)
    accepted += opener.Submit("https://example.test/" + std::to_string(i)) ? 1 : 0;
  opener.Drain();
  EXPECT_GE(accepted, 5);
  // However slow this machine, 5000 calls cannot span many seconds of 5.
  EXPECT_LE(accepted, 50);
  std::lock_guard<std::mutex> lock(mutex);
  EXPECT_EQ(static_cast<int>(opened.size()), accepted);
  EXPECT_EQ(opened.front(), "https://example.test/0");
  ASSERT_EQ(threads.size(), 1u) << "one worker, not a thread per call";
  EXPECT_NE(*threads.begin(), std::this_thread::get_id());
  EXPECT_NE(log.Text().find("Too many requests to open external targets; dropped"), std::string::npos);
}

TEST(ExternalOpenerTest, ASlowHandlerBoundsWhatWaits) {
  std::atomic<bool> release{false};
  std::atomic<int> opened{0};
  ExternalOpener opener(
      [&](const std::string&) {
        while (!release.load()) std::this_thread::yield();
        ++opened;
      },
      /*per_second=*/1000, /*max_pending=*/3);
  int accepted = 0;
  for (int i = 0; i < 100; ++i) accepted += opener.Submit("x") ? 1 : 0;
  EXPECT_EQ(accepted, 3);
  release = true;
  opener.Drain();
  EXPECT_EQ(opened.load(), 3);
}

}  // namespace
}  // namespace vesk
