// Shows a page's context menu at the pointer and reports the chosen command.
#pragma once

#include <gtk/gtk.h>

#include <functional>
#include <string>

namespace vesk {

// False (and nothing shown) when the description is not a JSON array.
// |on_command| gets the chosen item's command identifier (menu_id + 0x8000).
bool ShowPopupMenu(GtkWindow* owner, const std::string& json, std::function<void(int command_id)> on_command);

}  // namespace vesk
