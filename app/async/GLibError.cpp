#include "quorvane/async/GLibError.hpp"

namespace quorvane {

GLibError GLibError::take(GError*& error)
{
    GLibError result(error->domain, error->code, error->message ? error->message : "");
    g_clear_error(&error);
    return result;
}

}  // namespace quorvane
