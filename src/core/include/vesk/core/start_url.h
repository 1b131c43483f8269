// How the start switches shape the first page's URL.
#pragma once

#include <string>
#include <string_view>

#include "vesk/core/command_line.h"

namespace vesk {

struct StartUrlDecision {
  // vesk-startup=exit-process: start-up ends, no page is loaded.
  bool exit_process = false;
  // upload-extension was given (and vesk-startup was not): the caller hands
  // |upload_value| to LoadUploadRequest before loading |url|.
  bool load_upload_request = false;
  std::string upload_value;
  std::string url;
};

// The value is appended unchanged (not URL-encoded); a start URL that holds a
// query already gets a second "?".
StartUrlDecision ComposeStartUrl(std::string_view start_url, const CommandLine& command_line);

}  // namespace vesk
