#pragma once
// Drop shadows for Cairo, which has none of its own.
//
// A shadow is the alpha of a shape, blurred, painted in black at some opacity and offset.
// The blur approximates a Gaussian by three box blurs in each direction (the error stays
// under 3 % of the Gaussian), which costs the same for any radius: a few milliseconds for a
// 1024×1024 canvas, where a true separable Gaussian of this size takes tens.

#include <functional>

#include <cairo.h>

namespace quorvane {

struct ShadowStyle {
    double alpha;  // opacity of the black shadow
    double blurRadius;  // read as the standard deviation times two, as CSS reads its blur radius
    double offsetX;  // in Cairo's device space, y pointing down
    double offsetY;
};

// Blurs the alpha of an A8 surface in place; outside the surface counts as transparent.
void blurAlphaMask(cairo_surface_t* mask, double blurRadius);

// Paints the shadow of whatever `drawShape` draws (given a context on a canvas of the same
// size as the target) under `cr`'s current contents. Does nothing if the mask canvas
// cannot be made.
void paintShadow(
    cairo_t* cr, int width, int height, const ShadowStyle& style, const std::function<void(cairo_t*)>& drawShape);

}  // namespace quorvane
