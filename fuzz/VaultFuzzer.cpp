// The vault's JSON decoder, on what a damaged or hostile vault file could hold once decrypted.
//
// Properties: a decode either succeeds or throws JsonDecodeError; a decoded vault encodes to
// text that decodes to the same vault, and that text encodes again to itself.

#include "FuzzSupport.hpp"
#include "quorvane/Json.hpp"
#include "quorvane/Vault.hpp"

using namespace quorvane;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Vault vault;
    try {
        vault = decodeJSON<Vault>(fuzz::asText(data, size));
    } catch (const JsonDecodeError&) {
        return 0;
    }
    std::string encoded = encodeJSON(vault);
    Vault again;
    try {
        again = decodeJSON<Vault>(encoded);
    } catch (const JsonDecodeError& error) {
        fuzz::propertyBroken("an encoded vault does not decode", std::string(error.what()) + "\n  " + encoded);
    }
    if (!(again == vault))
        fuzz::propertyBroken("a vault changed on its way through encode and decode", encoded);
    if (encodeJSON(again) != encoded)
        fuzz::propertyBroken("a vault's encoding is not stable", encoded);
    return 0;
}
