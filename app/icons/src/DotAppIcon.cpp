#include "quorvane/icons/DotAppIcon.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>

#include "PixelSurfaces.hpp"
#include "ShadowBlur.hpp"
#include "quorvane/holders/CairoHolders.hpp"

namespace quorvane {
namespace {

struct Colour {
    double red, green, blue;
};

constexpr Colour rgb8(int red, int green, int blue) { return { red / 255.0, green / 255.0, blue / 255.0 }; }

struct TileStyle {
    Colour base;  // the fill, and the gradient's bottom
    Colour top;  // the gradient's top
    double rimAlpha;
    double pictureShadowAlpha;
};

// Dark or colourful pictures sit on a light tile; only very light ones need the dark tile.
constexpr double lightPictureThreshold = 0.8;
constexpr TileStyle lightTile { rgb8(219, 221, 220), rgb8(250, 249, 246), 0.65, 0.2 };
constexpr TileStyle darkTile { rgb8(43, 46, 53), rgb8(79, 82, 89), 0.19, 0.28 };

constexpr double tileOrigin = 56;
constexpr double tileSide = 912;
constexpr double tileCornerRadius = 220;
constexpr double rimWidth = 3;
constexpr double pictureArea = 704;
constexpr int sampleSide = 256;
constexpr double visibleAlpha = 0.04;

// Both shadows fall downward. Their offsets are thought of y-up, as (0, −8) and (0, −10);
// Cairo's y axis points down, so on this canvas they are +8 and +10 pixels.
constexpr ShadowStyle tileShadow { 0.22, 18, 0, 8 };
constexpr double pictureShadowBlur = 16;
constexpr double pictureShadowOffsetY = 10;

void tilePath(cairo_t* cr)
{
    constexpr double left = tileOrigin, top = tileOrigin, right = tileOrigin + tileSide, bottom = tileOrigin + tileSide;
    constexpr double r = tileCornerRadius;
    constexpr double quarter = std::numbers::pi / 2;
    cairo_new_sub_path(cr);
    cairo_arc(cr, right - r, top + r, r, -quarter, 0);
    cairo_arc(cr, right - r, bottom - r, r, 0, quarter);
    cairo_arc(cr, left + r, bottom - r, r, quarter, 2 * quarter);
    cairo_arc(cr, left + r, top + r, r, 2 * quarter, 3 * quarter);
    cairo_close_path(cr);
}

void setColour(cairo_t* cr, const Colour& colour, double alpha = 1.0)
{
    cairo_set_source_rgba(cr, colour.red, colour.green, colour.blue, alpha);
}

std::optional<DotAppIcon::Content> contentOfSurface(cairo_surface_t* image)
{
    const int w = cairo_image_surface_get_width(image);
    const int h = cairo_image_surface_get_height(image);
    const double scale = std::min(static_cast<double>(sampleSide) / std::max(w, h), 1.0);
    const int sampleWidth = std::max(static_cast<int>(std::floor(scale * w)), 1);
    const int sampleHeight = std::max(static_cast<int>(std::floor(scale * h)), 1);

    CairoSurfaceHolder sample = newCanvas(sampleWidth, sampleHeight);
    if (!sample)
        return std::nullopt;
    {
        CairoHolder cr(cairo_create(sample.get()));
        drawSurfaceInRect(cr.get(), image, 0, 0, sampleWidth, sampleHeight, CAIRO_FILTER_GOOD);
    }
    cairo_surface_flush(sample.get());

    // Luminance is summed with integer weights (2126, 7152, 722 per 10000) so the mean is a
    // single rounded division: a picture of light grey 204 lands exactly on 0.8.
    std::int64_t luminanceSum = 0;
    std::int64_t alphaSum = 0;
    int minX = sampleWidth, minY = sampleHeight, maxX = -1, maxY = -1;
    const unsigned char* base = cairo_image_surface_get_data(sample.get());
    const int stride = cairo_image_surface_get_stride(sample.get());
    for (int y = 0; y < sampleHeight; ++y) {
        const auto* row = reinterpret_cast<const std::uint32_t*>(base + static_cast<std::ptrdiff_t>(y) * stride);
        for (int x = 0; x < sampleWidth; ++x) {
            const std::uint32_t pixel = row[x];
            const std::uint32_t alpha = pixel >> 24;
            if (!(alpha / 255.0 > visibleAlpha))
                continue;
            minX = std::min(minX, x);
            maxX = std::max(maxX, x);
            minY = std::min(minY, y);
            maxY = std::max(maxY, y);
            // Premultiplied components as stored: the sum is already weighted by alpha.
            luminanceSum += 2126 * (pixel >> 16 & 0xff) + 7152 * (pixel >> 8 & 0xff) + 722 * (pixel & 0xff);
            alphaSum += alpha;
        }
    }
    if (maxX < 0)
        return std::nullopt;

    // One sample of margin before, two after, so antialiased edges are not cut.
    const std::int64_t x0 = std::max(minX - 1, 0), x1 = std::min(maxX + 2, sampleWidth);
    const std::int64_t y0 = std::max(minY - 1, 0), y1 = std::min(maxY + 2, sampleHeight);
    // Back to the image's pixels, rounding outward; integer arithmetic keeps it exact.
    const std::int64_t left = x0 * w / sampleWidth;
    const std::int64_t right = (x1 * w + sampleWidth - 1) / sampleWidth;
    const std::int64_t top = y0 * h / sampleHeight;
    const std::int64_t bottom = (y1 * h + sampleHeight - 1) / sampleHeight;
    PixelRect bounds { static_cast<int>(left), static_cast<int>(top),
        static_cast<int>(std::min<std::int64_t>(right, w) - left),
        static_cast<int>(std::min<std::int64_t>(bottom, h) - top) };
    return DotAppIcon::Content { bounds,
        static_cast<double>(luminanceSum) / (10000.0 * static_cast<double>(alphaSum)) };
}

CairoSurfaceHolder crop(cairo_surface_t* image, const PixelRect& bounds)
{
    CairoSurfaceHolder cropped = newCanvas(bounds.width, bounds.height);
    if (!cropped)
        return nullptr;
    CairoHolder cr(cairo_create(cropped.get()));
    cairo_set_operator(cr.get(), CAIRO_OPERATOR_SOURCE);
    cairo_set_source_surface(cr.get(), image, -bounds.x, -bounds.y);
    cairo_paint(cr.get());
    return cropped;
}

}  // namespace

std::optional<DotAppIcon::Content> DotAppIcon::content(const Image& image)
{
    CairoSurfaceHolder surface = surfaceFromPixbuf(image.pixbuf());
    if (!surface)
        return std::nullopt;
    return contentOfSurface(surface.get());
}

std::optional<Image> DotAppIcon::make(const Image& image)
{
    CairoSurfaceHolder surface = surfaceFromPixbuf(image.pixbuf());
    if (!surface)
        return std::nullopt;
    const std::optional<Content> found = contentOfSurface(surface.get());
    if (!found)
        return std::nullopt;
    CairoSurfaceHolder picture = crop(surface.get(), found->bounds);
    if (!picture)
        return std::nullopt;
    surface.reset();

    CairoSurfaceHolder canvas = newCanvas(side, side);
    if (!canvas)
        return std::nullopt;
    CairoHolder context(cairo_create(canvas.get()));
    cairo_t* cr = context.get();
    const TileStyle& style = found->luminance > lightPictureThreshold ? darkTile : lightTile;

    // The tile: a shadowed base fill, then the gradient over it, then the rim.
    paintShadow(cr, side, side, tileShadow, [](cairo_t* mask) {
        tilePath(mask);
        cairo_fill(mask);
    });
    tilePath(cr);
    setColour(cr, style.base);
    cairo_fill(cr);

    CairoPatternHolder gradient(cairo_pattern_create_linear(0, tileOrigin + tileSide, 0, tileOrigin));
    cairo_pattern_add_color_stop_rgb(gradient.get(), 0, style.base.red, style.base.green, style.base.blue);
    cairo_pattern_add_color_stop_rgb(gradient.get(), 1, style.top.red, style.top.green, style.top.blue);
    tilePath(cr);
    cairo_set_source(cr, gradient.get());
    cairo_fill(cr);

    tilePath(cr);
    cairo_set_source_rgba(cr, 1, 1, 1, style.rimAlpha);
    cairo_set_line_width(cr, rimWidth);
    cairo_stroke(cr);

    // The picture, fitted into the central square and centred, over its own shadow.
    const int pictureWidth = found->bounds.width;
    const int pictureHeight = found->bounds.height;
    const double scale = pictureArea / std::max(pictureWidth, pictureHeight);
    const double width = pictureWidth * scale;
    const double height = pictureHeight * scale;
    const double x = (side - width) / 2;
    const double y = (side - height) / 2;
    // Scaled once onto a layer of its own, which then serves as both the shadow's shape and
    // the picture: scaling is the costly step for a large picture.
    CairoSurfaceHolder layer = newCanvas(side, side);
    if (!layer)
        return std::nullopt;
    {
        CairoHolder layerContext(cairo_create(layer.get()));
        drawSurfaceInRect(layerContext.get(), picture.get(), x, y, width, height, highQualityFilter(scale));
    }
    const ShadowStyle pictureShadow { style.pictureShadowAlpha, pictureShadowBlur, 0, pictureShadowOffsetY };
    paintShadow(cr, side, side, pictureShadow, [&](cairo_t* mask) {
        cairo_set_source_surface(mask, layer.get(), 0, 0);
        cairo_paint(mask);
    });
    cairo_set_source_surface(cr, layer.get(), 0, 0);
    cairo_paint(cr);

    if (cairo_status(cr) != CAIRO_STATUS_SUCCESS)
        return std::nullopt;
    context.reset();
    return imageFromSurface(canvas.get());
}

}  // namespace quorvane
