#include "quorvane/shell/ShellSettings.hpp"

#include <algorithm>

#include "quorvane/holders/GLibHolders.hpp"

namespace quorvane {

namespace {

GSettingsSchema* findSchema(const std::filesystem::path& dataDirectory)
{
    if (GSettingsSchemaSource* system = g_settings_schema_source_get_default()) {
        if (GSettingsSchema* schema = g_settings_schema_source_lookup(system, ShellSettings::kSchemaID, TRUE))
            return schema;
    }
    auto beside = (dataDirectory / ".." / "glib-2.0" / "schemas").lexically_normal();
    GErrorHolder error;
    GSettingsSchemaSource* source = g_settings_schema_source_new_from_directory(
        beside.c_str(), g_settings_schema_source_get_default(), FALSE, error.out());
    if (!source)
        return nullptr;
    GSettingsSchema* schema = g_settings_schema_source_lookup(source, ShellSettings::kSchemaID, FALSE);
    g_settings_schema_source_unref(source);
    return schema;
}

}  // namespace

ShellSettings::ShellSettings(const std::filesystem::path& dataDirectory)
{
    if (GSettingsSchema* schema = findSchema(dataDirectory)) {
        settings_ = GObjectPtr<GSettings>::adopt(g_settings_new_full(schema, nullptr, nullptr));
        g_settings_schema_unref(schema);
    } else {
        g_warning("The settings schema %s is not installed; settings last until Quorvane quits.", kSchemaID);
    }
}

std::optional<bool> ShellSettings::automaticUpdateChecks() const
{
    if (!settings_)
        return automaticUpdateChecks_;
    GVariant* value = g_settings_get_value(settings_.get(), "automatic-update-checks");
    std::optional<bool> out;
    if (GVariant* inner = g_variant_get_maybe(value)) {
        out = g_variant_get_boolean(inner);
        g_variant_unref(inner);
    }
    g_variant_unref(value);
    return out;
}

void ShellSettings::setAutomaticUpdateChecks(bool enabled)
{
    if (!settings_) {
        automaticUpdateChecks_ = enabled;
        return;
    }
    g_settings_set_value(settings_.get(), "automatic-update-checks",
        g_variant_new_maybe(G_VARIANT_TYPE_BOOLEAN, g_variant_new_boolean(enabled)));
}

bool ShellSettings::replyNotifications() const
{
    if (!settings_)
        return replyNotifications_;
    return g_settings_get_boolean(settings_.get(), "reply-notifications");
}

void ShellSettings::setReplyNotifications(bool enabled)
{
    if (!settings_) {
        replyNotifications_ = enabled;
        return;
    }
    g_settings_set_boolean(settings_.get(), "reply-notifications", enabled);
}

std::string ShellSettings::startTheme() const
{
    if (!settings_)
        return startTheme_;
    GCharPtr theme(g_settings_get_string(settings_.get(), "start-theme"));
    return theme ? theme.get() : "system";
}

void ShellSettings::setStartTheme(const std::string& theme)
{
    if (!settings_) {
        startTheme_ = theme;
        return;
    }
    if (startTheme() != theme)
        g_settings_set_string(settings_.get(), "start-theme", theme.c_str());
}

ShellSettings::WindowState ShellSettings::windowState() const
{
    if (!settings_)
        return window_;
    return { g_settings_get_int(settings_.get(), "window-width"), g_settings_get_int(settings_.get(), "window-height"),
        bool(g_settings_get_boolean(settings_.get(), "window-maximized")) };
}

void ShellSettings::setWindowState(const WindowState& state)
{
    if (!settings_) {
        window_ = state;
        return;
    }
    // The schema's ranges hold the window's minimum size; a smaller value would be refused whole.
    g_settings_delay(settings_.get());
    g_settings_set_int(settings_.get(), "window-width", std::max(state.width, 640));
    g_settings_set_int(settings_.get(), "window-height", std::max(state.height, 500));
    g_settings_set_boolean(settings_.get(), "window-maximized", state.maximized);
    g_settings_apply(settings_.get());
}

}  // namespace quorvane
