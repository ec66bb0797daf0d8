#pragma once
// Moving pixels between GdkPixbuf (straight alpha, R G B A bytes) and Cairo image surfaces
// (premultiplied, native-endian ARGB words), and drawing one surface into a rectangle.

#include <optional>

#include <cairo.h>
#include <gdk-pixbuf/gdk-pixbuf.h>

#include "quorvane/holders/CairoHolders.hpp"
#include "quorvane/icons/Image.hpp"

namespace quorvane {

// A cleared (transparent) surface, or null if Cairo cannot make one of that size.
CairoSurfaceHolder newCanvas(int width, int height, cairo_format_t format = CAIRO_FORMAT_ARGB32);

// An ARGB32 copy of the pixbuf, or null if the surface cannot be made.
CairoSurfaceHolder surfaceFromPixbuf(const GdkPixbuf* pixbuf);

// An RGBA pixbuf copy of an ARGB32 surface, or nothing if the pixbuf cannot be made.
std::optional<Image> imageFromSurface(cairo_surface_t* surface);

// The filter for drawing a picture at high quality at this scale. Enlarging, Cairo's best
// filter keeps edges sharp where the good one (bilinear) blurs them; reducing, the good one
// already averages every source pixel (a box filter), and the best costs 2.4 times as much
// for a 2048-pixel picture reduced into the icon.
cairo_filter_t highQualityFilter(double scale);

// Draws `source` scaled into the rectangle with the given filter. The edge pixels are
// repeated up to the rectangle's border rather than faded into transparency, so the
// rectangle is covered edge to edge, as a picture placed in a frame should be.
void drawSurfaceInRect(
    cairo_t* cr, cairo_surface_t* source, double x, double y, double width, double height, cairo_filter_t filter);

}  // namespace quorvane
