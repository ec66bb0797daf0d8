#pragma once
// Pictures made to order for the icon tests, and ways to look at the result's pixels.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include <cairo.h>
#include <gdk-pixbuf/gdk-pixbuf.h>

#include "quorvane/icons/Image.hpp"

namespace quorvane::icontest {

struct RGBA {
    int red = 0, green = 0, blue = 0, alpha = 0;
    bool operator==(const RGBA&) const = default;
};

struct Area {
    int x, y, width, height;
};

std::ostream& operator<<(std::ostream& out, const RGBA& pixel);

// A w×h picture, transparent except for `area`, which holds `colour` (straight alpha).
Image pictureWith(int width, int height, Area area, RGBA colour);

// A w×h picture drawn by `draw` on a Cairo context (premultiplied, as Cairo draws).
template <typename Draw>
Image drawnPicture(int width, int height, Draw&& draw);
Image imageOfSurface(cairo_surface_t* surface);

RGBA pixelAt(const Image& image, int x, int y);

Image decodePNG(const std::vector<std::uint8_t>& png);
std::vector<std::uint8_t> encode(const Image& image, const char* type);

// Puts the picture in the build tree for a person to look at.
void writeArtifact(const Image& image, const std::string& name);
void writeArtifact(const std::vector<std::uint8_t>& png, const std::string& name);

// JPEG surgery: segments inserted right after the start-of-image marker.
std::vector<std::uint8_t> withExifOrientation(std::vector<std::uint8_t> jpeg, int orientation);
std::vector<std::uint8_t> paddedWithComments(std::vector<std::uint8_t> jpeg, std::size_t totalSize);

template <typename Draw>
Image drawnPicture(int width, int height, Draw&& draw)
{
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
    cairo_t* cr = cairo_create(surface);
    draw(cr);
    cairo_destroy(cr);
    Image image = imageOfSurface(surface);
    cairo_surface_destroy(surface);
    return image;
}

}  // namespace quorvane::icontest
