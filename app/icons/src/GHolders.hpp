#pragma once
// Move-only owners of the GLib, GObject and Cairo resources used while drawing, so that
// every early return releases what it holds.

#include <memory>

#include <cairo.h>
#include <glib-object.h>

namespace quorvane {

struct GObjectUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
template <typename T>
using GObjectHolder = std::unique_ptr<T, GObjectUnref>;

struct GFreeDeleter {
    void operator()(gpointer memory) const { g_free(memory); }
};
using GCharHolder = std::unique_ptr<gchar, GFreeDeleter>;

class GErrorHolder {
public:
    GErrorHolder() = default;
    GErrorHolder(const GErrorHolder&) = delete;
    GErrorHolder& operator=(const GErrorHolder&) = delete;
    ~GErrorHolder() { g_clear_error(&error_); }
    GError** out()
    {
        g_clear_error(&error_);
        return &error_;
    }
    const GError* get() const { return error_; }

private:
    GError* error_ = nullptr;
};

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
