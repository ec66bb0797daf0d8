#include "quorvane/async/CancelToken.hpp"

namespace quorvane {

void CancelState::cancel()
{
    if (cancelled_)
        return;
    cancelled_ = true;
    auto keepAlive = shared_from_this();  // the waiter may drop the last other owner
    if (cancellable_)
        g_cancellable_cancel(cancellable_.get());
    if (auto waiter = std::exchange(waiter_, nullptr)) {
        waiterID_ = 0;
        waiter();
    }
}

GCancellable* CancelState::cancellable()
{
    if (!cancellable_) {
        cancellable_ = GObjectPtr<GCancellable>::adopt(g_cancellable_new());
        if (cancelled_)
            g_cancellable_cancel(cancellable_.get());
    }
    return cancellable_.get();
}

CancelState::Registration CancelState::onCancel(std::function<void()> waiter)
{
    waiter_ = std::move(waiter);
    static std::uint64_t nextID = 0;
    waiterID_ = ++nextID;
    return Registration(weak_from_this(), waiterID_);
}

void CancelState::Registration::reset()
{
    if (id_ == 0)
        return;
    if (auto state = state_.lock(); state && state->waiterID_ == id_) {
        state->waiter_ = nullptr;
        state->waiterID_ = 0;
    }
    id_ = 0;
    state_.reset();
}

}  // namespace quorvane
