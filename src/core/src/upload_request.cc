#include "vesk/core/upload_request.h"

#include <json/json.h>

#include <fstream>
#include <memory>

#include "vesk/core/base64.h"
#include "vesk/core/file_util.h"

namespace vesk {

PendingUploadFiles& PendingUploadFiles::Get() {
  static PendingUploadFiles* instance = new PendingUploadFiles;
  return *instance;
}

std::vector<std::string> PendingUploadFiles::TakeAll() {
  std::vector<std::string> taken;
  taken.swap(files_);
  return taken;
}

bool ParseUploadRequest(std::string_view contents, std::vector<std::string>* out) {
  if (contents.empty() || contents.size() > kMaxUploadRequestBytes) return false;
  Json::CharReaderBuilder builder;
  builder["collectComments"] = false;
  builder["stackLimit"] = kMaxUploadRequestJsonDepth;
  std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  Json::Value root;
  std::string errors;
  try {
    // The reader throws, rather than fails, on nesting beyond the limit.
    if (!reader->parse(contents.data(), contents.data() + contents.size(), &root, &errors)) return false;
  } catch (const Json::Exception&) {
    return false;
  }
  if (!root.isObject() || !root["data"].isArray()) return false;
  for (const Json::Value& element : root["data"]) {
    if (element.isString())
      out->push_back(element.asString());
    else if (element.isNull())
      out->emplace_back();
  }
  return true;
}

bool LoadUploadRequest(std::string_view value, std::vector<std::string>* out) {
  const std::string path = Base64Decode(value).value_or(std::string());
  std::string contents;
  if (path.empty() || !ReadFileToString(path, &contents, kMaxUploadRequestBytes)) return false;
  return ParseUploadRequest(contents, out);
}

bool LoadUploadRequest(std::string_view value) {
  std::vector<std::string> paths;
  const bool loaded = LoadUploadRequest(value, &paths);
  for (std::string& path : paths) PendingUploadFiles::Get().Append(std::move(path));
  return loaded;
}

}  // namespace vesk
