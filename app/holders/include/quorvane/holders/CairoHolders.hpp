#pragma once

// Move-only owners of the Cairo objects used while drawing.

#include <memory>

#include <cairo.h>

namespace quorvane {

struct CairoSurfaceDestroy {
    void operator()(cairo_surface_t* surface) const { cairo_surface_destroy(surface); }
};
using CairoSurfaceHolder = std::unique_ptr<cairo_surface_t, CairoSurfaceDestroy>;

struct CairoDestroy {
    void operator()(cairo_t* cr) const { cairo_destroy(cr); }
};
using CairoHolder = std::unique_ptr<cairo_t, CairoDestroy>;

struct CairoPatternDestroy {
    void operator()(cairo_pattern_t* pattern) const { cairo_pattern_destroy(pattern); }
};
using CairoPatternHolder = std::unique_ptr<cairo_pattern_t, CairoPatternDestroy>;

}  // namespace quorvane
