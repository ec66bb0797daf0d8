#include "quorvane/icons/DotAppIcon.hpp"

#include <cmath>

#include <gtest/gtest.h>

#include "IconTestSupport.hpp"

namespace quorvane {
namespace {

using icontest::Area;
using icontest::RGBA;

// ---- content(in:) ----------------------------------------------------------------------

TEST(DotAppIconContentTest, FindsTheVisiblePartWithItsPadding)
{
    struct Case {
        const char* name;
        int width, height;
        Area visible;
        RGBA colour;
        PixelRect bounds;  // one pixel of pad before, two after, clamped to the picture
    };
    const Case cases[] = {
        { "inside", 40, 30, { 10, 5, 10, 5 }, { 0, 0, 0, 255 }, { 9, 4, 12, 7 } },
        { "touching every edge", 40, 30, { 0, 0, 40, 30 }, { 0, 0, 0, 255 }, { 0, 0, 40, 30 } },
        { "one pixel from the far edges", 40, 30, { 20, 20, 19, 9 }, { 0, 0, 0, 255 }, { 19, 19, 21, 11 } },
        { "single pixel", 5, 5, { 2, 2, 1, 1 }, { 255, 255, 255, 255 }, { 1, 1, 3, 3 } },
        // Alpha 11/255 is just above 0.04 and counts; 10/255 is just below and does not.
        { "faint pixels count", 20, 20, { 5, 5, 2, 2 }, { 0, 0, 0, 11 }, { 4, 4, 4, 4 } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto found = DotAppIcon::content(icontest::pictureWith(c.width, c.height, c.visible, c.colour));
        ASSERT_TRUE(found.has_value());
        EXPECT_EQ(found->bounds, c.bounds);
    }
}

TEST(DotAppIconContentTest, GivesNothingWhenNoPixelIsVisible)
{
    struct Case {
        const char* name;
        Image picture;
    };
    const Case cases[] = {
        { "fully transparent", icontest::pictureWith(50, 50, { 0, 0, 0, 0 }, {}) },
        { "below the alpha threshold", icontest::pictureWith(50, 50, { 0, 0, 50, 50 }, { 255, 255, 255, 10 }) },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(DotAppIcon::content(c.picture).has_value());
        EXPECT_FALSE(DotAppIcon::make(c.picture).has_value());
    }
}

TEST(DotAppIconContentTest, MeasuresTheAlphaWeightedMeanLuminance)
{
    struct Case {
        const char* name;
        Image picture;
        double luminance;
    };
    // Opaque white over the left half, white at alpha 51 (0.2) over the right: every pixel is
    // white whatever its alpha, so the weighted mean is 1.
    Image whiteAtTwoAlphas = icontest::pictureWith(20, 10, { 0, 0, 10, 10 }, { 255, 255, 255, 255 });
    {
        GdkPixbuf* pixbuf = whiteAtTwoAlphas.pixbuf();
        guint8* pixels = gdk_pixbuf_get_pixels(pixbuf);
        for (int y = 0; y < 10; ++y)
            for (int x = 10; x < 20; ++x) {
                guint8* pixel = pixels + y * gdk_pixbuf_get_rowstride(pixbuf) + x * 4;
                pixel[0] = pixel[1] = pixel[2] = 255;
                pixel[3] = 51;
            }
    }
    const Case cases[] = {
        { "white", icontest::pictureWith(10, 10, { 0, 0, 10, 10 }, { 255, 255, 255, 255 }), 1.0 },
        { "black", icontest::pictureWith(10, 10, { 0, 0, 10, 10 }, { 0, 0, 0, 255 }), 0.0 },
        { "pure red", icontest::pictureWith(10, 10, { 0, 0, 10, 10 }, { 255, 0, 0, 255 }), 0.2126 },
        { "pure green", icontest::pictureWith(10, 10, { 0, 0, 10, 10 }, { 0, 255, 0, 255 }), 0.7152 },
        { "grey 204 is exactly 0.8", icontest::pictureWith(10, 10, { 2, 2, 5, 5 }, { 204, 204, 204, 255 }), 0.8 },
        { "white at two alphas", whiteAtTwoAlphas, 1.0 },
        { "transparent pixels do not dilute", icontest::pictureWith(100, 100, { 40, 40, 3, 3 }, { 255, 255, 255, 255 }),
            1.0 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto found = DotAppIcon::content(c.picture);
        ASSERT_TRUE(found.has_value());
        EXPECT_DOUBLE_EQ(found->luminance, c.luminance);
    }
    EXPECT_EQ(DotAppIcon::content(cases[4].picture)->luminance, 0.8);
}

TEST(DotAppIconContentTest, SamplesLargePicturesAndScalesTheBoundsBack)
{
    // 1000×1000 is sampled at 256×256; a visible 100×100 square at 450 must lie inside the
    // bounds, with no more than the pad (three samples, under 12 pixels) around it.
    const auto found
        = DotAppIcon::content(icontest::pictureWith(1000, 1000, { 450, 450, 100, 100 }, { 0, 0, 255, 255 }));
    ASSERT_TRUE(found.has_value());
    const PixelRect b = found->bounds;
    EXPECT_LE(b.x, 450);
    EXPECT_GE(b.x, 438);
    EXPECT_GE(b.x + b.width, 550);
    EXPECT_LE(b.x + b.width, 562);
    EXPECT_LE(b.y, 450);
    EXPECT_GE(b.y, 438);
    EXPECT_GE(b.y + b.height, 550);
    EXPECT_LE(b.y + b.height, 562);
}

// ---- make(from:) -------------------------------------------------------------------------

struct TileColours {
    RGBA base, top;
};
constexpr TileColours lightTile { { 219, 221, 220, 255 }, { 250, 249, 246, 255 } };
constexpr TileColours darkTile { { 43, 46, 53, 255 }, { 79, 82, 89, 255 } };

// The tile's colour at row y: the gradient runs from the base colour at the bottom edge
// (968) to the top colour at the top edge (56).
RGBA tileColourAt(const TileColours& tile, int y)
{
    const double t = (968.0 - (y + 0.5)) / 912.0;
    auto mix = [t](int from, int to) { return static_cast<int>(std::lround(from + (to - from) * t)); };
    return { mix(tile.base.red, tile.top.red), mix(tile.base.green, tile.top.green), mix(tile.base.blue, tile.top.blue),
        255 };
}

void expectNear(const RGBA& actual, const RGBA& expected, int tolerance)
{
    EXPECT_LE(std::abs(actual.red - expected.red), tolerance) << actual << " vs " << expected;
    EXPECT_LE(std::abs(actual.green - expected.green), tolerance) << actual << " vs " << expected;
    EXPECT_LE(std::abs(actual.blue - expected.blue), tolerance) << actual << " vs " << expected;
    EXPECT_LE(std::abs(actual.alpha - expected.alpha), tolerance) << actual << " vs " << expected;
}

TEST(DotAppIconMakeTest, ChoosesTheTileByThePicturesLightness)
{
    struct Case {
        const char* name;
        RGBA logo;
        const TileColours& tile;
    };
    const Case cases[] = {
        { "white logo", { 255, 255, 255, 255 }, darkTile },
        { "grey 205 logo, just over 0.8", { 205, 205, 205, 255 }, darkTile },
        { "grey 204 logo, exactly 0.8", { 204, 204, 204, 255 }, lightTile },
        { "black logo", { 0, 0, 0, 255 }, lightTile },
        { "colourful logo", { 230, 40, 140, 255 }, lightTile },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // A wide logo, so the tile shows above and below the picture.
        const auto icon = DotAppIcon::make(icontest::pictureWith(400, 200, { 0, 0, 400, 200 }, c.logo));
        ASSERT_TRUE(icon.has_value());
        ASSERT_EQ(icon->width(), 1024);
        ASSERT_EQ(icon->height(), 1024);
        for (int y : { 100, 200, 800, 930 }) {
            SCOPED_TRACE(y);
            expectNear(icontest::pixelAt(*icon, 512, y), tileColourAt(c.tile, y), 2);
        }
        // The rim, just outside the tile's edge: white (dimmed a little by the tile's shadow
        // under it), most of the way opaque on the light tile, faint on the dark.
        const RGBA rim = icontest::pixelAt(*icon, 512, 55);
        EXPECT_GE(rim.red, 200) << rim;
        EXPECT_EQ(rim.red, rim.blue) << rim;
        EXPECT_NEAR(rim.alpha, &c.tile == &lightTile ? 0.65 * 255 : 0.19 * 255, 8);
        // Outside the rounded corner nothing is drawn.
        EXPECT_EQ(icontest::pixelAt(*icon, 70, 70).alpha, 0);
        EXPECT_EQ(icontest::pixelAt(*icon, 2, 2).alpha, 0);
    }
}

TEST(DotAppIconMakeTest, FitsThePictureIntoTheCentralSquare)
{
    const RGBA blue { 30, 60, 220, 255 };
    const auto icon = DotAppIcon::make(icontest::pictureWith(400, 200, { 0, 0, 400, 200 }, blue));
    ASSERT_TRUE(icon.has_value());
    // 400×200 → 704×352 at (160, 336).
    for (auto [x, y] : { std::pair { 161, 337 }, { 862, 337 }, { 161, 686 }, { 862, 686 }, { 512, 512 } }) {
        SCOPED_TRACE(::testing::Message() << "at " << x << ", " << y);
        expectNear(icontest::pixelAt(*icon, x, y), blue, 1);
    }
    for (auto [x, y] : { std::pair { 157, 512 }, { 866, 512 }, { 512, 333 }, { 512, 691 } }) {
        SCOPED_TRACE(::testing::Message() << "at " << x << ", " << y);
        EXPECT_GT(icontest::pixelAt(*icon, x, y).red - blue.red, 100);
    }
}

TEST(DotAppIconMakeTest, CropsATransparentMarginSoASmallLogoFillsTheSquare)
{
    const RGBA red { 230, 20, 30, 255 };
    const auto icon = DotAppIcon::make(icontest::pictureWith(1000, 1000, { 450, 450, 100, 100 }, red));
    ASSERT_TRUE(icon.has_value());
    icontest::writeArtifact(*icon, "icon-small-logo-in-large-canvas");
    // Uncropped, the square would be 70 pixels wide; cropped to it plus the pad, it spans
    // more than 600 of the 704.
    for (auto [x, y] : { std::pair { 512, 512 }, { 215, 512 }, { 809, 512 }, { 512, 215 }, { 512, 809 } }) {
        SCOPED_TRACE(::testing::Message() << "at " << x << ", " << y);
        expectNear(icontest::pixelAt(*icon, x, y), red, 1);
    }
    for (auto [x, y] : { std::pair { 150, 512 }, { 874, 512 }, { 512, 150 }, { 512, 874 } }) {
        SCOPED_TRACE(::testing::Message() << "at " << x << ", " << y);
        EXPECT_GT(icontest::pixelAt(*icon, x, y).green - red.green, 100);
    }
}

// How much darker than the bare tile a pixel is: the shadow's share.
int darkening(const Image& icon, const TileColours& tile, int x, int y)
{
    return tileColourAt(tile, y).green - icontest::pixelAt(icon, x, y).green;
}

TEST(DotAppIconMakeTest, ShadowsFallDownward)
{
    const auto icon = DotAppIcon::make(icontest::pictureWith(400, 200, { 0, 0, 400, 200 }, { 0, 0, 0, 255 }));
    ASSERT_TRUE(icon.has_value());
    // The tile's shadow: 7 pixels below the bottom edge against 7 above the top edge.
    const int below = icontest::pixelAt(*icon, 512, 975).alpha;
    const int above = icontest::pixelAt(*icon, 512, 49).alpha;
    EXPECT_GT(below, 20);
    EXPECT_LT(above, 8);
    EXPECT_EQ(icontest::pixelAt(*icon, 512, 1023).alpha, 0);
    // The picture's shadow on the tile: 6 pixels below the picture (bottom 688) against 6
    // above it (top 336).
    const int underPicture = darkening(*icon, lightTile, 512, 694);
    const int overPicture = darkening(*icon, lightTile, 512, 330);
    EXPECT_GT(underPicture, 12);
    EXPECT_LT(overPicture, 6);
    EXPECT_GT(underPicture, 3 * std::max(overPicture, 1));
}

TEST(DotAppIconMakeTest, RendersSampleIconsForALook)
{
    // Antialiased logos of the kinds the avatar can be: the results go to the artifacts.
    struct Case {
        const char* name;
        double red, green, blue;
    };
    for (const Case& c : { Case { "white-disc", 1, 1, 1 }, Case { "dark-disc", 0.1, 0.1, 0.15 },
             Case { "orange-disc", 0.95, 0.5, 0.1 } }) {
        SCOPED_TRACE(c.name);
        const Image logo = icontest::drawnPicture(600, 600, [&](cairo_t* cr) {
            cairo_arc(cr, 300, 300, 200, 0, 2 * M_PI);
            cairo_set_source_rgb(cr, c.red, c.green, c.blue);
            cairo_fill(cr);
            cairo_arc(cr, 300, 300, 90, 0, 2 * M_PI);
            cairo_set_operator(cr, CAIRO_OPERATOR_CLEAR);
            cairo_fill(cr);
        });
        const auto icon = DotAppIcon::make(logo);
        ASSERT_TRUE(icon.has_value());
        icontest::writeArtifact(*icon, std::string("icon-") + c.name);
        // The ring's hole shows the tile, not transparency.
        EXPECT_EQ(icontest::pixelAt(*icon, 512, 512).alpha, 255);
    }
}

}  // namespace
}  // namespace quorvane
