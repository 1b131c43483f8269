#include "vesk/core/shadow/shadow_geometry.h"

#include <cmath>

namespace vesk {

ShadowRect ShadowRectForHost(const ShadowRect& host, const ShadowMargins& margins) {
  return ShadowRect{host.x - margins.left, host.y - margins.top, host.width + margins.left + margins.right,
                    host.height + margins.top + margins.bottom};
}

ShadowRect ShadowCentre(int shadow_width, int shadow_height, const ShadowMargins& margins) {
  ShadowRect centre{margins.left, margins.top, shadow_width - margins.left - margins.right,
                    shadow_height - margins.top - margins.bottom};
  if (centre.width < 0) centre.width = 0;
  if (centre.height < 0) centre.height = 0;
  return centre;
}

bool ShadowSizeIsDrawable(int width, int height, int min_width, int min_height) {
  return width > min_width && height > min_height;
}

void ShadowPointToHost(double shadow_x, double shadow_y, const ShadowRect& shadow_screen,
                       const ShadowRect& host_screen, double* host_x, double* host_y) {
  *host_x = shadow_x + shadow_screen.x - host_screen.x;
  *host_y = shadow_y + shadow_screen.y - host_screen.y;
}

uint8_t ConstantAlphaForOpacity(double opacity) {
  const double scaled = std::trunc(opacity * 255.0);
  // Only values that fit a 64-bit integer convert with defined behaviour.
  if (!std::isfinite(scaled) || std::fabs(scaled) >= 9.0e18) return 255;
  return static_cast<uint8_t>(static_cast<int64_t>(scaled) & 0xFF);
}

}  // namespace vesk
