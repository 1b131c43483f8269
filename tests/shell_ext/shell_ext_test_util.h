// Shared pieces of the upload-entry tests: the private environment, waiting
// for the stand-in launcher, and a notification service on the session bus.
#pragma once

#include <gio/gio.h>

#include <functional>
#include <string>
#include <vector>

namespace vesk::shell_ext_test {

// Directories made once per test process, before GLib caches its paths:
// TMPDIR (where request files land) and XDG_CONFIG_HOME (the registry).
struct TestEnvironment {
  std::string root;
  std::string tmp_dir;
  std::string config_dir;
};
const TestEnvironment& Environment();
void SetUpEnvironment();

// A fresh directory below the environment's root.
std::string MakeDirectory(const std::string& name);
std::vector<std::string> ListDirectory(const std::string& dir);
void RemoveRegistry();

// A program directory whose "pelicard" is the stand-in launcher; the
// stand-in writes its command line to argv_file().
class StandInProgram {
 public:
  StandInProgram();
  const std::string& dir() const { return dir_; }
  const std::string& argv_file() const { return argv_file_; }
  // Waits (iterating the main context) until the stand-in ran; its argv.
  std::vector<std::string> WaitForCommandLine() const;

 private:
  std::string dir_;
  std::string argv_file_;
};

// Iterates the default main context until |done| or 30 s passed.
bool WaitUntil(const std::function<bool()>& done);

// Owns org.freedesktop.Notifications on the session bus and records the
// summaries of the notifications it is sent.
class NotificationService {
 public:
  NotificationService();
  ~NotificationService();
  const std::vector<std::string>& summaries() const { return summaries_; }
  const std::vector<std::string>& bodies() const { return bodies_; }

 private:
  static void OnMethodCall(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                           GVariant* parameters, GDBusMethodInvocation* invocation, gpointer self);
  guint owner_id_ = 0;
  guint object_id_ = 0;
  bool acquired_ = false;
  GDBusConnection* bus_ = nullptr;
  std::vector<std::string> summaries_;
  std::vector<std::string> bodies_;
};

}  // namespace vesk::shell_ext_test
