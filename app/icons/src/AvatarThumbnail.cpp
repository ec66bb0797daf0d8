#include "quorvane/icons/AvatarThumbnail.hpp"

#include <algorithm>
#include <cmath>

#include "PixelSurfaces.hpp"
#include "quorvane/holders/CairoHolders.hpp"
#include "quorvane/icons/Image.hpp"

namespace quorvane {
namespace {

// Reduces the decoded picture to at most 256 pixels on its longer side, never enlarging:
// a thumbnail made from the full image, as the drawing step below does its own scaling.
std::optional<Image> thumbnail(const Image& full)
{
    const int width = full.width();
    const int height = full.height();
    const int longer = std::max(width, height);
    if (longer <= avatarThumbnailSide)
        return full;
    const double scale = static_cast<double>(avatarThumbnailSide) / longer;
    const int thumbWidth = std::max(1, static_cast<int>(std::lround(width * scale)));
    const int thumbHeight = std::max(1, static_cast<int>(std::lround(height * scale)));
    GdkPixbuf* scaled = gdk_pixbuf_scale_simple(full.pixbuf(), thumbWidth, thumbHeight, GDK_INTERP_HYPER);
    if (scaled == nullptr)
        return std::nullopt;
    return Image::adopt(scaled);
}

cairo_status_t appendToVector(void* closure, const unsigned char* data, unsigned int length)
{
    auto* bytes = static_cast<std::vector<std::uint8_t>*>(closure);
    bytes->insert(bytes->end(), data, data + length);
    return CAIRO_STATUS_SUCCESS;
}

}  // namespace

std::optional<std::vector<std::uint8_t>> avatarThumbnailPNG(std::span<const std::uint8_t> data)
{
    if (data.size() >= avatarByteLimit)
        return std::nullopt;
    const std::optional<Image> decoded = Image::decode(data);
    if (!decoded)
        return std::nullopt;
    const std::optional<Image> small = thumbnail(*decoded);
    if (!small)
        return std::nullopt;
    CairoSurfaceHolder picture = surfaceFromPixbuf(small->pixbuf());
    if (!picture)
        return std::nullopt;

    constexpr double side = avatarThumbnailSide;
    CairoSurfaceHolder canvas = newCanvas(avatarThumbnailSide, avatarThumbnailSide);
    if (!canvas)
        return std::nullopt;
    {
        CairoHolder cr(cairo_create(canvas.get()));
        const double scale = std::min(side / small->width(), side / small->height());
        const double width = small->width() * scale;
        const double height = small->height() * scale;
        drawSurfaceInRect(
            cr.get(), picture.get(), (side - width) / 2, (side - height) / 2, width, height, highQualityFilter(scale));
        if (cairo_status(cr.get()) != CAIRO_STATUS_SUCCESS)
            return std::nullopt;
    }

    std::vector<std::uint8_t> png;
    if (cairo_surface_write_to_png_stream(canvas.get(), appendToVector, &png) != CAIRO_STATUS_SUCCESS) {
        return std::nullopt;
    }
    return png;
}

}  // namespace quorvane
