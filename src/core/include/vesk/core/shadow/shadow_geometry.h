// Where the shadow window lies relative to its host window, and how points
// and opacity carry over between the two.
#pragma once

#include <cstdint>

namespace vesk {

struct ShadowRect {
  int x = 0, y = 0, width = 0, height = 0;
  bool operator==(const ShadowRect&) const = default;
};

// How far the shadow reaches past each edge of the host window.
struct ShadowMargins {
  int left = 0, top = 0, right = 0, bottom = 0;
  bool operator==(const ShadowMargins&) const = default;
};

// The shadow's screen rectangle for a host at |host| (screen coordinates).
ShadowRect ShadowRectForHost(const ShadowRect& host, const ShadowMargins& margins);

// The rectangle inside the shadow (shadow-client coordinates) that the host
// covers; the shadow leaves it transparent and does not take input there.
ShadowRect ShadowCentre(int shadow_width, int shadow_height, const ShadowMargins& margins);

// A new shadow size is drawn only when it exceeds the minimum drawable size
// in both directions; a smaller one keeps the previous image.
bool ShadowSizeIsDrawable(int width, int height, int min_width, int min_height);

// A point in shadow-client coordinates seen from the host's client area:
// through screen coordinates, so it is negative left of and above the host.
void ShadowPointToHost(double shadow_x, double shadow_y, const ShadowRect& shadow_screen,
                       const ShadowRect& host_screen, double* host_x, double* host_y);

// The window-system constant alpha for a window opacity: opacity × 255,
// truncated toward zero, low 8 bits used. A value that is not a number or is
// too large to convert gives fully opaque instead of an undefined conversion.
uint8_t ConstantAlphaForOpacity(double opacity);

}  // namespace vesk
