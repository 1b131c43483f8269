// The UI process's direct calls into a page (WebKit user messages the web
// extension answers) and the initialization data the extension starts with.
// Both processes build and read them here, so a name or a payload format
// exists once.
#pragma once

#include <glib.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "vesk/core/cross_origin_whitelist.h"

namespace vesk::channel {

// "vesk.close": ask the page's close handler; the answer says whether the
// window stays open.
inline constexpr char kCloseMessage[] = "vesk.close";
// "vesk.ipc": call the page's handler of an instance message.
inline constexpr char kInstanceMessage[] = "vesk.ipc";

// Payloads (floating GVariants for a new message) and their readers, which
// return nothing for a payload of another form.
GVariant* CloseAnswerPayload(bool keep_open);
std::optional<bool> ReadCloseAnswer(GVariant* payload);
GVariant* InstanceMessagePayload(int32_t message_id);
std::optional<int32_t> ReadInstanceMessage(GVariant* payload);

struct ExtensionInitData {
  std::string program_dir;
  std::string log_path;
  std::string channel_socket;
  std::string channel_token;
  std::vector<std::string> switches;  // "--name" or "--name=value"
  // The UI process's executable: what an autostart entry starts.
  std::string executable_path;
  // The plugin allow-list (vesk/core/plugin_origins.h), already resolved.
  std::vector<std::string> plugin_origins;
  // The cross-origin list: the web process refuses its targets to pages
  // that are not their sources (vesk/core/cross_origin_whitelist.h).
  std::vector<CrossOriginEntry> cross_origin_entries;
};

// A floating GVariant.
GVariant* EncodeExtensionInitData(const ExtensionInitData& data);
std::optional<ExtensionInitData> DecodeExtensionInitData(GVariant* data);

}  // namespace vesk::channel
