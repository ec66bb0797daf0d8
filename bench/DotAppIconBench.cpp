// Rendering the 1024×1024 "dot" application icon, against a floor measured in the same
// run: copying a 1024×1024 RGBA canvas once, the least any rendering of it can cost.

#include <cmath>
#include <cstring>
#include <vector>

#include <benchmark/benchmark.h>
#include <cairo.h>

#include "BenchReport.hpp"
#include "quorvane/icons/AvatarThumbnail.hpp"
#include "quorvane/icons/DotAppIcon.hpp"

namespace {

using quorvane::Image;

// An antialiased ring on a transparent square: the shape of a typical avatar logo.
Image ringLogo(int side)
{
    GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, side, side);
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, side, side);
    cairo_t* cr = cairo_create(surface);
    cairo_arc(cr, side / 2.0, side / 2.0, side * 0.4, 0, 2 * M_PI);
    cairo_arc_negative(cr, side / 2.0, side / 2.0, side * 0.2, 2 * M_PI, 0);
    cairo_set_source_rgb(cr, 0.95, 0.5, 0.1);
    cairo_fill(cr);
    cairo_destroy(cr);
    cairo_surface_flush(surface);
    const unsigned char* source = cairo_image_surface_get_data(surface);
    const int sourceStride = cairo_image_surface_get_stride(surface);
    guint8* target = gdk_pixbuf_get_pixels(pixbuf);
    const int targetStride = gdk_pixbuf_get_rowstride(pixbuf);
    for (int y = 0; y < side; ++y) {
        for (int x = 0; x < side; ++x) {
            std::uint32_t word;
            std::memcpy(&word, source + y * sourceStride + x * 4, 4);
            const unsigned alpha = word >> 24;
            guint8* pixel = target + y * targetStride + x * 4;
            for (int c = 0; c < 3; ++c) {
                const unsigned value = word >> (16 - 8 * c) & 0xff;
                pixel[c] = static_cast<guint8>(alpha ? (value * 255 + alpha / 2) / alpha : 0);
            }
            pixel[3] = static_cast<guint8>(alpha);
        }
    }
    cairo_surface_destroy(surface);
    return Image::adopt(pixbuf);
}

void BM_Floor_Copy1024Canvas(benchmark::State& state)
{
    std::vector<std::uint8_t> from(1024 * 1024 * 4, 0x5a), to(1024 * 1024 * 4);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), to.size());
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_Floor_Copy1024Canvas)->Unit(benchmark::kMillisecond);

void BM_DotAppIconMake(benchmark::State& state)
{
    const Image logo = ringLogo(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        auto icon = quorvane::DotAppIcon::make(logo);
        if (!icon)
            state.SkipWithError("no icon");
        benchmark::DoNotOptimize(icon);
    }
}
// 256: an avatar thumbnail, the usual input; 2048: a large picture, cropped and reduced.
BENCHMARK(BM_DotAppIconMake)->Arg(256)->Arg(2048)->Unit(benchmark::kMillisecond);

void BM_AvatarThumbnailPNG(benchmark::State& state)
{
    const Image logo = ringLogo(1024);
    gchar* buffer = nullptr;
    gsize length = 0;
    gdk_pixbuf_save_to_buffer(logo.pixbuf(), &buffer, &length, "png", nullptr, nullptr);
    const std::vector<std::uint8_t> png(buffer, buffer + length);
    g_free(buffer);
    for (auto _ : state) {
        auto thumbnail = quorvane::avatarThumbnailPNG(png);
        if (!thumbnail)
            state.SkipWithError("no thumbnail");
        benchmark::DoNotOptimize(thumbnail);
    }
}
BENCHMARK(BM_AvatarThumbnailPNG)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv)
{
    // CPU time: steadier than wall time on a shared machine. No goal: the ratio compares runs
    // on different machines.
    using quorvane::bench::Clock;
    return quorvane::bench::runBenchmarks(argc, argv,
        { { "icon: DotAppIcon::make from a 256 px logo (1024 px icon)", "BM_DotAppIconMake/256",
              "BM_Floor_Copy1024Canvas", std::nullopt, Clock::cpu },
            { "icon: DotAppIcon::make from a 2048 px picture", "BM_DotAppIconMake/2048", "BM_Floor_Copy1024Canvas",
                std::nullopt, Clock::cpu, true },
            { "icon: avatarThumbnailPNG of a 1024 px PNG", "BM_AvatarThumbnailPNG", "BM_Floor_Copy1024Canvas",
                std::nullopt, Clock::cpu, true } });
}
