// Shows a page's context menu at the pointer and reports the chosen command.
#pragma once

#include <gtk/gtk.h>

#include <functional>
#include <string>

namespace vesk {

// Keeps the last button press on |widget|, for a menu the page asks for
// while that button is still held (see ShowPopupMenu).
void RememberButtonPresses(GtkWidget* widget);

// False (and nothing shown) when the description is not a JSON array.
// |on_command| gets the chosen item's command identifier (menu_id + 0x8000).
// |trigger| (may be null) is a widget given to RememberButtonPresses: a
// press on it whose button is still held opens the menu as its trigger, so
// the menu stays up when that button comes up.
bool ShowPopupMenu(GtkWindow* owner, GtkWidget* trigger, const std::string& json,
                   std::function<void(int command_id)> on_command);

}  // namespace vesk
