// The vault key in the desktop keyring, over the Secret Service API.
//
// libsecret's simple password lookup reports "no item" both when there is none and when the
// only match is locked and the unlock prompt was dismissed. Since "no item" is what allows a
// new key to be made, the lookup searches all items, locked ones included, and asks to unlock
// them: an item that stays locked is "unavailable", never "not found".

#include "quorvane/KeyStore.hpp"

#include <memory>

#include <libsecret/secret.h>

namespace quorvane {

namespace {

struct Freer {
    void operator()(GError* error) const { g_error_free(error); }
    void operator()(GObject* object) const { g_object_unref(object); }
    void operator()(GHashTable* table) const { g_hash_table_unref(table); }
    void operator()(GList* items) const { g_list_free_full(items, g_object_unref); }
    void operator()(SecretValue* value) const { secret_value_unref(value); }
};

using ErrorHolder = std::unique_ptr<GError, Freer>;
using ServiceHolder = std::unique_ptr<GObject, Freer>;
using AttributesHolder = std::unique_ptr<GHashTable, Freer>;
using ItemsHolder = std::unique_ptr<GList, Freer>;
using ValueHolder = std::unique_ptr<SecretValue, Freer>;

// Items are written under the schema's name so that keyring tools show what they belong to.
const SecretSchema* storeSchema()
{
    static const SecretSchema schema = [] {
        SecretSchema s {};
        s.name = kVaultKeyService;
        s.flags = SECRET_SCHEMA_NONE;
        s.attributes[0] = { "service", SECRET_SCHEMA_ATTRIBUTE_STRING };
        s.attributes[1] = { "account", SECRET_SCHEMA_ATTRIBUTE_STRING };
        s.attributes[2] = { nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING };
        return s;
    }();
    return &schema;
}

// Lookups match on service and account alone, like a generic-password item, so an item written
// by another tool with the same attributes is found too (and then judged by its contents).
const SecretSchema* lookupSchema()
{
    static const SecretSchema schema = [] {
        SecretSchema s = *storeSchema();
        s.flags = SECRET_SCHEMA_DONT_MATCH_NAME;
        return s;
    }();
    return &schema;
}

KeyLookup unavailable(std::string detail)
{
    KeyLookup lookup;
    lookup.status = KeyLookup::Status::unavailable;
    lookup.detail = std::move(detail);
    return lookup;
}

std::string describe(const GError* error, const char* fallback) { return error ? error->message : fallback; }

class SecretKeyStore final : public KeyStore {
public:
    KeyLookup find(const std::string& service, const std::string& account) override
    {
        GError* rawError = nullptr;
        ServiceHolder service_(G_OBJECT(secret_service_get_sync(SECRET_SERVICE_OPEN_SESSION, nullptr, &rawError)));
        ErrorHolder error(rawError);
        if (!service_ || error)
            return unavailable(describe(error.get(), "The Secret Service could not be reached."));

        AttributesHolder attributes(
            secret_attributes_build(lookupSchema(), "service", service.c_str(), "account", account.c_str(), nullptr));
        if (!attributes)
            return unavailable("The lookup attributes are invalid.");
        auto flags
            = static_cast<SecretSearchFlags>(SECRET_SEARCH_ALL | SECRET_SEARCH_UNLOCK | SECRET_SEARCH_LOAD_SECRETS);
        ItemsHolder items(secret_service_search_sync(
            SECRET_SERVICE(service_.get()), lookupSchema(), attributes.get(), flags, nullptr, &rawError));
        error.reset(rawError);
        if (error)
            return unavailable(describe(error.get(), "The keyring search failed."));
        if (!items) {
            KeyLookup lookup;
            lookup.status = KeyLookup::Status::notFound;
            return lookup;
        }

        for (GList* node = items.get(); node; node = node->next) {
            auto* item = SECRET_ITEM(node->data);
            if (secret_item_get_locked(item))
                continue;
            ValueHolder value(secret_item_get_secret(item));
            if (!value) {
                if (!secret_item_load_secret_sync(item, nullptr, &rawError)) {
                    error.reset(rawError);
                    continue;
                }
                value.reset(secret_item_get_secret(item));
                if (!value)
                    continue;
            }
            gsize length = 0;
            const gchar* bytes = secret_value_get(value.get(), &length);
            KeyLookup lookup;
            lookup.status = KeyLookup::Status::found;
            lookup.data.assign(
                reinterpret_cast<const std::uint8_t*>(bytes), reinterpret_cast<const std::uint8_t*>(bytes) + length);
            return lookup;
        }
        // Every match stayed locked (or would not give up its secret): the key exists but
        // cannot be had now, which is not the same as having no key.
        return unavailable(describe(error.get(), "The key item is locked."));
    }

    bool add(const std::string& service, const std::string& account, std::span<const std::uint8_t> secret) override
    {
        ValueHolder value(secret_value_new(reinterpret_cast<const gchar*>(secret.data()),
            static_cast<gssize>(secret.size()), "application/octet-stream"));
        GError* rawError = nullptr;
        gboolean stored
            = secret_password_store_binary_sync(storeSchema(), SECRET_COLLECTION_DEFAULT, "Quorvane encryption key",
                value.get(), nullptr, &rawError, "service", service.c_str(), "account", account.c_str(), nullptr);
        ErrorHolder error(rawError);
        return stored && !error;
    }
};

}  // namespace

std::unique_ptr<KeyStore> makeSecretKeyStore() { return std::make_unique<SecretKeyStore>(); }

}  // namespace quorvane
