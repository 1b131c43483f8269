// What the embedder chooses for the web engine: set through the exported
// start-up call in the framework module, applied by the user-interface
// module when it creates the engine's context.
#pragma once

#include <string>

namespace vesk {

struct EngineSettings {
  std::string cache_path;          // empty: the engine's default
  std::string user_agent;          // empty: the engine's default
  std::string local_storage_path;  // empty: the engine's default
};

}  // namespace vesk
