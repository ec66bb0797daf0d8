#include "AvatarImage.hpp"

#include <cstdint>

#include <gdk-pixbuf/gdk-pixbuf.h>

#include "quorvane/RosterLimits.hpp"

namespace quorvane {

namespace {

constexpr std::string_view kPrefix = "data:image/png;base64,";
constexpr std::size_t kMaxURLBytes = kAvatarDataURLByteLimit;
constexpr std::uint32_t kMaxSide = kAvatarSideLimit;

std::uint32_t bigEndian32(const std::string& bytes, std::size_t at)
{
    return (std::uint32_t(static_cast<unsigned char>(bytes[at])) << 24)
        | (std::uint32_t(static_cast<unsigned char>(bytes[at + 1])) << 16)
        | (std::uint32_t(static_cast<unsigned char>(bytes[at + 2])) << 8)
        | std::uint32_t(static_cast<unsigned char>(bytes[at + 3]));
}

// A loader must be closed exactly once before it is released, whether decoding succeeded or not.
class PNGLoader {
public:
    PNGLoader()
        : loader_(gdk_pixbuf_loader_new_with_type("png", nullptr))
    {
    }
    ~PNGLoader()
    {
        if (loader_) {
            close();
            g_object_unref(loader_);
        }
    }
    PNGLoader(const PNGLoader&) = delete;
    PNGLoader& operator=(const PNGLoader&) = delete;

    bool decode(const std::string& bytes)
    {
        if (!loader_)
            return false;
        bool written
            = gdk_pixbuf_loader_write(loader_, reinterpret_cast<const guchar*>(bytes.data()), bytes.size(), nullptr);
        return close() && written;
    }
    GdkPixbuf* image() const { return loader_ ? gdk_pixbuf_loader_get_pixbuf(loader_) : nullptr; }

private:
    bool close()
    {
        if (closed_)
            return closedCleanly_;
        closed_ = true;
        closedCleanly_ = gdk_pixbuf_loader_close(loader_, nullptr);
        return closedCleanly_;
    }
    GdkPixbufLoader* loader_;
    bool closed_ = false;
    bool closedCleanly_ = false;
};

}  // namespace

bool isAcceptableAvatar(std::string_view dataURL)
{
    if (!dataURL.starts_with(kPrefix) || dataURL.size() > kMaxURLBytes)
        return false;
    auto bytes = decodeBase64(dataURL.substr(kPrefix.size()));
    if (!bytes)
        return false;
    // The header gives the size before anything is decoded, so an image that claims to be huge
    // is refused without allocating its pixels.
    static constexpr unsigned char kSignature[] = { 0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n' };
    if (bytes->size() < 24 || bytes->compare(0, 8, reinterpret_cast<const char*>(kSignature), 8) != 0
        || bytes->compare(12, 4, "IHDR") != 0)
        return false;
    std::uint32_t width = bigEndian32(*bytes, 16);
    std::uint32_t height = bigEndian32(*bytes, 20);
    if (width == 0 || height == 0 || width > kMaxSide || height > kMaxSide)
        return false;

    PNGLoader loader;
    if (!loader.decode(*bytes))
        return false;
    GdkPixbuf* image = loader.image();
    return image && gdk_pixbuf_get_width(image) <= static_cast<int>(kMaxSide)
        && gdk_pixbuf_get_height(image) <= static_cast<int>(kMaxSide);
}

}  // namespace quorvane
