#include "quorvane/icons/AvatarThumbnail.hpp"

#include <gtest/gtest.h>

#include "IconTestSupport.hpp"

namespace quorvane {
namespace {

using icontest::Area;
using icontest::RGBA;

constexpr RGBA red { 220, 30, 40, 255 };

// The avatar must cover exactly `covered` and leave everything else transparent.
void expectCoverage(const Image& thumbnail, Area covered, RGBA colour, int tolerance)
{
    ASSERT_EQ(thumbnail.width(), 256);
    ASSERT_EQ(thumbnail.height(), 256);
    int wrong = 0;
    for (int y = 0; y < 256 && wrong < 5; ++y) {
        for (int x = 0; x < 256 && wrong < 5; ++x) {
            const bool inside
                = x >= covered.x && x < covered.x + covered.width && y >= covered.y && y < covered.y + covered.height;
            const RGBA pixel = icontest::pixelAt(thumbnail, x, y);
            const bool ok = inside ? pixel.alpha == 255 && std::abs(pixel.red - colour.red) <= tolerance
                    && std::abs(pixel.green - colour.green) <= tolerance
                    && std::abs(pixel.blue - colour.blue) <= tolerance
                                   : pixel.alpha == 0;
            if (!ok) {
                ++wrong;
                ADD_FAILURE() << "pixel (" << x << ", " << y << ") is " << pixel
                              << (inside ? ", expected the avatar" : ", expected transparent");
            }
        }
    }
}

TEST(AvatarThumbnailTest, FitsTheAvatarIntoACentredSquare)
{
    struct Case {
        const char* name;
        int width, height;
        Area covered;
    };
    const Case cases[] = {
        { "wide-small-enlarged", 100, 50, { 0, 64, 256, 128 } },
        { "tall-small-enlarged", 50, 100, { 64, 0, 128, 256 } },
        { "wide-large-reduced", 1000, 500, { 0, 64, 256, 128 } },
        { "square-exact", 256, 256, { 0, 0, 256, 256 } },
        { "square-tiny", 3, 3, { 0, 0, 256, 256 } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto png = avatarThumbnailPNG(
            icontest::encode(icontest::pictureWith(c.width, c.height, { 0, 0, c.width, c.height }, red), "png"));
        ASSERT_TRUE(png.has_value());
        const Image thumbnail = icontest::decodePNG(*png);
        expectCoverage(thumbnail, c.covered, red, 0);
        icontest::writeArtifact(*png, std::string("avatar-") + c.name);
    }
}

TEST(AvatarThumbnailTest, KeepsTransparencyOfTheAvatar)
{
    // A half-transparent picture stays half-transparent: nothing is flattened onto a colour.
    const RGBA halfGreen { 20, 200, 60, 128 };
    const auto png
        = avatarThumbnailPNG(icontest::encode(icontest::pictureWith(64, 64, { 0, 0, 64, 64 }, halfGreen), "png"));
    ASSERT_TRUE(png.has_value());
    const RGBA centre = icontest::pixelAt(icontest::decodePNG(*png), 128, 128);
    EXPECT_EQ(centre.alpha, 128);
    EXPECT_NEAR(centre.green, 200, 2);
}

TEST(AvatarThumbnailTest, AppliesTheOrientationRecordedInTheFile)
{
    // Stored 100×50, left half red and right half blue; orientation 6 means "turn 90°
    // clockwise to show", so the shown picture is 50×100 with red on top.
    Image stored = icontest::drawnPicture(100, 50, [](cairo_t* cr) {
        cairo_set_source_rgb(cr, 1, 0, 0);
        cairo_rectangle(cr, 0, 0, 50, 50);
        cairo_fill(cr);
        cairo_set_source_rgb(cr, 0, 0, 1);
        cairo_rectangle(cr, 50, 0, 50, 50);
        cairo_fill(cr);
    });
    const auto png = avatarThumbnailPNG(icontest::withExifOrientation(icontest::encode(stored, "jpeg"), 6));
    ASSERT_TRUE(png.has_value());
    const Image thumbnail = icontest::decodePNG(*png);
    icontest::writeArtifact(*png, "avatar-exif-rotated");
    EXPECT_EQ(icontest::pixelAt(thumbnail, 10, 128).alpha, 0);  // left margin
    EXPECT_EQ(icontest::pixelAt(thumbnail, 245, 128).alpha, 0);  // right margin
    const RGBA top = icontest::pixelAt(thumbnail, 128, 40);
    const RGBA bottom = icontest::pixelAt(thumbnail, 128, 215);
    EXPECT_GT(top.red, 200) << top;
    EXPECT_LT(top.blue, 60) << top;
    EXPECT_GT(bottom.blue, 200) << bottom;
    EXPECT_LT(bottom.red, 60) << bottom;
}

TEST(AvatarThumbnailTest, RefusesAvatarsOfEightMillionBytesOrMore)
{
    const auto jpeg = icontest::encode(icontest::pictureWith(40, 40, { 0, 0, 40, 40 }, red), "jpeg");
    struct Case {
        std::size_t size;
        bool accepted;
    };
    for (const Case c : { Case { 7'999'999, true }, Case { 8'000'000, false }, Case { 8'000'001, false } }) {
        SCOPED_TRACE(c.size);
        const auto padded = icontest::paddedWithComments(jpeg, c.size);
        ASSERT_EQ(padded.size(), c.size);
        EXPECT_EQ(avatarThumbnailPNG(padded).has_value(), c.accepted);
    }
}

TEST(AvatarThumbnailTest, GivesNothingForDataThatIsNoImage)
{
    const std::vector<std::uint8_t> png = icontest::encode(icontest::pictureWith(8, 8, { 0, 0, 8, 8 }, red), "png");
    const std::vector<std::vector<std::uint8_t>> cases = {
        {},
        { 'h', 'e', 'l', 'l', 'o' },
        std::vector<std::uint8_t>(png.begin(), png.begin() + static_cast<std::ptrdiff_t>(png.size() / 2)),
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_FALSE(avatarThumbnailPNG(cases[i]).has_value());
    }
}

}  // namespace
}  // namespace quorvane
