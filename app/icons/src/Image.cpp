#include "quorvane/icons/Image.hpp"

#include <utility>

#include "quorvane/holders/GLibHolders.hpp"
#include "quorvane/holders/GObjectPtr.hpp"

namespace quorvane {

Image Image::adopt(GdkPixbuf* pixbuf)
{
    g_return_val_if_fail(pixbuf != nullptr, Image(nullptr));
    return Image(pixbuf);
}

Image Image::retain(GdkPixbuf* pixbuf)
{
    g_return_val_if_fail(pixbuf != nullptr, Image(nullptr));
    return Image(GDK_PIXBUF(g_object_ref(pixbuf)));
}

std::optional<Image> Image::decode(std::span<const std::uint8_t> bytes)
{
    if (bytes.empty())
        return std::nullopt;
    auto loader = GObjectPtr<GdkPixbufLoader>::adopt(gdk_pixbuf_loader_new());
    GErrorHolder error;
    if (!gdk_pixbuf_loader_write(loader.get(), bytes.data(), bytes.size(), error.out())) {
        // The loader must still be closed; its own error is of no further interest.
        gdk_pixbuf_loader_close(loader.get(), nullptr);
        return std::nullopt;
    }
    if (!gdk_pixbuf_loader_close(loader.get(), error.out()))
        return std::nullopt;
    GdkPixbuf* decoded = gdk_pixbuf_loader_get_pixbuf(loader.get());
    if (decoded == nullptr)
        return std::nullopt;
    // Returns a new reference: the same pixbuf when no orientation is recorded.
    GdkPixbuf* oriented = gdk_pixbuf_apply_embedded_orientation(decoded);
    if (oriented == nullptr)
        return std::nullopt;
    return adopt(oriented);
}

std::optional<std::vector<std::uint8_t>> Image::encodePNG() const
{
    gchar* buffer = nullptr;
    gsize length = 0;
    if (!gdk_pixbuf_save_to_buffer(pixbuf_, &buffer, &length, "png", nullptr, nullptr)) {
        return std::nullopt;
    }
    GCharPtr owned(buffer);
    const auto* first = reinterpret_cast<const std::uint8_t*>(buffer);
    return std::vector<std::uint8_t>(first, first + length);
}

Image::Image(const Image& other)
    : pixbuf_(other.pixbuf_ ? GDK_PIXBUF(g_object_ref(other.pixbuf_)) : nullptr)
{
}

Image& Image::operator=(const Image& other)
{
    if (this != &other)
        *this = Image(other);
    return *this;
}

Image::Image(Image&& other) noexcept
    : pixbuf_(std::exchange(other.pixbuf_, nullptr))
{
}

Image& Image::operator=(Image&& other) noexcept
{
    std::swap(pixbuf_, other.pixbuf_);
    return *this;
}

Image::~Image()
{
    if (pixbuf_)
        g_object_unref(pixbuf_);
}

}  // namespace quorvane
