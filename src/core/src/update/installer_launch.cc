#include "vesk/core/update/installer_launch.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>

#include "vesk/core/proxy/network_environment.h"

extern char** environ;

namespace vesk::update {
namespace {

// Set by this program for the engine's network process; a program we start
// must see the user's own settings.
constexpr std::string_view kOwnVariables[] = {"GIO_EXTRA_MODULES", "GIO_USE_PROXY_RESOLVER"};
constexpr std::string_view kOwnPrefix = "VESK_";

bool IsOwnVariable(std::string_view entry) {
  const std::string_view name = entry.substr(0, entry.find('='));
  if (name.substr(0, kOwnPrefix.size()) == kOwnPrefix) return true;
  for (const std::string_view own : kOwnVariables)
    if (name == own) return true;
  return false;
}

bool MakeExecutableForOwner(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return false;
  if (!S_ISREG(info.st_mode)) {
    errno = EACCES;
    return false;
  }
  return (info.st_mode & S_IXUSR) || ::chmod(path.c_str(), (info.st_mode & 07777) | S_IXUSR) == 0;
}

// Runs in the forked child, so only async-signal-safe calls: a new session,
// a second fork so the installer is nobody's child, and the exec, whose
// failure goes back through |error_fd|.
[[noreturn]] void RunDetached(const char* path, char* const* argv, char* const* envp, int error_fd) {
  ::setsid();
  const pid_t grandchild = ::fork();
  if (grandchild != 0) ::_exit(grandchild < 0 ? 1 : 0);
  // Nothing of ours (the instance lock, sockets, the log) reaches the
  // installer, whatever flags those descriptors were opened with.
  if (error_fd > 3) ::close_range(3, static_cast<unsigned>(error_fd) - 1, 0);
  ::close_range(static_cast<unsigned>(error_fd) + 1, ~0U, 0);
  // Signal dispositions the engine set (an ignored SIGPIPE, a blocked mask)
  // are not the installer's business.
  struct sigaction default_action {};
  default_action.sa_handler = SIG_DFL;
  for (int signal_number = 1; signal_number < NSIG; ++signal_number)
    ::sigaction(signal_number, &default_action, nullptr);
  sigset_t none;
  ::sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  ::execve(path, argv, envp);
  const int error = errno;
  ssize_t ignored = ::write(error_fd, &error, sizeof(error));
  (void)ignored;
  ::_exit(127);
}

}  // namespace

std::vector<std::string> ChildEnvironment(const char* const* environment) {
  std::vector<std::string> result;
  const std::string_view saved_prefix = kSavedVariablePrefix;
  for (const char* const* entry = environment; entry && *entry; ++entry) {
    const std::string_view text = *entry;
    if (!IsOwnVariable(text))
      result.emplace_back(text);
    else if (text.substr(0, saved_prefix.size()) == saved_prefix && text.find('=') != std::string_view::npos)
      result.emplace_back(text.substr(saved_prefix.size()));  // the user's own value, given back
  }
  return result;
}

bool LaunchInstaller(const std::string& installer, const std::string& program_dir) {
  if (!MakeExecutableForOwner(installer)) return false;
  std::string arg_silent = "/S";
  std::string arg_dir = "/D=" + program_dir;
  std::string arg0 = installer;
  char* argv[] = {arg0.data(), arg_silent.data(), arg_dir.data(), nullptr};
  std::vector<std::string> env = ChildEnvironment(environ);
  std::vector<char*> envp;
  for (std::string& entry : env) envp.push_back(entry.data());
  envp.push_back(nullptr);

  int pipe_fds[2];
  if (::pipe2(pipe_fds, O_CLOEXEC) != 0) return false;
  const pid_t child = ::fork();
  if (child < 0) {
    const int error = errno;
    ::close(pipe_fds[0]);
    ::close(pipe_fds[1]);
    errno = error;
    return false;
  }
  if (child == 0) {
    ::close(pipe_fds[0]);
    RunDetached(installer.c_str(), argv, envp.data(), pipe_fds[1]);
  }
  ::close(pipe_fds[1]);
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  // The pipe closes on a successful exec (close-on-exec) or carries errno.
  int exec_error = 0;
  ssize_t got;
  do {
    got = ::read(pipe_fds[0], &exec_error, sizeof(exec_error));
  } while (got < 0 && errno == EINTR);
  ::close(pipe_fds[0]);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    errno = ECHILD;
    return false;
  }
  if (got == static_cast<ssize_t>(sizeof(exec_error))) {
    errno = exec_error;
    return false;
  }
  return true;
}

}  // namespace vesk::update
