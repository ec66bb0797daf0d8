#include "ShadowBlur.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <vector>

#include "PixelSurfaces.hpp"
#include "quorvane/holders/CairoHolders.hpp"

namespace quorvane {
namespace {

constexpr int passes = 3;

// Half-widths of three boxes whose repeated application has the variance of a Gaussian
// of standard deviation sigma (W. Jarosz, "Fast Image Convolutions", 2001).
std::array<int, passes> boxRadii(double sigma)
{
    const double idealWidth = std::sqrt(12.0 * sigma * sigma / passes + 1.0);
    int lower = static_cast<int>(std::floor(idealWidth));
    if (lower % 2 == 0)
        --lower;
    const int upper = lower + 2;
    const double lowerCount
        = (12.0 * sigma * sigma - passes * lower * lower - 4.0 * passes * lower - 3.0 * passes) / (-4.0 * lower - 4.0);
    const int lowerPasses = static_cast<int>(std::lround(lowerCount));
    std::array<int, passes> radii {};
    for (int i = 0; i < passes; ++i)
        radii[i] = ((i < lowerPasses ? lower : upper) - 1) / 2;
    return radii;
}

// Fixed-point reciprocal so the inner loops divide by a multiplication.
struct BoxAverage {
    explicit BoxAverage(int radius)
        : reciprocal((65536u + (2u * radius + 1) / 2) / (2u * radius + 1))
    {
    }
    std::uint8_t operator()(std::uint32_t sum) const
    {
        return static_cast<std::uint8_t>((sum * reciprocal + 32768u) >> 16);
    }
    std::uint32_t reciprocal;
};

// Writes the columns of `source` (width × height, `sourceStride`) as the rows of `target`
// (height × width, `targetStride`), in small blocks so both sides stay in cache.
void transpose(
    const std::uint8_t* source, int sourceStride, std::uint8_t* target, int targetStride, int width, int height)
{
    constexpr int block = 32;
    for (int y0 = 0; y0 < height; y0 += block) {
        const int y1 = std::min(y0 + block, height);
        for (int x0 = 0; x0 < width; x0 += block) {
            const int x1 = std::min(x0 + block, width);
            for (int y = y0; y < y1; ++y) {
                const std::uint8_t* row = source + static_cast<std::ptrdiff_t>(y) * sourceStride;
                for (int x = x0; x < x1; ++x)
                    target[static_cast<std::ptrdiff_t>(x) * targetStride + y] = row[x];
            }
        }
    }
}

// Runs down all columns at once, one row at a time, so memory is read in order and the
// inner loops (independent columns, no aliasing) vectorise.
void boxBlurColumns(const std::uint8_t* __restrict source, int sourceStride, std::uint8_t* __restrict target,
    int targetStride, int width, int height, int radius, std::vector<std::uint32_t>& sumsStorage)
{
    const BoxAverage average(radius);
    const std::uint32_t reciprocal = average.reciprocal;
    sumsStorage.assign(static_cast<std::size_t>(width), 0);
    std::uint32_t* __restrict sums = sumsStorage.data();
    for (int y = 0; y <= radius && y < height; ++y) {
        const std::uint8_t* __restrict row = source + static_cast<std::ptrdiff_t>(y) * sourceStride;
        for (int x = 0; x < width; ++x)
            sums[x] += row[x];
    }
    for (int y = 0; y < height; ++y) {
        std::uint8_t* __restrict out = target + static_cast<std::ptrdiff_t>(y) * targetStride;
        const bool enters = y + radius + 1 < height;
        const bool leaves = y - radius >= 0;
        const std::uint8_t* __restrict entering
            = source + static_cast<std::ptrdiff_t>(enters ? y + radius + 1 : 0) * sourceStride;
        const std::uint8_t* __restrict leaving
            = source + static_cast<std::ptrdiff_t>(leaves ? y - radius : 0) * sourceStride;
        if (enters && leaves) {
            for (int x = 0; x < width; ++x) {
                const std::uint32_t sum = sums[x];
                out[x] = static_cast<std::uint8_t>((sum * reciprocal + 32768u) >> 16);
                sums[x] = sum + entering[x] - leaving[x];
            }
        } else {
            for (int x = 0; x < width; ++x) {
                const std::uint32_t sum = sums[x];
                out[x] = static_cast<std::uint8_t>((sum * reciprocal + 32768u) >> 16);
                sums[x] = sum + (enters ? entering[x] : 0u) - (leaves ? leaving[x] : 0u);
            }
        }
    }
}

}  // namespace

void blurAlphaMask(cairo_surface_t* mask, double blurRadius)
{
    const double sigma = blurRadius / 2.0;
    if (sigma <= 0)
        return;
    cairo_surface_flush(mask);
    const int fullWidth = cairo_image_surface_get_width(mask);
    const int fullHeight = cairo_image_surface_get_height(mask);
    const int stride = cairo_image_surface_get_stride(mask);
    const auto radii = boxRadii(sigma);

    // Only the shape's bounding box, widened by how far the three boxes spread it, can
    // change; everything else is and stays transparent.
    int top = fullHeight, bottom = -1, left = fullWidth, right = -1;
    for (int y = 0; y < fullHeight; ++y) {
        const std::uint8_t* row = cairo_image_surface_get_data(mask) + static_cast<std::ptrdiff_t>(y) * stride;
        const auto first = std::find_if(row, row + fullWidth, [](std::uint8_t alpha) { return alpha != 0; });
        if (first == row + fullWidth)
            continue;
        const auto last = std::find_if(std::make_reverse_iterator(row + fullWidth), std::make_reverse_iterator(row),
            [](std::uint8_t alpha) { return alpha != 0; });
        top = std::min(top, y);
        bottom = y;
        left = std::min(left, static_cast<int>(first - row));
        right = std::max(right, static_cast<int>(last.base() - row) - 1);
    }
    if (bottom < 0)
        return;
    const int spread = radii[0] + radii[1] + radii[2];
    top = std::max(top - spread, 0);
    left = std::max(left - spread, 0);
    bottom = std::min(bottom + spread, fullHeight - 1);
    right = std::min(right + spread, fullWidth - 1);
    const int width = right - left + 1;
    const int height = bottom - top + 1;
    std::uint8_t* pixels = cairo_image_surface_get_data(mask) + static_cast<std::ptrdiff_t>(top) * stride + left;
    std::vector<std::uint32_t> sums;

    // Three passes down the columns (mask → scratch → scratch2 → scratch).
    std::vector<std::uint8_t> scratch(static_cast<std::size_t>(width) * height);
    std::vector<std::uint8_t> scratch2(scratch.size());
    boxBlurColumns(pixels, stride, scratch.data(), width, width, height, radii[0], sums);
    boxBlurColumns(scratch.data(), width, scratch2.data(), width, width, height, radii[1], sums);
    boxBlurColumns(scratch2.data(), width, scratch.data(), width, width, height, radii[2], sums);

    // The passes across the rows run down the columns of the transposed mask: a running sum
    // along a row is one long dependency chain, while many columns side by side vectorise.
    transpose(scratch.data(), width, scratch2.data(), height, width, height);
    boxBlurColumns(scratch2.data(), height, scratch.data(), height, height, width, radii[0], sums);
    boxBlurColumns(scratch.data(), height, scratch2.data(), height, height, width, radii[1], sums);
    boxBlurColumns(scratch2.data(), height, scratch.data(), height, height, width, radii[2], sums);
    transpose(scratch.data(), height, pixels, stride, height, width);
    cairo_surface_mark_dirty(mask);
}

void paintShadow(
    cairo_t* cr, int width, int height, const ShadowStyle& style, const std::function<void(cairo_t*)>& drawShape)
{
    CairoSurfaceHolder mask = newCanvas(width, height, CAIRO_FORMAT_A8);
    if (!mask)
        return;
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
