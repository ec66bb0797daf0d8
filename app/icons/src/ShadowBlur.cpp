#include "ShadowBlur.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

#include "GHolders.hpp"
#include "PixelSurfaces.hpp"

namespace quorvane {
namespace {

constexpr int passes = 3;

// Half-widths of three boxes whose repeated application has the variance of a Gaussian
// of standard deviation sigma (W. Jarosz, "Fast Image Convolutions", 2001).
std::array<int, passes> boxRadii(double sigma) {
  const double idealWidth = std::sqrt(12.0 * sigma * sigma / passes + 1.0);
  int lower = static_cast<int>(std::floor(idealWidth));
  if (lower % 2 == 0) --lower;
  const int upper = lower + 2;
  const double lowerCount =
      (12.0 * sigma * sigma - passes * lower * lower - 4.0 * passes * lower - 3.0 * passes) / (-4.0 * lower - 4.0);
  const int lowerPasses = static_cast<int>(std::lround(lowerCount));
  std::array<int, passes> radii{};
  for (int i = 0; i < passes; ++i) radii[i] = ((i < lowerPasses ? lower : upper) - 1) / 2;
  return radii;
}

// Fixed-point reciprocal so the inner loops divide by a multiplication.
struct BoxAverage {
  explicit BoxAverage(int radius) : reciprocal((65536u + (2u * radius + 1) / 2) / (2u * radius + 1)) {}
  std::uint8_t operator()(std::uint32_t sum) const { return static_cast<std::uint8_t>((sum * reciprocal + 32768u) >> 16); }
  std::uint32_t reciprocal;
};

void boxBlurRow(const std::uint8_t* source, std::uint8_t* target, int length, int radius) {
  const BoxAverage average(radius);
  std::uint32_t sum = 0;
  for (int i = 0; i <= radius && i < length; ++i) sum += source[i];
  for (int x = 0; x < length; ++x) {
    target[x] = average(sum);
    if (x + radius + 1 < length) sum += source[x + radius + 1];
    if (x - radius >= 0) sum -= source[x - radius];
  }
}

// Runs down all columns at once, one row at a time, so memory is read in order.
void boxBlurColumns(const std::uint8_t* source, std::uint8_t* target, int width, int height, int stride,
                    int radius, std::vector<std::uint32_t>& sums) {
  const BoxAverage average(radius);
  sums.assign(static_cast<std::size_t>(width), 0);
  for (int y = 0; y <= radius && y < height; ++y) {
    const std::uint8_t* row = source + static_cast<std::ptrdiff_t>(y) * stride;
    for (int x = 0; x < width; ++x) sums[x] += row[x];
  }
  for (int y = 0; y < height; ++y) {
    std::uint8_t* out = target + static_cast<std::ptrdiff_t>(y) * stride;
    for (int x = 0; x < width; ++x) out[x] = average(sums[x]);
    if (y + radius + 1 < height) {
      const std::uint8_t* entering = source + static_cast<std::ptrdiff_t>(y + radius + 1) * stride;
      for (int x = 0; x < width; ++x) sums[x] += entering[x];
    }
    if (y - radius >= 0) {
      const std::uint8_t* leaving = source + static_cast<std::ptrdiff_t>(y - radius) * stride;
      for (int x = 0; x < width; ++x) sums[x] -= leaving[x];
    }
  }
}

}  // namespace

void blurAlphaMask(cairo_surface_t* mask, double blurRadius) {
  const double sigma = blurRadius / 2.0;
  if (sigma <= 0) return;
  cairo_surface_flush(mask);
  const int width = cairo_image_surface_get_width(mask);
  const int height = cairo_image_surface_get_height(mask);
  const int stride = cairo_image_surface_get_stride(mask);
  std::uint8_t* pixels = cairo_image_surface_get_data(mask);
  std::vector<std::uint8_t> scratch(static_cast<std::size_t>(stride) * height);
  std::vector<std::uint32_t> sums;
  const auto radii = boxRadii(sigma);

  // Each pass reads one buffer and writes the other; an even number of passes in all
  // (three across, three down) leaves the result back in the surface.
  std::uint8_t* from = pixels;
  std::uint8_t* to = scratch.data();
  for (int radius : radii) {
    for (int y = 0; y < height; ++y) {
      const std::ptrdiff_t offset = static_cast<std::ptrdiff_t>(y) * stride;
      boxBlurRow(from + offset, to + offset, width, radius);
    }
    std::swap(from, to);
  }
  for (int radius : radii) {
    boxBlurColumns(from, to, width, height, stride, radius, sums);
    std::swap(from, to);
  }
  cairo_surface_mark_dirty(mask);
}

void paintShadow(cairo_t* cr, int width, int height, const ShadowStyle& style,
                 const std::function<void(cairo_t*)>& drawShape) {
  CairoSurfaceHolder mask = newCanvas(width, height, CAIRO_FORMAT_A8);
  if (!mask) return;
  {
    CairoHolder maskContext(cairo_create(mask.get()));
    drawShape(maskContext.get());
  }
  blurAlphaMask(mask.get(), style.blurRadius);
  cairo_save(cr);
  cairo_set_source_rgba(cr, 0, 0, 0, style.alpha);
  cairo_mask_surface(cr, mask.get(), style.offsetX, style.offsetY);
  cairo_restore(cr);
}

}  // namespace quorvane
