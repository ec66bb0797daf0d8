#pragma once

// Whether a bundle's information dictionary lets the updater run: SUFeedURL is an https address
// with a host and without user or password, and SUPublicEDKey is the standard Base64 form of
// exactly 32 bytes (an Ed25519 public key; its value belongs to the deployment).

#include <boost/json/object.hpp>

namespace quorvane::UpdateConfiguration {

bool isValid(const boost::json::object& info);

}  // namespace quorvane::UpdateConfiguration
