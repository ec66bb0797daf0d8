#include "Pictures.hpp"

#include <ostream>
#include <span>
#include <stdexcept>

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <glib.h>

#include "quorvane/Base64.hpp"
#include "quorvane/icons/Image.hpp"

namespace quorvane::testing {

namespace {

std::uint32_t crc32(const std::uint8_t* data, std::size_t length)
{
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < length; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

void appendBigEndian(std::vector<std::uint8_t>& out, std::uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<std::uint8_t>(value >> shift));
}

}  // namespace

std::ostream& operator<<(std::ostream& out, const Colour& colour)
{
    return out << "rgb(" << colour.red << ", " << colour.green << ", " << colour.blue << ")";
}

std::vector<std::uint8_t> solidPNG(Colour colour)
{
    GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, 8, 8);
    gdk_pixbuf_fill(pixbuf,
        (std::uint32_t(colour.red) << 24) | (std::uint32_t(colour.green) << 16) | (std::uint32_t(colour.blue) << 8)
            | 0xFF);
    gchar* buffer = nullptr;
    gsize size = 0;
    gboolean saved = gdk_pixbuf_save_to_buffer(pixbuf, &buffer, &size, "png", nullptr, nullptr);
    g_object_unref(pixbuf);
    if (!saved)
        throw std::runtime_error("could not encode a PNG");
    std::vector<std::uint8_t> png(buffer, buffer + size);
    g_free(buffer);
    return png;
}

std::vector<std::uint8_t> paddedPNG(std::vector<std::uint8_t> png, std::size_t size)
{
    constexpr std::size_t chunkOverhead = 12;  // length, type, CRC
    constexpr std::size_t iendLength = 12;
    if (size < png.size() + chunkOverhead)
        throw std::invalid_argument("too small to pad");
    std::size_t dataLength = size - png.size() - chunkOverhead;
    std::vector<std::uint8_t> chunk;
    appendBigEndian(chunk, static_cast<std::uint32_t>(dataLength));
    for (char c : std::string_view("qvPd"))  // ancillary, private, safe to copy
        chunk.push_back(static_cast<std::uint8_t>(c));
    chunk.insert(chunk.end(), dataLength, 0x2A);
    appendBigEndian(chunk, crc32(chunk.data() + 4, chunk.size() - 4));
    png.insert(png.end() - iendLength, chunk.begin(), chunk.end());
    return png;
}

std::string base64(const std::vector<std::uint8_t>& bytes)
{
    gchar* encoded = g_base64_encode(bytes.data(), bytes.size());
    std::string text = encoded;
    g_free(encoded);
    return text;
}

std::string dataURL(const std::vector<std::uint8_t>& png) { return "data:image/png;base64," + base64(png); }

std::optional<Decoded> decodeDataURL(const std::string& image)
{
    constexpr std::string_view prefix = "data:image/png;base64,";
    if (!image.starts_with(prefix))
        return std::nullopt;
    auto bytes = decodeBase64(std::string_view(image).substr(prefix.size()));
    if (!bytes)
        return std::nullopt;
    auto decoded = Image::decode(std::span(reinterpret_cast<const std::uint8_t*>(bytes->data()), bytes->size()));
    if (!decoded)
        return std::nullopt;
    GdkPixbuf* pixbuf = decoded->pixbuf();
    int x = decoded->width() / 2, y = decoded->height() / 2;
    const guint8* pixel
        = gdk_pixbuf_read_pixels(pixbuf) + y * gdk_pixbuf_get_rowstride(pixbuf) + x * gdk_pixbuf_get_n_channels(pixbuf);
    return Decoded { decoded->width(), decoded->height(), Colour { pixel[0], pixel[1], pixel[2] } };
}

}  // namespace quorvane::testing
