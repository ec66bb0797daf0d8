#include "quorvane/browser/AdapterResult.hpp"

#include <memory>
#include <string>

#include <glib.h>

#include "quorvane/AppFailure.hpp"
#include "quorvane/holders/GLibHolders.hpp"
#include "quorvane/holders/GObjectPtr.hpp"

namespace quorvane {

void requireAdapterValue(JSCValue* value)
{
    if (!value || jsc_value_is_null(value) || jsc_value_is_undefined(value))
        throw AppFailure(kDotStillLoading);
}

GCharPtr snapshotAnswer(JSCValue* value)
{
    requireAdapterValue(value);
    if (!jsc_value_is_string(value))
        throw AppFailure(kSnapshotUnreadable);
    GCharPtr text(jsc_value_to_string(value));
    if (!text)
        throw AppFailure(kSnapshotUnreadable);
    return text;
}

void checkAdapterOutcome(JSCValue* value)
{
    requireAdapterValue(value);
    if (!jsc_value_is_object(value) || !jsc_value_object_has_property(value, "ok"))
        throw AppFailure(kCheckingWhetherSent);
    auto ok = GObjectPtr<JSCValue>::adopt(jsc_value_object_get_property(value, "ok"));
    if (!ok || !jsc_value_is_boolean(ok.get()))
        throw AppFailure(kCheckingWhetherSent);
    if (jsc_value_to_boolean(ok.get()))
        return;
    if (jsc_value_object_has_property(value, "reason")) {
        auto reason = GObjectPtr<JSCValue>::adopt(jsc_value_object_get_property(value, "reason"));
        if (reason && jsc_value_is_string(reason.get())) {
            GCharPtr text(jsc_value_to_string(reason.get()));
            throw NotSubmitted(text ? text.get() : "");
        }
    }
    throw NotSubmitted(kMessageSavedTryAgain);
}

}  // namespace quorvane
