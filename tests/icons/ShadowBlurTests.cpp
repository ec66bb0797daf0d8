// The shadow blur is ours (Cairo has none), so it is checked against the Gaussian it
// stands in for.
#include "ShadowBlur.hpp"

#include <cmath>
#include <cstdint>

#include <gtest/gtest.h>

namespace quorvane {
namespace {

class AlphaMask {
public:
    AlphaMask(int width, int height)
        : surface_(cairo_image_surface_create(CAIRO_FORMAT_A8, width, height))
    {
    }
    ~AlphaMask() { cairo_surface_destroy(surface_); }
    AlphaMask(const AlphaMask&) = delete;
    AlphaMask& operator=(const AlphaMask&) = delete;

    void fill(int x, int y, int width, int height)
    {
        cairo_surface_flush(surface_);
        for (int row = y; row < y + height; ++row)
            for (int column = x; column < x + width; ++column)
                data()[row * stride() + column] = 255;
        cairo_surface_mark_dirty(surface_);
    }
    int at(int x, int y)
    {
        cairo_surface_flush(surface_);
        return data()[y * stride() + x];
    }
    long total()
    {
        long sum = 0;
        for (int y = 0; y < cairo_image_surface_get_height(surface_); ++y)
            for (int x = 0; x < cairo_image_surface_get_width(surface_); ++x)
                sum += at(x, y);
        return sum;
    }
    cairo_surface_t* surface() { return surface_; }

private:
    unsigned char* data() { return cairo_image_surface_get_data(surface_); }
    int stride() { return cairo_image_surface_get_stride(surface_); }
    cairo_surface_t* surface_;
};

// 255 × the share of a Gaussian (standard deviation sigma) that lies beyond `distance`.
double gaussianTail(double distance, double sigma)
{
    return 255 * 0.5 * std::erfc(distance / (sigma * std::sqrt(2.0)));
}

TEST(ShadowBlurTest, BlursAStepEdgeLikeAGaussianOfHalfTheRadius)
{
    struct Case {
        const char* name;
        bool acrossColumns;  // the edge runs down the mask (so the blur works across it) or along it
        double radius;
    };
    for (const Case c : { Case { "vertical edge", true, 18 }, Case { "horizontal edge", false, 18 },
             Case { "small radius", true, 6 } }) {
        SCOPED_TRACE(c.name);
        AlphaMask mask(240, 240);
        // Opaque before position 120, transparent from it on.
        if (c.acrossColumns)
            mask.fill(0, 0, 120, 240);
        else
            mask.fill(0, 0, 240, 120);
        blurAlphaMask(mask.surface(), c.radius);
        const double sigma = c.radius / 2;
        for (int position = 90; position < 150; ++position) {
            SCOPED_TRACE(position);
            const double expected = gaussianTail(position + 0.5 - 120, sigma);
            const int actual = c.acrossColumns ? mask.at(position, 120) : mask.at(120, position);
            EXPECT_NEAR(actual, expected, 4);
        }
    }
}

TEST(ShadowBlurTest, KeepsTheShapesWeightAndSpreadsItEvenly)
{
    // A small square far from the edges: nothing may be lost (the blur works on the shape's
    // box widened by its reach) and the result is symmetric about the square's centre.
    AlphaMask mask(300, 200);
    mask.fill(200, 60, 10, 10);
    const long before = mask.total();
    blurAlphaMask(mask.surface(), 16);
    EXPECT_NEAR(static_cast<double>(mask.total()), static_cast<double>(before), before * 0.01);
    for (int offset : { 3, 8, 15, 22 }) {
        SCOPED_TRACE(offset);
        EXPECT_NEAR(mask.at(204 - offset, 64), mask.at(205 + offset, 64), 1);
        EXPECT_NEAR(mask.at(204, 64 - offset), mask.at(204, 65 + offset), 1);
    }
    EXPECT_EQ(mask.at(0, 0), 0);
    EXPECT_EQ(mask.at(299, 199), 0);
}

}  // namespace
}  // namespace quorvane
