#include "package_check.h"

#include <gtk/gtk.h>

#include "io_thread.h"
#include "vesk/app_identity.h"
#include "vesk/core/command_line.h"
#include "vesk/core/file_util.h"
#include "vesk/core/logging.h"
#include "vesk/core/package/package_diagnosis.h"
#include "vesk/core/package/package_file.h"

namespace vesk {
namespace {

constexpr char kPackageDirSuffix[] = "-package-dir";
constexpr const char* kMessageCaption = identity::kStartupBoxCaption;
constexpr const char* kMessagePrefix = identity::kStartupBoxTextPrefix;
constexpr const char* kMessageSuffix = identity::kStartupBoxTextSuffix;

// Reading and hashing the package is IO work: it runs on the IO worker (the
// main loop does not run yet, so waiting here blocks nothing). The result is
// remembered, so the first page does not verify the package again.
bool VerifyOnIoThread(const std::string& path) {
  bool verified = false;
  if (IoThread().PostTask([&verified, path] { verified = VerifyPackage(path); })) {
    WaitForIoThread();
    return verified;
  }
  return VerifyPackage(path);
}

void ShowMissingPackageBox(const std::string& path) {
  const std::string text = std::string(kMessagePrefix) + path + kMessageSuffix;
  VESK_LOG(WARNING) << "Message box " << kMessageCaption << ": " << text;
  GtkWidget* dialog = gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, GTK_MESSAGE_OTHER, GTK_BUTTONS_OK,
                                             "%s", text.c_str());
  gtk_window_set_title(GTK_WINDOW(dialog), kMessageCaption);
  gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER);
  gtk_dialog_run(GTK_DIALOG(dialog));
  gtk_widget_destroy(dialog);
  // Let the window system see the box go before start-up ends.
  while (gtk_events_pending()) gtk_main_iteration();
}

// The box says only "missing or damaged"; the log says which and why.
void LogWhyPackageFailed(const std::string& path) {
  const PackageDiagnosis diagnosis = DiagnosePackage(path, nullptr);
  VESK_LOG(WARNING) << "Package check failed: " << path << ": "
                    << (diagnosis.verified ? "it changed while it was checked" : diagnosis.reason);
}

// A page directory that does not exist serves nothing but 404s; say so at
// start rather than leave the developer to guess from an empty window.
void LogMissingPageDirectory(const std::string& name, const std::string& dir) {
  if (!IsDirectory(dir))
    VESK_LOG(WARNING) << "The directory of --" << name << kPackageDirSuffix << " does not exist: " << dir
                      << "; its pages will not load";
}

}  // namespace

bool CheckApplicationPackages(const std::vector<std::string>& names) {
  const CommandLine& command_line = CommandLine::ForCurrentProcess();
  const std::string package_dir = JoinPath(ProgramDirectory(), "package");
  for (const std::string& name : names) {
    if (command_line.HasSwitch(name + kPackageDirSuffix)) {
      LogMissingPageDirectory(name, command_line.GetSwitchValue(name + kPackageDirSuffix));
      continue;
    }
    const std::string path = JoinPath(package_dir, name + ".qbun");
    if (PathExists(path) && VerifyOnIoThread(path)) continue;
    LogWhyPackageFailed(path);
    ShowMissingPackageBox(path);
    return false;
  }
  return true;
}

}  // namespace vesk
