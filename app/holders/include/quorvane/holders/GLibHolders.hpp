#pragma once

// Move-only owners of plain GLib resources: memory from g_malloc, a GError, an attached GSource.
// Every early return then releases what it holds.

#include <memory>
#include <utility>

#include <glib.h>

namespace quorvane {

struct GFreeDeleter {
    void operator()(gpointer memory) const { g_free(memory); }
};
// A string (or any block) that GLib handed over with "transfer full".
using GCharPtr = std::unique_ptr<gchar, GFreeDeleter>;

class GErrorHolder {
public:
    GErrorHolder() = default;
    GErrorHolder(const GErrorHolder&) = delete;
    GErrorHolder& operator=(const GErrorHolder&) = delete;
    ~GErrorHolder() { g_clear_error(&error_); }
    // For a GError** out-parameter; clears an earlier error so the holder can be reused.
    GError** out()
    {
        g_clear_error(&error_);
        return &error_;
    }
    GError* get() const { return error_; }
    explicit operator bool() const { return error_ != nullptr; }

private:
    GError* error_ = nullptr;
};

// Owns an attached GSource and destroys it (so its callback never runs again) when dropped.
class GSourceHolder {
public:
    GSourceHolder() = default;
    explicit GSourceHolder(GSource* attached)
        : source_(attached)
    {
    }
    GSourceHolder(GSourceHolder&& other) noexcept
        : source_(std::exchange(other.source_, nullptr))
    {
    }
    GSourceHolder& operator=(GSourceHolder&& other) noexcept
    {
        GSourceHolder moved(std::move(other));
        std::swap(source_, moved.source_);
        return *this;
    }
    GSourceHolder(const GSourceHolder&) = delete;
    GSourceHolder& operator=(const GSourceHolder&) = delete;
    ~GSourceHolder() { reset(); }

    void reset()
    {
        if (GSource* source = std::exchange(source_, nullptr)) {
            g_source_destroy(source);
            g_source_unref(source);
        }
    }
    explicit operator bool() const { return source_ != nullptr; }

private:
    GSource* source_ = nullptr;
};

}  // namespace quorvane
