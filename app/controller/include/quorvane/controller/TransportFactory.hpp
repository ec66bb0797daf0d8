#pragma once

// Makes the Dot page transport for one account. The shell's factory makes a DotBrowser for the
// account's browser profile (its own cookies and sign-in); tests make scripted fakes. The
// controller asks for a new transport at start and whenever the active account changes, and
// shuts the old one down itself.

#include <memory>
#include <string_view>

#include "quorvane/transport/DotTransport.hpp"

namespace quorvane {

class TransportFactory {
public:
    virtual ~TransportFactory() = default;
    virtual std::unique_ptr<DotTransport> make(std::string_view browserProfile) = 0;
};

}  // namespace quorvane
