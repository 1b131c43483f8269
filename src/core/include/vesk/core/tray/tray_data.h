// The pure parts of the tray icon: how texts are cut to the fields the
// desktop shows, how an image's pixels travel to a StatusNotifierHost, how a
// balloon's delay becomes a notification's expiry, and when the watcher's
// appearance on the bus means that the panel restarted.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vesk::tray {

// The longest texts the icon and its balloons carry, in characters.
inline constexpr size_t kToolTipLimit = 127;
inline constexpr size_t kBalloonTitleLimit = 63;
inline constexpr size_t kBalloonTextLimit = 255;

// |text| as valid UTF-8 (invalid bytes replaced), cut to at most |limit|
// characters (code points), never inside one.
std::string CutText(const std::string& text, size_t limit);

// Rows of 8-bit RGB or RGBA pixels (not premultiplied, |rowstride| bytes
// apart) as the StatusNotifierItem's ARGB32 in network byte order: A, R, G,
// B for every pixel, rows packed. Pixels without alpha become opaque.
std::vector<uint8_t> ToNetworkArgb(const uint8_t* pixels, int width, int height, int rowstride,
                                   bool has_alpha);

// A balloon's delay in milliseconds as the expiry of a notification: a
// positive delay stays; zero or less (absent) is the server's default (-1),
// never "until closed" (0).
int32_t NotificationTimeout(int delay_ms);

// Watches the owners of the StatusNotifierWatcher's bus name. The owner (or
// absence) found first is the desktop as it was when the program started;
// every owner that appears after that is a panel that (re)started, which is
// what pages know as the taskbar being created.
class WatcherPresence {
 public:
  // True when this appearance is a (re)start of the panel.
  bool OnAppeared();
  void OnVanished();
  bool present() const { return present_; }

 private:
  bool known_ = false;
  bool present_ = false;
};

}  // namespace vesk::tray
