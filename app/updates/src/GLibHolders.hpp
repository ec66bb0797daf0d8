#pragma once

// Small owners for GLib resources used by the update driver.

#include <utility>

#include <glib-object.h>

namespace quorvane::updates_detail {

// Owns one reference to a GObject.
template <class T>
class GObjectPtr {
public:
    GObjectPtr() = default;
    // Takes over a reference the caller owns (a "transfer full" result).
    static GObjectPtr adopt(T* object)
    {
        GObjectPtr holder;
        holder.object_ = object;
        return holder;
    }
    GObjectPtr(GObjectPtr&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    GObjectPtr& operator=(GObjectPtr&& other) noexcept
    {
        GObjectPtr moved(std::move(other));
        std::swap(object_, moved.object_);
        return *this;
    }
    GObjectPtr(const GObjectPtr&) = delete;
    GObjectPtr& operator=(const GObjectPtr&) = delete;
    ~GObjectPtr() { reset(); }

    void reset()
    {
        if (object_)
            g_object_unref(std::exchange(object_, nullptr));
    }
    T* get() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }

private:
    T* object_ = nullptr;
};

// Owns an attached GSource and destroys it (so its callback never runs again) when dropped.
class SourceHolder {
public:
    SourceHolder() = default;
    explicit SourceHolder(GSource* attached) : source_(attached) {}
    SourceHolder(SourceHolder&& other) noexcept : source_(std::exchange(other.source_, nullptr)) {}
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

} // namespace quorvane::updates_detail
