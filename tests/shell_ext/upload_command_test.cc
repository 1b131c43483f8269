// pelicard-upload, run as the per-user entries run it, with the stand-in
// launcher beside it; and the shared pieces both front ends use.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "shell_ext_test_util.h"
#include "upload_entry.h"
#include "vesk/core/base64.h"
#include "vesk/core/file_util.h"
#include "vesk/core/registry.h"

namespace vesk::shell_ext_test {
namespace {

// Copies the real command into |program_dir| (a copy: it finds its program
// directory through its own resolved path) and runs it there.
int RunUploadCommand(const std::string& program_dir, const std::string& cwd,
                     const std::vector<std::string>& args) {
  const std::string command = JoinPath(program_dir, "pelicard-upload");
  std::filesystem::copy_file(VESK_TEST_UPLOAD_COMMAND, command,
                             std::filesystem::copy_options::overwrite_existing);
  std::vector<char*> argv{const_cast<char*>(command.c_str())};
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  int status = -1;
  g_autoptr(GError) error = nullptr;
  // The command's own wait for the notification service needs this
  // process's main context to answer, so it runs asynchronously.
  GPid pid = 0;
  EXPECT_TRUE(g_spawn_async(cwd.c_str(), argv.data(), nullptr, G_SPAWN_DO_NOT_REAP_CHILD, nullptr, nullptr,
                            &pid, &error));
  bool ended = false;
  g_child_watch_add(
      pid,
      [](GPid, gint wait_status, gpointer data) {
        auto* result = static_cast<std::pair<int*, bool*>*>(data);
        *result->first = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1;
        *result->second = true;
        delete result;
      },
      new std::pair<int*, bool*>(&status, &ended));
  EXPECT_TRUE(WaitUntil([&] { return ended; }));
  return status;
}

std::vector<std::string> RequestPaths(const std::string& switch_text) {
  std::vector<std::string> paths;
  const auto request = Base64Decode(switch_text.substr(switch_text.find('=') + 1));
  std::string contents;
  if (request && ReadFileToString(*request, &contents, 1 << 20)) {
    // The format itself is checked elsewhere; here the paths matter.
    size_t start = contents.find('[');
    while ((start = contents.find('"', start + 1)) != std::string::npos) {
      const size_t end = contents.find('"', start + 1);
      paths.push_back(contents.substr(start + 1, end - start - 1));
      start = end;
    }
  }
  return paths;
}

TEST(UploadCommandTest, NamesRelativeToTheFolderBecomeAbsoluteInOrder) {
  RemoveRegistry();
  StandInProgram program;
  const std::string folder = MakeDirectory("folder");
  EXPECT_EQ(RunUploadCommand(program.dir(), folder, {"--", "c.txt", "sub/../-a.txt", "/x/b.txt"}), 0);
  const auto argv = program.WaitForCommandLine();
  ASSERT_EQ(argv.size(), 2u);
  EXPECT_EQ(argv[0], JoinPath(program.dir(), "pelicard"));
  EXPECT_EQ(RequestPaths(argv[1]),
            (std::vector<std::string>{JoinPath(folder, "c.txt"), JoinPath(folder, "-a.txt"), "/x/b.txt"}));
}

TEST(UploadCommandTest, UsageAndFailuresHaveTheirExitCodes) {
  RemoveRegistry();
  NotificationService notifications;
  const std::string no_launcher = MakeDirectory("no-launcher");
  EXPECT_EQ(RunUploadCommand(no_launcher, no_launcher, {}), 2);
  EXPECT_EQ(RunUploadCommand(no_launcher, no_launcher, {"--"}), 2);
  EXPECT_EQ(RunUploadCommand(no_launcher, no_launcher, {"--help"}), 2);
  EXPECT_EQ(notifications.summaries().size(), 0u);
  const size_t files_before = ListDirectory(Environment().tmp_dir).size();
  EXPECT_EQ(RunUploadCommand(no_launcher, no_launcher, {std::string("bad\xff")}), 1);
  EXPECT_EQ(ListDirectory(Environment().tmp_dir).size(), files_before) << "no request is left";
  EXPECT_EQ(notifications.summaries().size(), 0u) << "a refused request is not shown";

  EXPECT_EQ(RunUploadCommand(no_launcher, no_launcher, {"a.txt"}), 3);
  ASSERT_EQ(notifications.summaries().size(), 1u) << "the command waits for the notification";
  EXPECT_EQ(notifications.summaries()[0], "Error");
  EXPECT_EQ(notifications.bodies()[0], "");
  EXPECT_EQ(ListDirectory(Environment().tmp_dir).size(), files_before + 1) << "the request stays";
}

TEST(ContextMenuParamTest, WordsOfAtMost255CharactersOfAString) {
  RemoveRegistry();
  RegistryStore registry(RegistryStore::Scope::kCurrentUser);
  const std::string key = shell_ext::ContextMenuParamKey();
  EXPECT_TRUE(shell_ext::ContextMenuParamWords().empty());
  ASSERT_TRUE(registry.WriteString(key, "", " --a\tb  c "));
  EXPECT_EQ(shell_ext::ContextMenuParamWords(), (std::vector<std::string>{"--a", "b", "c"}));
  // 255 characters (not bytes) is the limit.
  std::string longest;
  for (int i = 0; i < 127; ++i) longest += "字 ";
  ASSERT_TRUE(registry.WriteString(key, "", longest + "x"));
  EXPECT_EQ(shell_ext::ContextMenuParamWords().size(), 128u);
  ASSERT_TRUE(registry.WriteString(key, "", longest + "xy"));
  EXPECT_TRUE(shell_ext::ContextMenuParamWords().empty());
  ASSERT_TRUE(registry.WriteDword(key, "", 1));
  EXPECT_TRUE(shell_ext::ContextMenuParamWords().empty());
}

}  // namespace
}  // namespace vesk::shell_ext_test
