#include "quorvane/shell/DesktopAppearance.hpp"

#include <cstring>
#include <optional>

#include <gio/gio.h>

#include "quorvane/async/Lifetime.hpp"
#include "quorvane/holders/GLibHolders.hpp"
#include "quorvane/holders/GObjectPtr.hpp"

namespace quorvane {

namespace {
constexpr const char* kPortalName = "org.freedesktop.portal.Desktop";
constexpr const char* kPortalPath = "/org/freedesktop/portal/desktop";
constexpr const char* kSettingsInterface = "org.freedesktop.portal.Settings";
constexpr const char* kNamespace = "org.freedesktop.appearance";
constexpr const char* kKey = "color-scheme";
}  // namespace

struct DesktopAppearance::State {
    std::function<void(bool)> onChange;
    bool dark = false;
    bool known = false;
    GObjectPtr<GDBusProxy> portal;
    GObjectPtr<GCancellable> cancellable = GObjectPtr<GCancellable>::adopt(g_cancellable_new());

    void report(bool value)
    {
        if (known && value == dark)
            return;
        known = true;
        dark = value;
        if (onChange) {
            auto callback = onChange;
            callback(value);
        }
    }

    // Without a portal: GNOME's own setting, when its schema is installed (as libadwaita does).
    static bool settingsPreferDark()
    {
        GSettingsSchemaSource* source = g_settings_schema_source_get_default();
        GSettingsSchema* schema
            = source ? g_settings_schema_source_lookup(source, "org.gnome.desktop.interface", TRUE) : nullptr;
        if (!schema)
            return false;
        bool known = g_settings_schema_has_key(schema, "color-scheme");
        g_settings_schema_unref(schema);
        if (!known)
            return false;
        auto settings = GObjectPtr<GSettings>::adopt(g_settings_new("org.gnome.desktop.interface"));
        GCharPtr scheme(g_settings_get_string(settings.get(), "color-scheme"));
        return g_strcmp0(scheme.get(), "prefer-dark") == 0;
    }
};

namespace {

// The portal's Read answers a variant that holds the value, in some versions twice wrapped.
std::optional<bool> darkFromValue(GVariant* value)
{
    GVariant* inner = g_variant_ref(value);
    while (g_variant_is_of_type(inner, G_VARIANT_TYPE_VARIANT)) {
        GVariant* next = g_variant_get_variant(inner);
        g_variant_unref(inner);
        inner = next;
    }
    std::optional<bool> out;
    if (g_variant_is_of_type(inner, G_VARIANT_TYPE_UINT32))
        out = g_variant_get_uint32(inner) == 1;
    g_variant_unref(inner);
    return out;
}

void useDesktopSettings(const std::shared_ptr<DesktopAppearance::State>& state)
{
    state->report(DesktopAppearance::State::settingsPreferDark());
}

void onPortalSignal(GDBusProxy*, gchar*, gchar* signal, GVariant* parameters, gpointer data)
{
    auto state = lockWeakData<DesktopAppearance::State>(data);
    if (!state || std::strcmp(signal, "SettingChanged") != 0
        || !g_variant_is_of_type(parameters, G_VARIANT_TYPE("(ssv)")))
        return;
    const gchar* space = nullptr;
    const gchar* key = nullptr;
    GVariant* value = nullptr;
    g_variant_get(parameters, "(&s&sv)", &space, &key, &value);
    if (std::strcmp(space, kNamespace) == 0 && std::strcmp(key, kKey) == 0) {
        if (auto dark = darkFromValue(value))
            state->report(*dark);
    }
    g_variant_unref(value);
}

void onRead(GObject* source, GAsyncResult* result, gpointer data)
{
    std::unique_ptr<std::weak_ptr<DesktopAppearance::State>> weak(
        static_cast<std::weak_ptr<DesktopAppearance::State>*>(data));
    GErrorHolder error;
    GVariant* answer = g_dbus_proxy_call_finish(G_DBUS_PROXY(source), result, error.out());
    auto state = weak->lock();
    if (!state) {
        if (answer)
            g_variant_unref(answer);
        return;
    }
    std::optional<bool> dark;
    if (answer) {
        GVariant* value = nullptr;
        g_variant_get(answer, "(v)", &value);
        dark = darkFromValue(value);
        g_variant_unref(value);
        g_variant_unref(answer);
    }
    if (dark)
        state->report(*dark);
    else
        useDesktopSettings(state);  // no portal, or one without the appearance setting
}

void onProxy(GObject*, GAsyncResult* result, gpointer data)
{
    std::unique_ptr<std::weak_ptr<DesktopAppearance::State>> weak(
        static_cast<std::weak_ptr<DesktopAppearance::State>*>(data));
    GErrorHolder error;
    auto proxy = GObjectPtr<GDBusProxy>::adopt(g_dbus_proxy_new_for_bus_finish(result, error.out()));
    auto state = weak->lock();
    if (!state)
        return;
    if (!proxy) {
        useDesktopSettings(state);
        return;
    }
    state->portal = std::move(proxy);
    g_signal_connect_data(state->portal.get(), "g-signal", G_CALLBACK(onPortalSignal), newWeakData(state),
        &deleteWeakClosureData<DesktopAppearance::State>, GConnectFlags(0));
    g_dbus_proxy_call(state->portal.get(), "Read", g_variant_new("(ss)", kNamespace, kKey), G_DBUS_CALL_FLAGS_NONE,
        2000, state->cancellable.get(), &onRead, new std::weak_ptr<DesktopAppearance::State>(state));
}

}  // namespace

DesktopAppearance::DesktopAppearance()
    : state_(std::make_shared<State>())
{
}

DesktopAppearance::~DesktopAppearance()
{
    g_cancellable_cancel(state_->cancellable.get());
    state_->onChange = nullptr;
}

void DesktopAppearance::observe(std::function<void(bool)> onChange)
{
    state_->onChange = std::move(onChange);
    g_dbus_proxy_new_for_bus(G_BUS_TYPE_SESSION, G_DBUS_PROXY_FLAGS_DO_NOT_LOAD_PROPERTIES, nullptr, kPortalName,
        kPortalPath, kSettingsInterface, state_->cancellable.get(), &onProxy, new std::weak_ptr<State>(state_));
}

bool DesktopAppearance::prefersDark() const { return state_->dark; }

}  // namespace quorvane
