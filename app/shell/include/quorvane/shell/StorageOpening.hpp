#pragma once

// Opens the vault's storage (openStorage) on a thread of its own, so that the window and the
// interface page start while a long history is decrypted, decoded and saved back, and hands the
// result to `done` on the main thread.
//
// Destroying the opening waits for the thread: it never outlives what it reads, and a quit in
// the first second cannot cut the start-up save short. `done` is not called after that; the
// result is then dropped. wait() blocks until the thread has ended (the result still arrives
// through the main loop).

#include <functional>
#include <memory>
#include <thread>

#include "quorvane/controller/OpenedStorage.hpp"

namespace quorvane {

class StorageOpening {
public:
    StorageOpening(std::function<std::unique_ptr<VaultStorage>()> openStore, std::function<void(OpenedStorage)> done);
    ~StorageOpening();
    StorageOpening(const StorageOpening&) = delete;
    StorageOpening& operator=(const StorageOpening&) = delete;

    void wait();

private:
    struct Shared;
    std::shared_ptr<Shared> shared_;
    std::thread thread_;
};

}  // namespace quorvane
