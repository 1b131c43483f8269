#include "browser/popup_menu.h"

#include <memory>

#include "vesk/core/browser/popup_menu_model.h"
#include "vesk/core/guarded.h"
#include "vesk/core/logging.h"
#include "vesk/core/thread_check.h"

namespace vesk {
namespace {

constexpr char kCommandKey[] = "vesk-command-id";

struct MenuState {
  std::function<void(int)> on_command;
};

void OnItemActivated(GtkMenuItem* item, gpointer data) {
  VESK_REQUIRE_MAIN_THREAD();
  Guarded("menu command", [item, data] {
    auto* state = static_cast<MenuState*>(data);
    const int id = GPOINTER_TO_INT(g_object_get_data(G_OBJECT(item), kCommandKey));
    if (state->on_command) state->on_command(id);
  });
}

GtkWidget* BuildMenu(const std::vector<MenuItem>& items, MenuState* state) {
  GtkWidget* menu = gtk_menu_new();
  for (const MenuItem& item : items) {
    GtkWidget* widget = nullptr;
    if (item.kind == MenuItem::Kind::kSeparator) {
      widget = gtk_separator_menu_item_new();
    } else {
      widget = gtk_menu_item_new_with_mnemonic(MenuLabelWithMnemonic(item.text).c_str());
      gtk_widget_set_sensitive(widget, item.enabled);
      if (item.kind == MenuItem::Kind::kSubmenu) {
        gtk_menu_item_set_submenu(GTK_MENU_ITEM(widget), BuildMenu(item.children, state));
      } else {
        g_object_set_data(G_OBJECT(widget), kCommandKey, GINT_TO_POINTER(item.command_id));
        g_signal_connect(widget, "activate", G_CALLBACK(OnItemActivated), state);
      }
    }
    gtk_widget_show(widget);
    gtk_menu_shell_append(GTK_MENU_SHELL(menu), widget);
  }
  return menu;
}

void OnMenuDone(GtkMenuShell* menu, gpointer) {
  VESK_REQUIRE_MAIN_THREAD();
  // "deactivate" comes before the chosen item's "activate"; destroy later.
  // The menu may be gone by then (its owner window destroyed it, or it was
  // deactivated twice): the idle holds a reference, and destroying a widget
  // again does nothing.
  g_idle_add_full(
      G_PRIORITY_DEFAULT_IDLE,
      [](gpointer widget) -> gboolean {
        gtk_widget_destroy(GTK_WIDGET(widget));
        return G_SOURCE_REMOVE;
      },
      g_object_ref(menu), g_object_unref);
}

constexpr char kLastPressKey[] = "vesk-last-button-press";
constexpr char kHeldButtonKey[] = "vesk-held-button";

gboolean OnButtonPress(GtkWidget* widget, GdkEventButton* event, gpointer) {
  VESK_REQUIRE_MAIN_THREAD();
  Guarded("button-press-event", [&] {
    g_object_set_data_full(G_OBJECT(widget), kLastPressKey,
                           gdk_event_copy(reinterpret_cast<GdkEvent*>(event)),
                           reinterpret_cast<GDestroyNotify>(gdk_event_free));
  });
  return FALSE;  // the page gets the press as always
}

bool ButtonHeld(guint button, GdkModifierType state) {
  return button >= 1 && button <= 5 && (state & (GDK_BUTTON1_MASK << (button - 1)));
}

bool InsideMenu(GtkMenu* menu, const GdkEventButton* event) {
  GdkWindow* window = gtk_widget_get_window(gtk_widget_get_toplevel(GTK_WIDGET(menu)));
  if (!window) return false;
  GdkRectangle extents{};
  gdk_window_get_frame_extents(window, &extents);
  const int x = static_cast<int>(event->x_root), y = static_cast<int>(event->y_root);
  return x >= extents.x && y >= extents.y && x < extents.x + extents.width && y < extents.y + extents.height;
}

// A menu popped up while a button was held (a page that opens it on
// mousedown) stays up when that button comes up outside it. GTK keeps it only
// when the release follows the press within half a second; a user who holds
// the button longer would see the menu vanish. A release over an entry still
// chooses it.
gboolean OnMenuButtonRelease(GtkWidget* menu, GdkEventButton* event, gpointer) {
  VESK_REQUIRE_MAIN_THREAD();
  gboolean swallowed = FALSE;
  Guarded("menu button-release-event", [&] {
    const guint held = GPOINTER_TO_UINT(g_object_get_data(G_OBJECT(menu), kHeldButtonKey));
    if (held == 0 || event->button != held) return;
    g_object_set_data(G_OBJECT(menu), kHeldButtonKey, nullptr);
    swallowed = !InsideMenu(GTK_MENU(menu), event);
  });
  return swallowed;
}

// The menu is asked for from script, so there is no input event in hand: it
// is placed at the pointer's current position. When the page asked while a
// button pressed on |trigger| is still held, that press is the trigger
// event: the menu's grab and its handling of the release follow it.
void PopUpAtPointer(GtkMenu* menu, GtkWindow* owner, GtkWidget* trigger) {
  GdkDisplay* display = owner ? gtk_widget_get_display(GTK_WIDGET(owner)) : gdk_display_get_default();
  GdkDevice* pointer = gdk_seat_get_pointer(gdk_display_get_default_seat(display));
  GdkWindow* anchor = owner ? gtk_widget_get_window(GTK_WIDGET(owner)) : nullptr;
  int x = 0, y = 0;
  GdkModifierType state{};
  if (anchor && gtk_widget_get_mapped(GTK_WIDGET(owner))) {
    gdk_window_get_device_position(anchor, pointer, &x, &y, &state);
  } else {
    anchor = gdk_screen_get_root_window(gdk_display_get_default_screen(display));
    gdk_window_get_device_position(anchor, pointer, &x, &y, &state);
  }
  const auto* press =
      trigger ? static_cast<const GdkEvent*>(g_object_get_data(G_OBJECT(trigger), kLastPressKey)) : nullptr;
  guint button = 0;
  if (press && !(gdk_event_get_button(press, &button) && ButtonHeld(button, state))) press = nullptr;
  if (press) g_object_set_data(G_OBJECT(menu), kHeldButtonKey, GUINT_TO_POINTER(button));
  const GdkRectangle at{x, y, 1, 1};
  gtk_menu_popup_at_rect(menu, anchor, &at, GDK_GRAVITY_SOUTH_EAST, GDK_GRAVITY_NORTH_WEST, press);
}

}  // namespace

void RememberButtonPresses(GtkWidget* widget) {
  g_signal_connect(widget, "button-press-event", G_CALLBACK(OnButtonPress), nullptr);
}

bool ShowPopupMenu(GtkWindow* owner, GtkWidget* trigger, const std::string& json,
                   std::function<void(int)> on_command) {
  VESK_REQUIRE_MAIN_THREAD();
  const auto items = ParsePopupMenu(json);
  if (!items) return false;
  auto* state = new MenuState{std::move(on_command)};
  GtkWidget* menu = BuildMenu(*items, state);
  g_object_set_data_full(G_OBJECT(menu), "vesk-menu-state", state,
                         [](gpointer data) { delete static_cast<MenuState*>(data); });
  if (owner) gtk_menu_attach_to_widget(GTK_MENU(menu), GTK_WIDGET(owner), nullptr);
  g_signal_connect(menu, "deactivate", G_CALLBACK(OnMenuDone), nullptr);
  g_signal_connect(menu, "button-release-event", G_CALLBACK(OnMenuButtonRelease), nullptr);
  // The menu brings a shown window to the foreground, but never shows a
  // hidden one: a tray application pops up menus with its window hidden.
  if (owner && gtk_widget_get_visible(GTK_WIDGET(owner))) gtk_window_present(owner);
  PopUpAtPointer(GTK_MENU(menu), owner, trigger);
  return true;
}

}  // namespace vesk
