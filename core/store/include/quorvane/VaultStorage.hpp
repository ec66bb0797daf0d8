#pragma once

// Where the vault is kept. The controller sees storage only through this interface, so a store
// with a fixed test key, or one held in memory, can stand in for the real one.

#include "quorvane/Vault.hpp"

namespace quorvane {

class VaultStorage {
public:
    virtual ~VaultStorage() = default;

    // The saved vault, or a fresh one when nothing has been saved yet.
    virtual Vault load() = 0;

    // Replaces the saved vault as a whole; on failure the previous one stays as it was.
    virtual void save(const Vault& vault) = 0;
};

}  // namespace quorvane
