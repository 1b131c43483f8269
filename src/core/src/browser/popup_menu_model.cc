#include "vesk/core/browser/popup_menu_model.h"

#include <json/json.h>

#include <limits>
#include <memory>

namespace vesk {
namespace {

bool IsTrue(const Json::Value& item, const char* name) {
  const Json::Value& value = item[name];
  return value.isBool() && value.asBool();
}

std::string TextOf(const Json::Value& item) {
  const Json::Value& text = item["text"];
  return text.isString() ? text.asString() : std::string();
}

int MenuIdOf(const Json::Value& item) {
  const Json::Value& id = item["menu_id"];
  if (!id.isIntegral()) return 0;
  if (id.isInt()) return id.asInt();
  return 0;  // beyond 32 bits: treated as absent
}

bool BuildItems(const Json::Value& array, int depth, std::vector<MenuItem>* out) {
  if (depth > kMaxMenuDepth) return false;
  for (const Json::Value& item : array) {
    if (!item.isObject() || !IsTrue(item, "menu")) continue;
    MenuItem entry;
    if (IsTrue(item, "separator")) {
      entry.kind = MenuItem::Kind::kSeparator;
      entry.text = "Separator";
      entry.command_id = kMenuSeparatorId;
      out->push_back(std::move(entry));
      continue;
    }
    entry.enabled = IsTrue(item, "enable");
    entry.text = TextOf(item);
    if (item["children"].isArray()) {
      entry.kind = MenuItem::Kind::kSubmenu;
      if (!BuildItems(item["children"], depth + 1, &entry.children)) return false;
    } else {
      // Identifiers outside 0..0x3FFF produce commands whose choice runs
      // nothing, as they fall outside the command range.
      const long long id = static_cast<long long>(MenuIdOf(item)) + kMenuCommandBase;
      entry.command_id = id > std::numeric_limits<int>::max() ? 0 : static_cast<int>(id);
    }
    out->push_back(std::move(entry));
  }
  return true;
}

}  // namespace

std::optional<std::vector<MenuItem>> ParsePopupMenu(std::string_view json) {
  Json::CharReaderBuilder builder;
  builder["collectComments"] = false;
  builder["stackLimit"] = kMaxMenuDepth * 2 + 4;
  std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  Json::Value root;
  std::string errors;
  try {
    if (!reader->parse(json.data(), json.data() + json.size(), &root, &errors)) return std::nullopt;
  } catch (const Json::Exception&) {
    return std::nullopt;
  }
  if (!root.isArray()) return std::nullopt;
  std::vector<MenuItem> items;
  if (!BuildItems(root, 0, &items)) return std::nullopt;
  return items;
}

std::optional<std::string> MenuClickScript(int command_id) {
  if (command_id < kMenuCommandBase || command_id > kMenuCommandLast) return std::nullopt;
  return "window.winhelper.onMenuClick && window.winhelper.onMenuClick(" +
         std::to_string(command_id - kMenuCommandBase) + ")";
}

std::string MenuLabelWithMnemonic(std::string_view text) {
  std::string label;
  label.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '_') {
      label += "__";  // GTK's marker, shown as itself
    } else if (c != '&') {
      label += c;
    } else if (i + 1 < text.size() && text[i + 1] == '&') {
      label += '&';  // "&&" shows one ampersand
      ++i;
    } else if (i + 1 < text.size()) {
      label += '_';  // the next character is the mnemonic
    }
    // A lone "&" at the end marks nothing and shows nothing.
  }
  return label;
}

}  // namespace vesk
