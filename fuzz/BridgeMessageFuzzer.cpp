// The interface bridge's shape check, on the text a page relays (and, the same input, on the
// address check alone, which the relayed "href" goes through).
//
// Properties: a message is accepted only with its envelope naming the bundle's index.html, and
// an accepted message carries the id and command that the text holds.

#include <boost/json/parse.hpp>

#include "FuzzSupport.hpp"
#include "quorvane/shell/BridgeMessage.hpp"

using namespace quorvane;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const std::filesystem::path kIndex = "/opt/quorvane/share/quorvane/UI/index.html";
    std::string_view input = fuzz::asText(data, size);

    uriAddressesFile(input, kIndex);
    std::optional<PageMessage> message = parseBridgeMessage(input, kIndex);
    if (!message)
        return 0;
    // Accepted: the text is JSON whose parts say the same.
    boost::json::value relayed = boost::json::parse(input);
    const auto& envelope = relayed.as_object();
    if (!uriAddressesFile(envelope.at("href").as_string(), kIndex))
        fuzz::propertyBroken("a message from another document was accepted", input);
    const auto& body = envelope.at("message").as_object();
    if (body.at("id").as_string() != message->id || body.at("command").as_string() != message->command)
        fuzz::propertyBroken("an accepted message does not carry the id and command it was sent with", input);
    return 0;
}
