#include "quorvane/shell/CommandDispatch.hpp"

#include "quorvane/AppFailure.hpp"
#include "quorvane/controller/Controller.hpp"

namespace quorvane {

void performCommand(Controller&, const std::string&, const boost::json::object&)
{
    // The Controller's dispatcher (Controller::perform) is not part of the Controller yet; until
    // it is, every command answers as an unknown one does.
    throw AppFailure("That action isn’t available.");
}

}  // namespace quorvane
