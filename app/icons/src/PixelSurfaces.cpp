#include "PixelSurfaces.hpp"

#include <cstdint>
#include <cstring>

namespace quorvane {
namespace {

// Exact round(value * alpha / 255) for 8-bit inputs.
inline std::uint32_t premultiply(std::uint32_t value, std::uint32_t alpha)
{
    std::uint32_t t = value * alpha + 128;
    return (t + (t >> 8)) >> 8;
}

// round(value * 255 / alpha) by a table of fixed-point reciprocals, since a division per
// component is most of the cost of turning a 1024×1024 canvas into a pixbuf.
struct Unpremultiplier {
    Unpremultiplier()
    {
        for (std::uint32_t alpha = 1; alpha < 256; ++alpha)
            reciprocals[alpha] = ((255u << 16) + alpha / 2) / alpha;
    }
    std::uint8_t operator()(std::uint32_t value, std::uint32_t alpha) const
    {
        const std::uint32_t straight = (value * reciprocals[alpha] + 32768u) >> 16;
        return static_cast<std::uint8_t>(straight > 255 ? 255 : straight);
    }
    std::uint32_t reciprocals[256] = {};
};

}  // namespace

CairoSurfaceHolder newCanvas(int width, int height, cairo_format_t format)
{
    if (width <= 0 || height <= 0)
        return nullptr;
    CairoSurfaceHolder surface(cairo_image_surface_create(format, width, height));
    if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS)
        return nullptr;
    return surface;  // Cairo zero-fills new image surfaces.
}

CairoSurfaceHolder surfaceFromPixbuf(const GdkPixbuf* pixbuf)
{
    const int width = gdk_pixbuf_get_width(pixbuf);
    const int height = gdk_pixbuf_get_height(pixbuf);
    const int channels = gdk_pixbuf_get_n_channels(pixbuf);
    const bool hasAlpha = gdk_pixbuf_get_has_alpha(pixbuf);
    if (gdk_pixbuf_get_bits_per_sample(pixbuf) != 8 || gdk_pixbuf_get_colorspace(pixbuf) != GDK_COLORSPACE_RGB
        || channels < (hasAlpha ? 4 : 3)) {
        return nullptr;
    }
    CairoSurfaceHolder surface = newCanvas(width, height);
    if (!surface)
        return nullptr;
    cairo_surface_flush(surface.get());
    const guint8* sourceBase = gdk_pixbuf_read_pixels(pixbuf);
    const int sourceStride = gdk_pixbuf_get_rowstride(pixbuf);
    unsigned char* targetBase = cairo_image_surface_get_data(surface.get());
    const int targetStride = cairo_image_surface_get_stride(surface.get());
    for (int y = 0; y < height; ++y) {
        const guint8* source = sourceBase + static_cast<std::ptrdiff_t>(y) * sourceStride;
        auto* target = reinterpret_cast<std::uint32_t*>(targetBase + static_cast<std::ptrdiff_t>(y) * targetStride);
        for (int x = 0; x < width; ++x, source += channels) {
            const std::uint32_t alpha = hasAlpha ? source[3] : 255;
            target[x] = alpha << 24 | premultiply(source[0], alpha) << 16 | premultiply(source[1], alpha) << 8
                | premultiply(source[2], alpha);
        }
    }
    cairo_surface_mark_dirty(surface.get());
    return surface;
}

std::optional<Image> imageFromSurface(cairo_surface_t* surface)
{
    cairo_surface_flush(surface);
    const int width = cairo_image_surface_get_width(surface);
    const int height = cairo_image_surface_get_height(surface);
    GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, width, height);
    if (pixbuf == nullptr)
        return std::nullopt;
    Image image = Image::adopt(pixbuf);
    guint8* targetBase = gdk_pixbuf_get_pixels(pixbuf);
    const int targetStride = gdk_pixbuf_get_rowstride(pixbuf);
    const unsigned char* sourceBase = cairo_image_surface_get_data(surface);
    const int sourceStride = cairo_image_surface_get_stride(surface);
    static const Unpremultiplier unpremultiply;
    for (int y = 0; y < height; ++y) {
        const auto* source
            = reinterpret_cast<const std::uint32_t*>(sourceBase + static_cast<std::ptrdiff_t>(y) * sourceStride);
        guint8* target = targetBase + static_cast<std::ptrdiff_t>(y) * targetStride;
        for (int x = 0; x < width; ++x, target += 4) {
            const std::uint32_t pixel = source[x];
            const std::uint32_t alpha = pixel >> 24;
            if (alpha == 0) {
                std::memset(target, 0, 4);
                continue;
            }
            if (alpha == 255) {
                target[0] = static_cast<guint8>(pixel >> 16);
                target[1] = static_cast<guint8>(pixel >> 8);
                target[2] = static_cast<guint8>(pixel);
                target[3] = 255;
                continue;
            }
            target[0] = unpremultiply(pixel >> 16 & 0xff, alpha);
            target[1] = unpremultiply(pixel >> 8 & 0xff, alpha);
            target[2] = unpremultiply(pixel & 0xff, alpha);
            target[3] = static_cast<guint8>(alpha);
        }
    }
    return image;
}

cairo_filter_t highQualityFilter(double scale) { return scale > 1 ? CAIRO_FILTER_BEST : CAIRO_FILTER_GOOD; }

void drawSurfaceInRect(
    cairo_t* cr, cairo_surface_t* source, double x, double y, double width, double height, cairo_filter_t filter)
{
    const double scaleX = width / cairo_image_surface_get_width(source);
    const double scaleY = height / cairo_image_surface_get_height(source);
    cairo_save(cr);
    cairo_rectangle(cr, x, y, width, height);
    cairo_translate(cr, x, y);
    cairo_scale(cr, scaleX, scaleY);
    cairo_set_source_surface(cr, source, 0, 0);
    cairo_pattern_t* pattern = cairo_get_source(cr);
    cairo_pattern_set_extend(pattern, CAIRO_EXTEND_PAD);
    cairo_pattern_set_filter(pattern, filter);
    cairo_fill(cr);
    cairo_restore(cr);
}

}  // namespace quorvane
