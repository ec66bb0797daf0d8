#include "IconTestSupport.hpp"

#include <fstream>
#include <ostream>
#include <stdexcept>

namespace quorvane::icontest {

std::ostream& operator<<(std::ostream& out, const RGBA& pixel)
{
    return out << "rgba(" << pixel.red << ", " << pixel.green << ", " << pixel.blue << ", " << pixel.alpha << ")";
}

Image pictureWith(int width, int height, Area area, RGBA colour)
{
    GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, width, height);
    gdk_pixbuf_fill(pixbuf, 0);
    guint8* pixels = gdk_pixbuf_get_pixels(pixbuf);
    const int stride = gdk_pixbuf_get_rowstride(pixbuf);
    for (int y = area.y; y < area.y + area.height; ++y) {
        for (int x = area.x; x < area.x + area.width; ++x) {
            guint8* pixel = pixels + y * stride + x * 4;
            pixel[0] = static_cast<guint8>(colour.red);
            pixel[1] = static_cast<guint8>(colour.green);
            pixel[2] = static_cast<guint8>(colour.blue);
            pixel[3] = static_cast<guint8>(colour.alpha);
        }
    }
    return Image::adopt(pixbuf);
}

Image imageOfSurface(cairo_surface_t* surface)
{
    cairo_surface_flush(surface);
    const int width = cairo_image_surface_get_width(surface);
    const int height = cairo_image_surface_get_height(surface);
    GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, width, height);
    guint8* target = gdk_pixbuf_get_pixels(pixbuf);
    const int targetStride = gdk_pixbuf_get_rowstride(pixbuf);
    const unsigned char* source = cairo_image_surface_get_data(surface);
    const int sourceStride = cairo_image_surface_get_stride(surface);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const auto word = *reinterpret_cast<const std::uint32_t*>(source + y * sourceStride + x * 4);
            const unsigned alpha = word >> 24;
            guint8* pixel = target + y * targetStride + x * 4;
            for (int channel = 0; channel < 3; ++channel) {
                const unsigned value = word >> (16 - 8 * channel) & 0xff;
                pixel[channel] = static_cast<guint8>(alpha == 0 ? 0 : (value * 255 + alpha / 2) / alpha);
            }
            pixel[3] = static_cast<guint8>(alpha);
        }
    }
    return Image::adopt(pixbuf);
}

RGBA pixelAt(const Image& image, int x, int y)
{
    const GdkPixbuf* pixbuf = image.pixbuf();
    if (x < 0 || y < 0 || x >= image.width() || y >= image.height())
        throw std::out_of_range("pixel outside the image");
    const int channels = gdk_pixbuf_get_n_channels(pixbuf);
    const guint8* pixel = gdk_pixbuf_read_pixels(pixbuf) + y * gdk_pixbuf_get_rowstride(pixbuf) + x * channels;
    return { pixel[0], pixel[1], pixel[2], gdk_pixbuf_get_has_alpha(pixbuf) ? pixel[3] : 255 };
}

Image decodePNG(const std::vector<std::uint8_t>& png)
{
    auto image = Image::decode(png);
    if (!image)
        throw std::runtime_error("not a readable image");
    return *image;
}

std::vector<std::uint8_t> encode(const Image& image, const char* type)
{
    gchar* buffer = nullptr;
    gsize length = 0;
    if (!gdk_pixbuf_save_to_buffer(image.pixbuf(), &buffer, &length, type, nullptr, nullptr)) {
        throw std::runtime_error("could not encode");
    }
    std::vector<std::uint8_t> bytes(buffer, buffer + length);
    g_free(buffer);
    return bytes;
}

void writeArtifact(const std::vector<std::uint8_t>& png, const std::string& name)
{
    const std::filesystem::path folder = QUORVANE_TEST_ARTIFACTS_DIR;
    std::filesystem::create_directories(folder);
    std::ofstream out(folder / (name + ".png"), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size()));
}

void writeArtifact(const Image& image, const std::string& name) { writeArtifact(encode(image, "png"), name); }

namespace {

std::vector<std::uint8_t> insertAfterStartOfImage(
    std::vector<std::uint8_t> jpeg, const std::vector<std::uint8_t>& segments)
{
    if (jpeg.size() < 2 || jpeg[0] != 0xFF || jpeg[1] != 0xD8)
        throw std::runtime_error("not a JPEG");
    jpeg.insert(jpeg.begin() + 2, segments.begin(), segments.end());
    return jpeg;
}

void appendSegment(std::vector<std::uint8_t>& out, std::uint8_t marker, const std::vector<std::uint8_t>& payload)
{
    const std::size_t length = payload.size() + 2;
    out.insert(
        out.end(), { 0xFF, marker, static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length & 0xFF) });
    out.insert(out.end(), payload.begin(), payload.end());
}

}  // namespace

std::vector<std::uint8_t> withExifOrientation(std::vector<std::uint8_t> jpeg, int orientation)
{
    // "Exif\0\0", a big-endian TIFF header, one IFD with the Orientation tag (0x0112, SHORT).
    const std::vector<std::uint8_t> exif = { 'E', 'x', 'i', 'f', 0, 0,  //
        'M', 'M', 0, 42, 0, 0, 0, 8,  //
        0, 1,  //
        0x01, 0x12, 0, 3, 0, 0, 0, 1, 0, static_cast<std::uint8_t>(orientation), 0, 0,  //
        0, 0, 0, 0 };
    std::vector<std::uint8_t> segment;
    appendSegment(segment, 0xE1, exif);
    return insertAfterStartOfImage(std::move(jpeg), segment);
}

std::vector<std::uint8_t> paddedWithComments(std::vector<std::uint8_t> jpeg, std::size_t totalSize)
{
    constexpr std::size_t segmentOverhead = 4;  // marker and length
    constexpr std::size_t largestPayload = 65533;
    if (totalSize < jpeg.size() + segmentOverhead)
        throw std::runtime_error("too small to pad");
    std::size_t missing = totalSize - jpeg.size();
    std::vector<std::uint8_t> segments;
    while (missing > 0) {
        std::size_t payload = std::min(largestPayload, missing - segmentOverhead);
        // Never leave a remainder too small to hold a segment of its own.
        if (const std::size_t rest = missing - segmentOverhead - payload; rest > 0 && rest < segmentOverhead) {
            payload -= segmentOverhead;
        }
        appendSegment(segments, 0xFE, std::vector<std::uint8_t>(payload, 'q'));
        missing -= payload + segmentOverhead;
    }
    return insertAfterStartOfImage(std::move(jpeg), segments);
}

}  // namespace quorvane::icontest
