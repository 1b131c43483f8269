// Where failed loads are sent: the page-chosen error URL and the data that
// goes along with it. One per UI process; main thread only.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace vesk {

class ErrorProcessor {
 public:
  static ErrorProcessor& Get();

  // Existing keys are overwritten, others stay.
  void SetErrorData(const std::vector<std::pair<std::string, std::string>>& entries);
  const std::map<std::string, std::string>& error_data() const { return error_data_; }
  void SetErrorHandlerUrl(std::string url) { error_handler_url_ = std::move(url); }
  const std::string& error_handler_url() const { return error_handler_url_; }

  // "<handler>?url=<failed>&error_text=<text>&k=v..." in key order, nothing
  // escaped; nothing when no handler URL is set.
  std::optional<std::string> BuildErrorPageUrl(const std::string& failed_url,
                                               const std::string& error_text) const;

  void ResetForTesting();

 private:
  ErrorProcessor() = default;
  // Keys ordered by UTF-16 code units, as the page sees them.
  struct Utf16Less {
    bool operator()(const std::string& a, const std::string& b) const;
  };
  std::map<std::string, std::string> error_data_;
  std::map<std::string, std::string, Utf16Less> ordered_;
  std::string error_handler_url_;
};

}  // namespace vesk
