#include "quorvane/controller/StatusFile.hpp"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "quorvane/Json.hpp"
#include "quorvane/ReplyCorrelation.hpp"
#include "quorvane/TextRules.hpp"

namespace quorvane {

namespace {

// Closes a descriptor and removes the temporary file unless it was renamed into place.
struct TemporaryFile {
    std::string path;
    int fd = -1;
    bool placed = false;
    ~TemporaryFile()
    {
        if (fd >= 0)
            ::close(fd);
        if (!placed && !path.empty())
            ::unlink(path.c_str());
    }
};

bool writeAll(int fd, std::string_view text)
{
    while (!text.empty()) {
        ssize_t written = ::write(fd, text.data(), text.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        text.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

void appendKey(std::string& out, std::string_view key)
{
    out.push_back(out.empty() ? '{' : ',');
    json_detail::appendEscaped(out, key);
    out.push_back(':');
}

}  // namespace

bool diagnosticsEnabled()
{
    const char* value = std::getenv(kDiagnosticsVariable);
    return value && std::strcmp(value, "1") == 0;
}

std::string statusFileJSON(const DotSnapshot& snapshot, const Account& account)
{
    const PendingRequest* first = account.jobs.empty() ? nullptr : &account.jobs.front();
    std::string out;
    appendKey(out, "avatarLength");
    json_detail::appendInteger(out, snapshot.avatarURL ? std::int64_t(characterCount(*snapshot.avatarURL)) : 0);
    appendKey(out, "profileName");
    json_detail::appendEscaped(out, snapshot.profileName ? snapshot.profileName->view() : std::string_view());
    appendKey(out, "phase");
    if (first)
        appendJSON(out, first->phase);
    else
        json_detail::appendEscaped(out, "none");
    appendKey(out, "hasAnchor");
    appendJSON(out, first && first->userMessageID.has_value());
    appendKey(out, "match");
    appendJSON(out, first && matchingTurn(*first, snapshot.messages).has_value());
    appendKey(out, "replyLength");
    std::optional<std::string> reply = first ? replyFor(*first, snapshot.messages) : std::nullopt;
    json_detail::appendInteger(out, reply ? std::int64_t(characterCount(*reply)) : 0);
    appendKey(out, "recentLengths");
    out.push_back('[');
    const auto& messages = snapshot.messages;
    for (std::size_t i = messages.size() > 3 ? messages.size() - 3 : 0; i < messages.size(); ++i) {
        if (out.back() != '[')
            out.push_back(',');
        json_detail::appendInteger(out, std::int64_t(characterCount(messages[i].text)));
    }
    out.append("]}");
    return out;
}

bool writeStatusFile(const std::filesystem::path& path, std::string_view text)
{
    TemporaryFile temporary;
    temporary.path = (path.parent_path() / ("." + path.filename().string() + ".XXXXXX")).string();
    // mkstemp creates the file exclusively (O_EXCL) with mode 0600, so nothing else can be
    // at the temporary path, not even a link.
    temporary.fd = ::mkostemp(temporary.path.data(), O_CLOEXEC);
    if (temporary.fd < 0) {
        temporary.path.clear();
        return false;
    }
    if (::fchmod(temporary.fd, S_IRUSR | S_IWUSR) != 0 || !writeAll(temporary.fd, text))
        return false;
    int fd = std::exchange(temporary.fd, -1);
    if (::close(fd) != 0)
        return false;
    if (::rename(temporary.path.c_str(), path.c_str()) != 0)
        return false;
    temporary.placed = true;
    return true;
}

}  // namespace quorvane
