#include "quorvane/controller/ReplyNotifier.hpp"

#include "quorvane/TextRules.hpp"

namespace quorvane {

namespace {

class SilentReplyNotifier final : public ReplyNotifier {
public:
    void replyFiled(const ReplyNotice&) override { }
};

}  // namespace

ReplyNotifier& ReplyNotifier::none()
{
    static SilentReplyNotifier notifier;
    return notifier;
}

std::string replyNoticeBody(std::string_view text)
{
    std::string_view line;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        line = trimmed(text.substr(start, end - start));
        if (!line.empty())
            break;
        start = end + 1;
    }
    if (characterCount(line) <= kReplyNoticeLength)
        return std::string(line);
    std::string body(trimmed(prefixCharacters(line, kReplyNoticeLength - 1)));
    return body + "\u2026";
}

}  // namespace quorvane
