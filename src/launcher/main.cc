// pelicard: names the application and its start page, installs the
// cross-origin whitelist and hands the thread to the framework. The exit code
// is always 0.
#include <string>
#include <vector>

#include "deployment.h"
#include "vesk/core/file_util.h"
#include "vesk/framework_api.h"

int main() {
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
  params.app_name_count = static_cast<int32_t>(std::size(pelicard::deployment::kApplicationNames));

  if (!VeskInitialize(&params)) return 0;

  std::vector<std::string> targets;
  for (const char* scheme : {"http://", "https://"})
    for (const char* host : pelicard::deployment::kWebMailHosts)
      targets.push_back(std::string(scheme) + host);
  std::vector<const char*> target_texts;
  for (const std::string& target : targets) target_texts.push_back(target.c_str());

  VeskInstallCrossOriginWhiteList(pelicard::deployment::kSourceOrigins,
                                  static_cast<int>(std::size(pelicard::deployment::kSourceOrigins)),
                                  target_texts.data(), static_cast<int>(target_texts.size()));
  VeskRun();
  return 0;
}
