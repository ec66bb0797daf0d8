#include "quorvane/shell/StorageOpening.hpp"

#include <glib.h>

#include <atomic>
#include <optional>
#include <utility>

namespace quorvane {

// What the thread and the main loop's delivery share; either may be the last to let it go.
struct StorageOpening::Shared {
    std::function<void(OpenedStorage)> done;
    std::optional<OpenedStorage> result;
    std::atomic<bool> abandoned = false;
};

StorageOpening::StorageOpening(
    std::function<std::unique_ptr<VaultStorage>()> openStore, std::function<void(OpenedStorage)> done)
    : shared_(std::make_shared<Shared>())
{
    shared_->done = std::move(done);
    thread_ = std::thread([shared = shared_, openStore = std::move(openStore)]() mutable {
        shared->result = openStorage(openStore);
        // Only the main thread reads the result, after this hand-over. (Not g_main_context_invoke:
        // it would run the delivery right here whenever this thread can take the main context.)
        g_idle_add_full(
            G_PRIORITY_DEFAULT,
            [](gpointer data) -> gboolean {
                auto& shared = *static_cast<std::shared_ptr<Shared>*>(data);
                if (!shared->abandoned && shared->result && shared->done)
                    shared->done(std::move(*shared->result));
                shared->result.reset();
                return G_SOURCE_REMOVE;
            },
            new std::shared_ptr<Shared>(shared),
            [](gpointer data) { delete static_cast<std::shared_ptr<Shared>*>(data); });
    });
}

StorageOpening::~StorageOpening()
{
    shared_->abandoned = true;
    wait();
}

void StorageOpening::wait()
{
    if (thread_.joinable())
        thread_.join();
}

}  // namespace quorvane
