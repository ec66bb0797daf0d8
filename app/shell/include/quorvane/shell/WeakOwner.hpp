#pragma once

// GLib signal handlers of the shell's objects hold their owner through a weak token: the
// handler's user data is a heap-held (token, owner) pair, and the owner pointer is used only
// while the token is alive. The pair is freed with the handler.

#include <glib-object.h>

#include "quorvane/async/Lifetime.hpp"

namespace quorvane {

template <class Owner>
struct WeakOwner {
    Lifetime::Token token;
    Owner* owner;

    // The owner while it lives, else null.
    Owner* get() const { return token.expired() ? nullptr : owner; }

    static Owner* from(gpointer data) { return static_cast<WeakOwner*>(data)->get(); }
    static void destroy(gpointer data, GClosure*) { delete static_cast<WeakOwner*>(data); }
};

template <class Owner>
gulong connectWeakOwner(
    gpointer instance, const char* signal, GCallback callback, const Lifetime& lifetime, Owner* owner)
{
    return g_signal_connect_data(instance, signal, callback, new WeakOwner<Owner> { lifetime.token(), owner },
        &WeakOwner<Owner>::destroy, GConnectFlags(0));
}

}  // namespace quorvane
