#include "vesk/core/browser/window_geometry.h"

namespace vesk {

std::string PositionRequestError(const PositionRequest& request) {
  using Type = PositionRequest::Type;
  std::string error;
  if (request.x.type == Type::kWrongType) error = "x should be number";
  if (request.y.type == Type::kWrongType) error = "y should be number";
  if (request.width.type == Type::kWrongType) error = "width should be number";
  if (request.height.type == Type::kWrongType) error = "height should be number";
  if (request.topmost.type == Type::kWrongType) error = "topmost should be boolean";
  if (request.active.type == Type::kWrongType) error = "active should be boolean";
  return error;
}

WindowRect ApplyPositionRequest(const WindowRect& current, const PositionRequest& request) {
  using Type = PositionRequest::Type;
  WindowRect rect = current;
  if (request.x.type == Type::kValid) {
    rect.right = request.x.value + current.width();
    rect.left = request.x.value;
  }
  if (request.y.type == Type::kValid) {
    rect.bottom = request.y.value + current.height();
    rect.top = request.y.value;
  }
  if (request.width.type == Type::kValid) rect.right = rect.left + request.width.value;
  if (request.height.type == Type::kValid) rect.bottom = rect.top + request.height.value;
  return rect;
}

SizeLimits ComputeSizeLimits(Size work_area, bool maximized, Size frame, std::optional<Size> set_minimum,
                             std::optional<Size> set_maximum) {
  SizeLimits limits;
  limits.maximum = work_area;
  if (maximized) {
    limits.maximum.width += 2 * frame.width;
    limits.maximum.height += 2 * frame.height;
  }
  if (set_maximum) {
    if (set_maximum->width < limits.maximum.width) limits.maximum.width = set_maximum->width;
    if (set_maximum->height < limits.maximum.height) limits.maximum.height = set_maximum->height;
  }
  if (set_minimum) {
    if (set_minimum->width > kMinimumTrackingSize) limits.minimum.width = set_minimum->width;
    if (set_minimum->height > kMinimumTrackingSize) limits.minimum.height = set_minimum->height;
  }
  return limits;
}

}  // namespace vesk
