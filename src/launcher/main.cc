// The launcher: names the application and its start page, installs the
// cross-origin whitelist and hands the thread to the framework. The exit code
// is always 0.
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "deployment.h"
#include "vesk/app_identity.h"
#include "vesk/core/file_util.h"
#include "vesk/framework_api.h"

namespace {

// What --help prints after the usage line.
constexpr char kSwitchHelp[] =
    "Development:\n"
    "  --enable-dev-tools          F12 opens the inspector; F5 and Ctrl+R reload the page;\n"
    "                              a change under a --<host>-package-dir directory reloads it\n"
    "  --<host>-package-dir=DIR    serve host <host> from DIR instead of package/<host>.qbun\n"
    "  --force-show-window         show the main window without waiting for the page\n"
    "  --enable-invoke-trace       log every call into a page object\n"
    "  --v=N, --vmodule=PATTERNS   verbose logging\n"
    "Start-up:\n"
    "  --vesk-startup=VALUE        passed to the start page (exit-process: end the running instance)\n"
    "  --enable-memory-trace, --memory-trace-elapse=MS, --erase-shadow-frame,\n"
    "  --force-aero-style=on|off, --show-update-package-detail\n"
    "  --help, --version           this text, the version\n";

// --help and --version are answered here, before the framework takes the
// command line; anything else is the framework's.
bool AnswerInformationSwitch(int argc, char** argv) {
  using vesk::identity::kAppName;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--version") == 0) {
      std::cout << kAppName << " " << VESK_PROGRAM_VERSION << "\n";
      return true;
    }
    if (std::strcmp(argv[i], "--help") == 0) {
      std::string hosts;
      for (size_t h = 0; h < pelicard::deployment::kApplicationNameCount; ++h)
        hosts += (h ? ", " : "") + std::string(pelicard::deployment::kApplicationNames[h]);
      std::cout << "Usage: " << kAppName << " [switches]\n"
                << "Starts " << vesk::identity::kDisplayName
                << ", or hands the request to its running instance.\n\n"
                << kSwitchHelp << "\nPackages: " << hosts
                << " (package/<host>.qbun beside the program). Log: " << kAppName
                << ".log beside the program.\n";
      return true;
    }
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (AnswerInformationSwitch(argc, argv)) return 0;
  // Paths come from the executable's location, never the working directory.
  const std::string own_directory = vesk::ProgramDirectory();

  VeskInitParams params{};
  params.size = sizeof(VeskInitParams);
  params.user_agent = nullptr;
  params.cache_path = nullptr;
  params.local_storage_path = own_directory.c_str();
  params.log_dir = own_directory.c_str();
  params.start_url = pelicard::deployment::kStartUrl;
  params.app_names = pelicard::deployment::kApplicationNames;
  params.app_name_count = static_cast<int32_t>(pelicard::deployment::kApplicationNameCount);

  if (!VeskInitialize(&params)) return 0;

  std::vector<std::string> targets;
  for (const char* scheme : {"http://", "https://"})
    for (size_t h = 0; h < pelicard::deployment::kWebMailHostCount; ++h)
      targets.push_back(std::string(scheme) + pelicard::deployment::kWebMailHosts[h]);
  std::vector<const char*> target_texts;
  for (const std::string& target : targets) target_texts.push_back(target.c_str());

  VeskInstallCrossOriginWhiteList(pelicard::deployment::kSourceOrigins,
                                  static_cast<int>(pelicard::deployment::kSourceOriginCount),
                                  target_texts.data(), static_cast<int>(target_texts.size()));
  VeskRun();
  return 0;
}
