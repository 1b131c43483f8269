// The upload entry's readers of outside text: the program-directory record
// beside the module and the ContextMenuParam value.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "program_record.h"
#include "upload_entry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  (void)vesk::shell_ext::ParseProgramRecord(text);
  size_t total = 0;
  for (const auto& word : vesk::shell_ext::SplitContextMenuParam(text)) {
    if (word.empty() || word.find_first_of(" \t") != std::string_view::npos) __builtin_trap();
    total += word.size();
  }
  if (total > size) __builtin_trap();
  return 0;
}
