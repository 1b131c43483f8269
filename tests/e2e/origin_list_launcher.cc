// The launcher's own sequence, plus a call of VeskInstallPluginOriginWhiteList
// with the comma-separated origins of $VESK_TEST_PLUGIN_ORIGINS (the shipped
// launcher never calls it); the cross-origin targets are those of
// $VESK_TEST_CROSS_ORIGIN_TARGETS when it is set. test_plugin_origins.py puts it in place of
// pelicard in its copy of the program directory.
#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "deployment.h"
#include "vesk/core/file_util.h"
#include "vesk/framework_api.h"

namespace {

std::vector<std::string> Split(const std::string& text) {
  std::vector<std::string> parts;
  size_t begin = 0;
  while (begin <= text.size()) {
    const size_t end = std::min(text.find(',', begin), text.size());
    if (end > begin) parts.push_back(text.substr(begin, end - begin));
    begin = end + 1;
  }
  return parts;
}

}  // namespace

int main() {
  const std::string own_directory = vesk::ProgramDirectory();
  VeskInitParams params{};
  params.size = sizeof(VeskInitParams);
  params.local_storage_path = own_directory.c_str();
  params.log_dir = own_directory.c_str();
  params.start_url = pelicard::deployment::kStartUrl;
  params.app_names = pelicard::deployment::kApplicationNames;
  params.app_name_count = static_cast<int32_t>(std::size(pelicard::deployment::kApplicationNames));
  if (!VeskInitialize(&params)) return 0;

  const char* wanted_targets = std::getenv("VESK_TEST_CROSS_ORIGIN_TARGETS");
  std::vector<std::string> target_texts =
      Split(wanted_targets ? wanted_targets : "https://mail.kestrow.example");
  std::vector<const char*> targets;
  for (const std::string& target : target_texts) targets.push_back(target.c_str());
  VeskInstallCrossOriginWhiteList(pelicard::deployment::kSourceOrigins,
                                  static_cast<int>(std::size(pelicard::deployment::kSourceOrigins)),
                                  targets.data(), static_cast<int>(targets.size()));
  const char* wanted = std::getenv("VESK_TEST_PLUGIN_ORIGINS");
  if (wanted) {
    std::vector<std::string> origins = Split(wanted);
    std::vector<char*> texts;
    for (std::string& origin : origins) texts.push_back(origin.data());
    if (!VeskInstallPluginOriginWhiteList(texts.data(), static_cast<int>(texts.size()))) return 3;
  }
  VeskRun();
  return 0;
}
