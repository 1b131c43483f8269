#include "vesk/core/tray/tray_data.h"

#include <glib.h>

namespace vesk::tray {

std::string CutText(const std::string& text, size_t limit) {
  g_autofree gchar* valid = g_utf8_make_valid(text.data(), static_cast<gssize>(text.size()));
  const glong length = g_utf8_strlen(valid, -1);
  if (static_cast<size_t>(length) <= limit) return valid;
  const gchar* end = g_utf8_offset_to_pointer(valid, static_cast<glong>(limit));
  return std::string(valid, static_cast<size_t>(end - valid));
}

std::vector<uint8_t> ToNetworkArgb(const uint8_t* pixels, int width, int height, int rowstride,
                                   bool has_alpha) {
  if (!pixels || width <= 0 || height <= 0) return {};
  const size_t channels = has_alpha ? 4 : 3;
  std::vector<uint8_t> argb;
  argb.reserve(static_cast<size_t>(width) * static_cast<size_t>(height) * 4);
  for (int y = 0; y < height; ++y) {
    const uint8_t* row = pixels + static_cast<size_t>(y) * static_cast<size_t>(rowstride);
    for (int x = 0; x < width; ++x) {
      const uint8_t* pixel = row + static_cast<size_t>(x) * channels;
      argb.push_back(has_alpha ? pixel[3] : 0xff);
      argb.push_back(pixel[0]);
      argb.push_back(pixel[1]);
      argb.push_back(pixel[2]);
    }
  }
  return argb;
}

int32_t NotificationTimeout(int delay_ms) { return delay_ms > 0 ? delay_ms : -1; }

bool WatcherPresence::OnAppeared() {
  const bool restart = known_ && !present_;
  known_ = true;
  present_ = true;
  return restart;
}

void WatcherPresence::OnVanished() {
  known_ = true;
  present_ = false;
}

}  // namespace vesk::tray
