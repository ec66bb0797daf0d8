#include "quorvane/browser/AdapterResult.hpp"

#include <memory>
#include <string>

#include <glib.h>

#include "quorvane/AppFailure.hpp"
#include "quorvane/Json.hpp"
#include "quorvane/ReplyCorrelation.hpp"
#include "quorvane/holders/GLibHolders.hpp"
#include "quorvane/holders/GObjectPtr.hpp"

namespace quorvane {

void requireAdapterValue(JSCValue* value)
{
    if (!value || jsc_value_is_null(value) || jsc_value_is_undefined(value))
        throw AppFailure(kDotStillLoading);
}

DotSnapshot snapshotFromAdapter(JSCValue* value)
{
    requireAdapterValue(value);
    GCharPtr json(jsc_value_to_json(value, 0));
    if (!json) {
        JSCContext* context = jsc_value_get_context(value);
        JSCException* exception = context ? jsc_context_get_exception(context) : nullptr;
        std::string why = exception ? jsc_exception_get_message(exception) : "no JSON form";
        if (context)
            jsc_context_clear_exception(context);
        throw AppFailure("The Dot page snapshot couldn’t be read: " + why);
    }
    auto snapshot = decodeJSON<DotSnapshot>(json.get());
    snapshot.messages = uniqueDotMessages(snapshot.messages);
    return snapshot;
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
