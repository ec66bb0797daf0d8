#pragma once

// Hands a page command that the shell does not answer itself to the Controller's command
// dispatcher. Returns normally, or throws the error whose sentence goes back to the page.

#include <string>

#include <boost/json/object.hpp>

namespace quorvane {

class Controller;

void performCommand(Controller& controller, const std::string& command, const boost::json::object& data);

}  // namespace quorvane
