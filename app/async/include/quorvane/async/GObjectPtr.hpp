#pragma once

// A move-only owner of one GObject reference (or of any reference-counted C object whose
// ref/unref functions are given), so no unref call is ever written by hand.

#include <utility>

#include <glib-object.h>

namespace quorvane {

template <class T, void (*Unref)(gpointer) = g_object_unref>
class GObjectPtr {
public:
    GObjectPtr() = default;
    // Takes over a reference the caller owns (a "transfer full" return value).
    static GObjectPtr adopt(T* object) { return GObjectPtr(object); }
    // Adds a reference of its own (a "transfer none" value).
    static GObjectPtr retain(T* object)
    {
        if (object)
            g_object_ref(object);
        return GObjectPtr(object);
    }

    GObjectPtr(GObjectPtr&& other) noexcept
        : object_(std::exchange(other.object_, nullptr))
    {
    }
    GObjectPtr& operator=(GObjectPtr&& other) noexcept
    {
        if (this != &other)
            reset(std::exchange(other.object_, nullptr));
        return *this;
    }
    GObjectPtr(const GObjectPtr&) = delete;
    GObjectPtr& operator=(const GObjectPtr&) = delete;
    ~GObjectPtr() { reset(); }

    T* get() const { return object_; }
    T* operator->() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }
    T* release() { return std::exchange(object_, nullptr); }
    void reset(T* object = nullptr)
    {
        if (T* old = std::exchange(object_, object))
            Unref(old);
    }

private:
    explicit GObjectPtr(T* object)
        : object_(object)
    {
    }
    T* object_ = nullptr;
};

}  // namespace quorvane
