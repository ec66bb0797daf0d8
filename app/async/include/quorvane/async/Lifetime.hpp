#pragma once

// Weak lifetimes for owners of GLib callbacks.
//
// An owner keeps a Lifetime member and hands out its token(); a callback holds the token and
// checks it before touching the owner, so a callback that outlives its owner does nothing.
// weakCallback() wraps the check. For C callbacks, newWeakData()/deleteWeakData() make the
// heap-held token that serves as user data, with its destroy notify.

#include <functional>
#include <memory>
#include <utility>

#include <glib-object.h>  // GClosure, for deleteWeakClosureData

namespace quorvane {

class Lifetime {
public:
    using Token = std::weak_ptr<void>;
    Lifetime()
        : alive_(std::make_shared<char>())
    {
    }
    Lifetime(const Lifetime&) = delete;
    Lifetime& operator=(const Lifetime&) = delete;
    Token token() const { return alive_; }
    // Ends the lifetime early: every token handed out so far reads as expired.
    void end() { alive_.reset(); }

private:
    std::shared_ptr<void> alive_;
};

// fn(args…) runs only while the token's owner is alive.
template <class Fn>
auto weakCallback(Lifetime::Token token, Fn fn)
{
    return [token = std::move(token), fn = std::move(fn)](auto&&... args) {
        if (auto alive = token.lock())
            fn(std::forward<decltype(args)>(args)...);
    };
}

// A weak_ptr on the heap, to pass as a GLib callback's user data.
template <class T>
gpointer newWeakData(const std::shared_ptr<T>& object)
{
    return new std::weak_ptr<T>(object);
}
template <class T>
std::shared_ptr<T> lockWeakData(gpointer data)
{
    return static_cast<std::weak_ptr<T>*>(data)->lock();
}
template <class T>
void deleteWeakData(gpointer data)  // a GDestroyNotify
{
    delete static_cast<std::weak_ptr<T>*>(data);
}
template <class T>
void deleteWeakClosureData(gpointer data, GClosure*)  // a GClosureNotify
{
    delete static_cast<std::weak_ptr<T>*>(data);
}

}  // namespace quorvane
