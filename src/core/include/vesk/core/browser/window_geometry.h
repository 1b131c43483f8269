// Pure geometry of host windows: positioning requests and size limits.
#pragma once

#include <optional>
#include <string>

namespace vesk {

struct WindowRect {
  int left = 0, top = 0, right = 0, bottom = 0;
  int width() const { return right - left; }
  int height() const { return bottom - top; }
  bool operator==(const WindowRect&) const = default;
};

// A position request as the page gives it; a value of the wrong type is
// reported as such and counts as absent.
struct PositionRequest {
  enum class Type { kAbsent, kValid, kWrongType };
  struct IntValue {
    Type type = Type::kAbsent;
    int value = 0;
  };
  struct BoolValue {
    Type type = Type::kAbsent;
    bool value = false;
  };
  IntValue x, y, width, height;
  BoolValue topmost, active;
};

// The error text of a request: the last wrong-typed member's message, or "".
std::string PositionRequestError(const PositionRequest& request);

// x moves the left edge keeping the width, y the top keeping the height;
// then width and height set the right and bottom edges.
WindowRect ApplyPositionRequest(const WindowRect& current, const PositionRequest& request);

struct Size {
  int width = 0, height = 0;
  bool operator==(const Size&) const = default;
};

inline constexpr int kMinimumTrackingSize = 32;

struct SizeLimits {
  Size minimum{kMinimumTrackingSize, kMinimumTrackingSize};
  Size maximum;
};

// Maximum = the work area (plus twice the frame while maximised), replaced
// per dimension by a set maximum that is smaller; minimum = 32 x 32,
// replaced per dimension by a set minimum that is larger.
SizeLimits ComputeSizeLimits(Size work_area, bool maximized, Size frame, std::optional<Size> set_minimum,
                             std::optional<Size> set_maximum);

}  // namespace vesk
