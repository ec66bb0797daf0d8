#pragma once

// The keyring that holds the vault's encryption key: one item identified by a service and an
// account name. SecureStore talks to it only through this interface so that tests can stand in
// for the desktop keyring.
//
// The one rule every implementation must keep: "not found" means the keyring answered and
// holds no such item. A keyring that is locked, absent or failing must report `unavailable`,
// never `notFound`, because "not found" is what allows a new key to be made.

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "quorvane/NamedEnum.hpp"

namespace quorvane {

inline constexpr char kVaultKeyService[] = "local.vemir.quorvane.vault";
inline constexpr char kVaultKeyAccount[] = "encryption-key";

struct KeyLookup {
    enum class Status {
        found,  // `data` holds the item's secret, of whatever length it has
        notFound,  // the keyring answered: there is no such item
        unavailable,  // the keyring could not be asked, or would not open the item
    };
    Status status = Status::unavailable;
    std::vector<std::uint8_t> data;
    std::string detail;  // why it was unavailable, for diagnostics only
};

template <>
struct EnumNames<KeyLookup::Status> {
    static constexpr std::string_view what = "key lookup status";
    static constexpr std::array<std::string_view, 3> names = { "found", "notFound", "unavailable" };
};

class KeyStore {
public:
    virtual ~KeyStore() = default;

    // Looks up the item with this service and account.
    virtual KeyLookup find(const std::string& service, const std::string& account) = 0;

    // Adds the item; false when the keyring would not store it.
    virtual bool add(const std::string& service, const std::string& account, std::span<const std::uint8_t> secret) = 0;
};

// The desktop keyring over the Secret Service API (libsecret, synchronous calls), with the
// schema "local.vemir.quorvane.vault" and the attributes `service` and `account`.
std::unique_ptr<KeyStore> makeSecretKeyStore();

}  // namespace quorvane
