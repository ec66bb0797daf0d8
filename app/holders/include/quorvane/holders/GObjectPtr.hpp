#pragma once

// A move-only owner of one GObject reference, so no g_object_unref is ever written by hand.
// GObjects only: other reference-counted C objects (GSource, GBytes, Cairo surfaces) have
// their own holders beside this one, because their ref and unref functions differ.

#include <utility>

#include <glib-object.h>

namespace quorvane {

template <class T>
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
            g_object_unref(old);
    }

private:
    explicit GObjectPtr(T* object)
        : object_(object)
    {
    }
    T* object_ = nullptr;
};

}  // namespace quorvane
