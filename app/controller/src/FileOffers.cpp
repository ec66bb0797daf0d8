// Offering a file to the user. The save dialog answers later, on the main loop, possibly after
// the controller is gone, so the outcome holds a weak token. A failure is kept in the state the
// page shows until the next offer: the user is looking at the dialog's result, not at the command
// that started it, which has long been answered.

#include <utility>

#include "quorvane/async/Lifetime.hpp"
#include "quorvane/controller/Controller.hpp"

namespace quorvane {

void Controller::offerFile(FileOffer offer)
{
    fileFailure.reset();
    services_.files.offer(std::move(offer), weakCallback(lifetime_.token(), [this](FileOfferOutcome outcome) {
        if (!outcome.failure)
            return;
        fileFailure = std::move(*outcome.failure);
        publish(false);
    }));
}

}  // namespace quorvane
