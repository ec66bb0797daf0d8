// The Dot page's "inspect" answers → DotSnapshot, through SnapshotAssembler and so through
// uniqueDotMessages. One input is a run of answers (apart at 0x1E) applied in turn to one
// assembler, so incremental answers meet the state that earlier ones left.
//
// Properties: only the documented exceptions escape; an accepted snapshot shows each page id
// once, and its messages are their own uniqueDotMessages.

#include <unordered_set>

#include "FuzzSupport.hpp"
#include "quorvane/AppFailure.hpp"
#include "quorvane/Json.hpp"
#include "quorvane/ReplyCorrelation.hpp"
#include "quorvane/browser/SnapshotAssembler.hpp"

using namespace quorvane;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    SnapshotAssembler assembler;
    for (std::string_view answer : fuzz::pieces(fuzz::asText(data, size))) {
        DotSnapshot snapshot;
        try {
            snapshot = assembler.apply(answer);
        } catch (const JsonDecodeError&) {
            continue;
        } catch (const StaleSnapshotBase&) {
            continue;
        } catch (const AppFailure&) {
            continue;
        }
        std::unordered_set<std::string_view> ids;
        for (const DotMessage& message : snapshot.messages)
            if (!ids.insert(message.id.view()).second)
                fuzz::propertyBroken("a snapshot shows one id twice", message.id.view());
        if (uniqueDotMessages(snapshot.messages) != snapshot.messages)
            fuzz::propertyBroken("a snapshot's messages are not their own unique messages");
    }
    return 0;
}
