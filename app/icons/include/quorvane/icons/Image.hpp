#pragma once
// The image type of the icon code: a shared, immutable GdkPixbuf.
//
// Why a GdkPixbuf rather than a Cairo surface: it is what the decoders hand us, it keeps
// straight (not premultiplied) alpha, so a picture survives being passed around unchanged,
// and GTK takes it as it is (gdk_texture_new_for_pixbuf). Drawing converts to a Cairo
// surface for the duration of one call. The pixels are never written after construction,
// so copies share one pixbuf.

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include <gdk-pixbuf/gdk-pixbuf.h>

namespace quorvane {

class Image {
public:
    // Takes over one reference the caller owns. `pixbuf` must not be null.
    static Image adopt(GdkPixbuf* pixbuf);
    // Adds a reference of its own. `pixbuf` must not be null.
    static Image retain(GdkPixbuf* pixbuf);

    // Decodes any format gdk-pixbuf reads (first frame of an animation), applying the
    // orientation recorded in the file. Nothing when the bytes are not a readable image.
    static std::optional<Image> decode(std::span<const std::uint8_t> bytes);

    // PNG bytes of the whole image; nothing if encoding fails.
    std::optional<std::vector<std::uint8_t>> encodePNG() const;

    int width() const { return gdk_pixbuf_get_width(pixbuf_); }
    int height() const { return gdk_pixbuf_get_height(pixbuf_); }
    // Borrowed; valid as long as this Image (or a copy) lives. Do not modify its pixels.
    GdkPixbuf* pixbuf() const { return pixbuf_; }

    Image(const Image& other);
    Image& operator=(const Image& other);
    Image(Image&& other) noexcept;
    Image& operator=(Image&& other) noexcept;
    ~Image();

private:
    explicit Image(GdkPixbuf* owned)
        : pixbuf_(owned)
    {
    }
    GdkPixbuf* pixbuf_;
};

}  // namespace quorvane
