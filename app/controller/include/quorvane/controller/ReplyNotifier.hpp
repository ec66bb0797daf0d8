#pragma once

// Tells the desktop that a reply was filed: once per finished reply, when the run loop accepts
// it, never for the pieces of a reply that is still streaming in. The controller says what to
// show and where it leads (the account and the bot whose conversation holds the reply); whether
// to show it at all (the window has the focus, the user turned notifications off) is the
// shell's to decide, because only the shell knows those. The default tells no one.

#include <cstddef>
#include <string>
#include <string_view>

namespace quorvane {

struct ReplyNotice {
    std::string accountID;
    std::string botID;
    std::string title;  // the bot's name
    std::string body;  // the reply's first line of text, cut to kReplyNoticeLength characters
};

// Characters of a notice's body; longer first lines end in "…" within this count.
inline constexpr std::size_t kReplyNoticeLength = 120;

class ReplyNotifier {
public:
    virtual ~ReplyNotifier() = default;
    virtual void replyFiled(const ReplyNotice& notice) = 0;

    // Tells no one (tests that do not look, places without a desktop).
    static ReplyNotifier& none();
};

// The notice for `text`: its first line that has anything but white space, trimmed, and cut at
// a character boundary to kReplyNoticeLength characters with "…" as the last one.
std::string replyNoticeBody(std::string_view text);

}  // namespace quorvane
