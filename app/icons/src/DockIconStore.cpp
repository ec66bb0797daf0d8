#include "quorvane/icons/DockIconStore.hpp"

#include <cerrno>
#include <span>
#include <string>
#include <system_error>
#include <utility>

#include <fcntl.h>
#include <glib/gstdio.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quorvane {
namespace {

constexpr mode_t folderMode = 0700;
constexpr mode_t fileMode = 0600;

[[noreturn]] void fail(int error, const std::string& what)
{
    throw std::system_error(error, std::generic_category(), what);
}

// Closes the descriptor and removes the temporary file unless it was handed over.
class TemporaryFile {
public:
    explicit TemporaryFile(const std::filesystem::path& target)
        : path_((target.parent_path() / ("." + target.filename().string() + ".XXXXXX")).string())
    {
        // mkostemp creates the file with mode 0600, whatever the umask.
        descriptor_ = mkostemp(path_.data(), O_CLOEXEC);
        if (descriptor_ < 0)
            fail(errno, "Could not create a temporary file beside " + target.string());
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    ~TemporaryFile()
    {
        if (descriptor_ >= 0)
            close(descriptor_);
        if (!path_.empty())
            unlink(path_.c_str());
    }

    void writeAll(std::span<const std::uint8_t> bytes)
    {
        const std::uint8_t* next = bytes.data();
        std::size_t left = bytes.size();
        while (left > 0) {
            const ssize_t written = write(descriptor_, next, left);
            if (written < 0) {
                if (errno == EINTR)
                    continue;
                fail(errno, "Could not write " + path_);
            }
            next += written;
            left -= static_cast<std::size_t>(written);
        }
        if (fchmod(descriptor_, fileMode) != 0)
            fail(errno, "Could not set the permissions of " + path_);
        // On disk before the rename, so a crash cannot leave an empty icon under the real name.
        if (fsync(descriptor_) != 0)
            fail(errno, "Could not write " + path_);
        const int closing = std::exchange(descriptor_, -1);
        if (close(closing) != 0)
            fail(errno, "Could not write " + path_);
    }

    void renameTo(const std::filesystem::path& target)
    {
        if (rename(path_.c_str(), target.c_str()) != 0)
            fail(errno, "Could not replace " + target.string());
        path_.clear();
    }

private:
    std::string path_;
    int descriptor_ = -1;
};

void removeIfPresent(const std::filesystem::path& file)
{
    if (g_remove(file.c_str()) == 0)
        return;
    const int error = errno;
    // Nothing there (or a parent that is not a folder): there is nothing to remove.
    if (error == ENOENT || error == ENOTDIR)
        return;
    fail(error, "Could not remove " + file.string());
}

}  // namespace

void DockIconStore::save(const std::optional<Image>& image, const std::filesystem::path& file)
{
    if (!image) {
        removeIfPresent(file);
        return;
    }
    const std::optional<std::vector<std::uint8_t>> png = image->encodePNG();
    if (!png)
        fail(EIO, "Could not encode the Dock icon as PNG");

    const std::filesystem::path folder = file.parent_path();
    if (g_mkdir_with_parents(folder.c_str(), folderMode) != 0)
        fail(errno, "Could not create the folder " + folder.string());

    TemporaryFile temporary(file);
    temporary.writeAll(*png);
    temporary.renameTo(file);
}

}  // namespace quorvane
