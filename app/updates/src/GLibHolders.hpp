#pragma once

// Small owners for GLib resources used by the update driver. GObject references are held by the
// application's shared quorvane::GObjectPtr.

#include <utility>

#include <glib-object.h>

namespace quorvane::updates_detail {

// Owns an attached GSource and destroys it (so its callback never runs again) when dropped.
class SourceHolder {
public:
    SourceHolder() = default;
    explicit SourceHolder(GSource* attached)
        : source_(attached)
    {
    }
    SourceHolder(SourceHolder&& other) noexcept
        : source_(std::exchange(other.source_, nullptr))
    {
    }
    SourceHolder& operator=(SourceHolder&& other) noexcept
    {
        SourceHolder moved(std::move(other));
        std::swap(source_, moved.source_);
        return *this;
    }
    SourceHolder(const SourceHolder&) = delete;
    SourceHolder& operator=(const SourceHolder&) = delete;
    ~SourceHolder() { reset(); }

    void reset()
    {
        if (GSource* source = std::exchange(source_, nullptr)) {
            g_source_destroy(source);
            g_source_unref(source);
        }
    }

private:
    GSource* source_ = nullptr;
};

// Owns a GError.
class ErrorHolder {
public:
    ErrorHolder() = default;
    ErrorHolder(const ErrorHolder&) = delete;
    ErrorHolder& operator=(const ErrorHolder&) = delete;
    ~ErrorHolder() { g_clear_error(&error_); }
    GError** out() { return &error_; }
    GError* get() const { return error_; }
    explicit operator bool() const { return error_ != nullptr; }

private:
    GError* error_ = nullptr;
};

}  // namespace quorvane::updates_detail
