// Balloons: desktop notifications through org.freedesktop.Notifications.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace vesk {

struct Balloon {
  std::string title;       // the summary
  std::string text;        // the body
  std::string image_path;  // "" for none
  bool has_sound = false;
  int32_t timeout_ms = -1;   // -1: the server's default
  uint32_t replaces_id = 0;  // the notification this one replaces, 0 for none
};

// Sends |balloon| without waiting; |on_shown| gets the server's id for it.
// A server that is absent or refuses is logged ("PopBallon Failed"), and
// nobody else is told.
void ShowBalloon(const Balloon& balloon, std::function<void(uint32_t id)> on_shown);

}  // namespace vesk
