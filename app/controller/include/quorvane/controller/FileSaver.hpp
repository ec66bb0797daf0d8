#pragma once

// Hands a file the controller made (an export, a character card) to the user, who chooses where
// it goes. The shell's asks with the desktop's save dialog and writes the bytes there; tests
// record what they were offered. The dialog is the user's to answer, so the outcome arrives later
// through `done`, on the main loop, possibly after the controller that asked has gone: callers
// guard what `done` captures.

#include <functional>
#include <optional>
#include <string>

namespace quorvane {

struct FileOffer {
    std::string title;          // the dialog's title, e.g. "Export Conversation"
    std::string suggestedName;  // a file name without folders, e.g. "Dot.md"
    std::string mimeType;       // what the dialog filters by, e.g. "text/markdown"
    std::string notice;         // one sentence the dialog shows beside the choice; may be empty
    std::string bytes;          // the file's whole content
};

// The outcome of an offer: saved, cancelled by the user, or a failure sentence for the user.
struct FileOfferOutcome {
    bool saved = false;
    std::optional<std::string> failure {};
};

class FileSaver {
public:
    virtual ~FileSaver() = default;
    virtual void offer(FileOffer offer, std::function<void(FileOfferOutcome)> done) = 0;

    // A saver for places without a desktop (command-line tools, tests that never export): every
    // offer fails at once with a sentence that says so.
    static FileSaver& unavailable();
};

}  // namespace quorvane
