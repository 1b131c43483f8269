#include "vesk/core/shadow/shadow_grid.h"

#include <algorithm>
#include <utility>

#include "vesk/core/logging.h"

namespace vesk {
namespace {

// A failed debug check whose condition had work in it that must run in every
// build; only the report depends on debug checks being on.
void ReportFailedCheck(const char* condition) {
  if (logging::DchecksEnabled()) VESK_LOG(ERROR) << "Check failed: " << condition << ". ";
}

}  // namespace

void ShadowGrid::Load(std::array<std::vector<uint8_t>, kCount> resources) {
  grid_resource_ = std::move(resources);
  grid_ = {};
  complete_ = false;
  margins_ = {};
  min_width_ = min_height_ = 0;

  bool all_parsed = true;
  for (int i = 0; i < kCount; ++i) {
    if (grid_resource_[i].empty()) {
      ReportFailedCheck("!grid_resource[i].empty()");
      all_parsed = false;
      continue;
    }
    if (!ParseBitampBits(grid_resource_[i].size(), &grid_resource_[i][0], grid_[i])) {
      ReportFailedCheck("ParseBitampBits(grid_resource_[i].size(), &grid_resource_[i][0], grid_[i])");
      all_parsed = false;
    }
  }
  if (!all_parsed || !SizeRulesHold()) return;

  margins_ = ShadowMargins{grid_[LEFT].width, grid_[TOP].height, grid_[RIGHT].width, grid_[BOTTOM].height};
  min_width_ =
      std::max(grid_[TOP].width, grid_[BOTTOM].width) + grid_[TOP_LEFT].width + grid_[TOP_RIGHT].width;
  min_height_ = grid_[BOTTOM_RIGHT].height + std::max(grid_[LEFT].height, grid_[RIGHT].height) +
                grid_[TOP_RIGHT].height;
  complete_ = true;
}

bool ShadowGrid::SizeRulesHold() const {
  const bool top_rule =
      grid_[TOP].height == grid_[TOP_LEFT].height && grid_[TOP].height == grid_[TOP_RIGHT].height;
  const bool bottom_rule =
      grid_[BOTTOM].height == grid_[BOTTOM_LEFT].height && grid_[BOTTOM].height == grid_[BOTTOM_RIGHT].height;
  const bool left_rule =
      grid_[LEFT].width == grid_[TOP_LEFT].width && grid_[LEFT].width == grid_[BOTTOM_LEFT].width;
  const bool right_rule =
      grid_[RIGHT].width == grid_[TOP_RIGHT].width && grid_[RIGHT].width == grid_[BOTTOM_RIGHT].width;
  VESK_DCHECK(top_rule);
  VESK_DCHECK(bottom_rule);
  VESK_DCHECK(left_rule);
  VESK_DCHECK(right_rule);
  return top_rule && bottom_rule && left_rule && right_rule;
}

void ShadowGrid::DrawRow(int width, int height, int out_row, const ShadowBitmap& left, int left_row,
                         const ShadowBitmap* middle, int middle_row, const ShadowBitmap& right, int right_row,
                         uint32_t* pixels) const {
  uint32_t* line = pixels + static_cast<size_t>(height - 1 - out_row) * width;
  for (int x = 0; x < left.width; ++x) line[x] = left.Pixel(left_row, x);
  const int right_start = width - right.width;
  if (middle != nullptr) {
    for (int x = left.width; x < right_start; ++x)
      line[x] = middle->Pixel(middle_row, (x - left.width) % middle->width);
  }
  for (int x = 0; x < right.width; ++x) line[right_start + x] = right.Pixel(right_row, x);
}

bool ShadowGrid::Compose(int width, int height, std::vector<uint32_t>* pixels) const {
  // Above the minimum size every band fits side by side with room between
  // its corners, so no row below writes outside the image.
  if (!complete_ || !ShadowSizeIsDrawable(width, height, min_width_, min_height_)) return false;
  if (static_cast<long long>(width) * height > kMaxImagePixels) return false;
  std::vector<uint32_t> image(static_cast<size_t>(width) * height, 0);

  const ShadowBitmap& bottom = grid_[BOTTOM];
  for (int row = 0; row < grid_[BOTTOM_LEFT].height; ++row)
    DrawRow(width, height, row, grid_[BOTTOM_LEFT], row, &bottom, row, grid_[BOTTOM_RIGHT], row,
            image.data());

  const int middle_height = height - grid_[TOP].height - bottom.height;
  for (int k = 0; k < middle_height; ++k) {
    DrawRow(width, height, bottom.height + k, grid_[LEFT], k % grid_[LEFT].height, nullptr, 0, grid_[RIGHT],
            k % grid_[RIGHT].height, image.data());
  }

  const int top_start = height - grid_[TOP_LEFT].height;
  for (int row = 0; row < grid_[TOP_LEFT].height; ++row) {
    DrawRow(width, height, top_start + row, grid_[TOP_LEFT], row, &grid_[TOP], row, grid_[TOP_RIGHT], row,
            image.data());
  }
  pixels->swap(image);
  return true;
}

}  // namespace vesk
