#pragma once

// Opening the vault's storage: open the store, load the vault, tidy and recover every account,
// save once. It is the slow part of a start (a long history takes a good part of a second to
// decrypt, decode and write back), and it touches nothing but the store it opens, so the shell
// runs it on a worker thread while its window and interface page start, and then hands the
// result to the Controller on the main thread.
//
// Any failure leaves `healthy` false with nothing on disk changed. `vault` is then the loaded
// vault when only the start-up save failed (retrying storage can save it), or a fresh
// placeholder with no store when nothing could be loaded (there is nothing to save it to).

#include <functional>
#include <memory>

#include "quorvane/Vault.hpp"
#include "quorvane/VaultStorage.hpp"

namespace quorvane {

struct OpenedStorage {
    std::unique_ptr<VaultStorage> store;
    Vault vault;
    bool healthy = false;
};

// Safe on any thread, as long as `openStore` and the store it makes are.
OpenedStorage openStorage(const std::function<std::unique_ptr<VaultStorage>()>& openStore);

}  // namespace quorvane
