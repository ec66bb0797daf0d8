#pragma once
// The "dot" application icon: the opaque part of a picture (normally the Dot profile's
// avatar), cropped, centred on a rounded tile whose colours follow the picture's brightness.
// Pure functions: no side effects, and nothing as the result of any failure.

#include <optional>

#include "quorvane/icons/Image.hpp"

namespace quorvane {

// A rectangle in an image's pixel coordinates, origin at the top left.
struct PixelRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool operator==(const PixelRect&) const = default;
};

struct DotAppIcon {
    // The icon's size in pixels (and points: the icon is drawn at one pixel per point).
    static constexpr int side = 1024;

    struct Content {
        PixelRect bounds;  // the visible part, padded and clamped to the image
        double luminance;  // alpha-weighted mean luminance of the visible part, 0…1
        bool operator==(const Content&) const = default;
    };

    // A 1024×1024 icon made from the picture; nothing if the picture has no visible pixel
    // or a drawing step fails.
    static std::optional<Image> make(const Image& image);

    // Where the picture's visible pixels are and how light they are, measured on a copy at
    // most 256 pixels on its longer side. Nothing if no pixel is visible (alpha ≤ 0.04).
    static std::optional<Content> content(const Image& image);
};

}  // namespace quorvane
