#include "quorvane/icons/BuiltInAvatarPicture.hpp"

#include <array>
#include <cmath>
#include <utility>

#include "PixelSurfaces.hpp"
#include "quorvane/holders/CairoHolders.hpp"

namespace quorvane {
namespace {

// Each avatar's hue, as web/interface/avatars/avatars.json gives it.
constexpr std::array<std::pair<std::string_view, int>, 32> kHues { {
    { "dot", 214 },
    { "ceo", 232 },
    { "muse", 290 },
    { "coach", 8 },
    { "scientist", 168 },
    { "explorer", 32 },
    { "chef", 20 },
    { "artist", 320 },
    { "pilot", 200 },
    { "gardener", 120 },
    { "wizard", 262 },
    { "reader", 352 },
    { "astronaut", 244 },
    { "detective", 40 },
    { "robot", 186 },
    { "firstmate", 208 },
    { "gym", 0 },
    { "runner", 28 },
    { "yogi", 150 },
    { "cyclist", 96 },
    { "gamer", 276 },
    { "coder", 222 },
    { "writer", 340 },
    { "musician", 304 },
    { "photographer", 192 },
    { "student", 236 },
    { "planner", 176 },
    { "meditator", 256 },
    { "dancer", 330 },
    { "maker", 24 },
    { "petlover", 36 },
    { "barista", 26 },
} };

struct RGB {
    double red, green, blue;
};

// CSS hsl(): hue in degrees, saturation and lightness 0…1.
RGB fromHSL(double hue, double saturation, double lightness)
{
    const double chroma = (1 - std::abs(2 * lightness - 1)) * saturation;
    const double h = std::fmod(hue, 360.0) / 60.0;
    const double x = chroma * (1 - std::abs(std::fmod(h, 2.0) - 1));
    RGB rgb { 0, 0, 0 };
    if (h < 1)
        rgb = { chroma, x, 0 };
    else if (h < 2)
        rgb = { x, chroma, 0 };
    else if (h < 3)
        rgb = { 0, chroma, x };
    else if (h < 4)
        rgb = { 0, x, chroma };
    else if (h < 5)
        rgb = { x, 0, chroma };
    else
        rgb = { chroma, 0, x };
    const double m = lightness - chroma / 2;
    return { rgb.red + m, rgb.green + m, rgb.blue + m };
}

cairo_status_t appendToVector(void* closure, const unsigned char* data, unsigned int length)
{
    auto* bytes = static_cast<std::vector<std::uint8_t>*>(closure);
    bytes->insert(bytes->end(), data, data + length);
    return CAIRO_STATUS_SUCCESS;
}

}  // namespace

std::optional<std::vector<std::uint8_t>> builtInAvatarPNG(std::string_view kind)
{
    int hue = kHues[0].second;
    for (const auto& [id, value] : kHues)
        if (id == kind)
            hue = value;

    constexpr double side = builtInAvatarPictureSide;
    CairoSurfaceHolder canvas = newCanvas(builtInAvatarPictureSide, builtInAvatarPictureSide);
    if (!canvas)
        return std::nullopt;
    {
        CairoHolder cr(cairo_create(canvas.get()));
        CairoPatternHolder gradient(cairo_pattern_create_linear(0, 0, 0, side));
        const RGB top = fromHSL(hue, 0.72, 0.62);
        const RGB bottom = fromHSL((hue + 12) % 360, 0.66, 0.46);
        cairo_pattern_add_color_stop_rgb(gradient.get(), 0, top.red, top.green, top.blue);
        cairo_pattern_add_color_stop_rgb(gradient.get(), 1, bottom.red, bottom.green, bottom.blue);
        cairo_arc(cr.get(), side / 2, side / 2, side / 2, 0, 2 * M_PI);
        cairo_set_source(cr.get(), gradient.get());
        cairo_fill(cr.get());
        if (cairo_status(cr.get()) != CAIRO_STATUS_SUCCESS)
            return std::nullopt;
    }
    std::vector<std::uint8_t> png;
    if (cairo_surface_write_to_png_stream(canvas.get(), appendToVector, &png) != CAIRO_STATUS_SUCCESS)
        return std::nullopt;
    return png;
}

}  // namespace quorvane
