// The page's context-menu description: a JSON array of item objects.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vesk {

inline constexpr int kMenuCommandBase = 0x8000;
inline constexpr int kMenuCommandLast = 0xBFFF;
inline constexpr int kMenuSeparatorId = 0x8000;
// Nesting beyond this depth is refused rather than recursed into.
inline constexpr int kMaxMenuDepth = 16;

struct MenuItem {
  enum class Kind { kCommand, kSeparator, kSubmenu };
  Kind kind = Kind::kCommand;
  std::string text;
  bool enabled = false;
  int command_id = kMenuCommandBase;  // menu_id + 0x8000 for commands
  std::vector<MenuItem> children;
};

// Items whose "menu" is not true are skipped; "separator" true makes a
// separator; "children" (an array) makes a submenu labelled "text"; anything
// else is a command "text" with id "menu_id" + 0x8000. Nothing when the text
// is not a JSON array (or nests too deeply): no menu is shown then.
std::optional<std::vector<MenuItem>> ParsePopupMenu(std::string_view json);

// The script text a chosen command runs, or nothing for ids outside
// 0x8000..0xBFFF.
std::optional<std::string> MenuClickScript(int command_id);

// A menu text as GTK labels it: "&x" marks x as the mnemonic, "&&" is a
// literal ampersand, and GTK's own marker "_" is shown as itself.
std::string MenuLabelWithMnemonic(std::string_view text);

}  // namespace vesk
