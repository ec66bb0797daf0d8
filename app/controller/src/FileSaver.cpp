#include "quorvane/controller/FileSaver.hpp"

#include <utility>

namespace quorvane {

namespace {

class UnavailableFileSaver final : public FileSaver {
public:
    void offer(FileOffer, std::function<void(FileOfferOutcome)> done) override
    {
        std::move(done)(FileOfferOutcome { .failure = "Saving files isn\u2019t available here." });
    }
};

}  // namespace

FileSaver& FileSaver::unavailable()
{
    static UnavailableFileSaver saver;
    return saver;
}

}  // namespace quorvane
