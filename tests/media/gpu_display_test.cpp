// The GPU surface types (packed 4:2:2 and planar 4:2:0 textures) where an OpenGL
// context exists: pictures come out as the BT.601 equations say.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QImage>
#include <vector>

#include "media/ddraw_show.h"
#include "media/video_output_widget.h"
#include "media_test_support.h"

using namespace media;

namespace {

struct Difference {
    int worst = 0;
    double mean = 0;
};

Difference Compare(const QImage& shown, const std::uint8_t* i420, int width, int height) {
    const std::uint8_t* y = i420;
    const std::uint8_t* u = y + width * height;
    const std::uint8_t* v = u + (width / 2) * (height / 2);
    Difference d;
    long total = 0, samples = 0;
    for (int row = 0; row < height; ++row)
        for (int x = 0; x < width; ++x) {
            double exact[3];
            const int c = (row / 2) * (width / 2) + x / 2;
            media_testing::ExactBgr(y[row * width + x], u[c], v[c], exact);
            const QRgb pixel = shown.pixel(x, row);
            const int got[3] = {qBlue(pixel), qGreen(pixel), qRed(pixel)};
            for (int k = 0; k < 3; ++k) {
                const int diff = static_cast<int>(std::lround(std::abs(exact[k] - got[k])));
                d.worst = std::max(d.worst, diff);
                total += diff;
                ++samples;
            }
        }
    d.mean = static_cast<double>(total) / samples;
    return d;
}

}  // namespace

TEST(GpuDisplay, PackedAndPlanarTexturesShowThePicture) {
    VideoOutputWidget widget;
    if (!widget.UsesGpu()) GTEST_SKIP() << "no OpenGL context on this display";
    widget.resize(352, 288);
    widget.show();
    const auto& clip = media_testing::ClipOf(352, 288, 5);
    ASSERT_GT(clip.ReferenceCount(), 0u);
    const std::uint8_t* i420 = clip.ReferencePicture(0);
    const std::uint8_t* y = i420;
    const std::uint8_t* u = y + 352 * 288;
    const std::uint8_t* v = u + 176 * 144;

    CDDrawShow show;
    ASSERT_TRUE(show.CreateAny(widget.Handle(), 352, 288));
    EXPECT_EQ(show.Type(), kSurfaceYuy2) << "the first type serves where a context exists";
    ASSERT_EQ(show.Draw(352, 288, y, v, u), 1);
    ASSERT_TRUE(media_testing::PumpUntil([&] { return widget.Presents() > 0; }, 3000));
    media_testing::PumpUntil([] { return false; }, 100);
    Difference packed = Compare(widget.grab().toImage(), i420, 352, 288);
    EXPECT_LE(packed.worst, 3) << "nearest samples, float arithmetic";

    show.Destroy();
    ASSERT_TRUE(show.Create(widget.Handle(), kSurfaceYv12, 352, 288));
    const int before = widget.Presents();
    ASSERT_EQ(show.Draw(352, 288, y, v, u), 1);
    ASSERT_TRUE(media_testing::PumpUntil([&] { return widget.Presents() > before; }, 3000));
    media_testing::PumpUntil([] { return false; }, 100);
    Difference planar = Compare(widget.grab().toImage(), i420, 352, 288);
    EXPECT_LE(planar.worst, 3);

    // Scaled to the window.
    widget.resize(704, 576);
    media_testing::PumpUntil([] { return false; }, 100);
    const QImage scaled = widget.grab().toImage().scaled(352, 288, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    EXPECT_LT(Compare(scaled, i420, 352, 288).mean, 3.0);
}

// Where the platform cannot show an OpenGL widget (the offscreen platform, even with
// an X display that makes contexts), the GPU path is not taken even when forced
// (LARKVIEW_DISPLAY=gpu in the runs under Xvfb): the window shows pictures through
// the software surface instead of crashing.
TEST(GpuDisplay, TakenOnlyWhereThePlatformCanShowIt) {
    const GlCapabilities gl = VideoOutputWidget::ProbeOpenGl();
    if (QGuiApplication::platformName() == "offscreen") {
        EXPECT_FALSE(gl.platformHostsGl) << "offscreen composes no OpenGL widgets";
    }
    VideoOutputWidget widget;
    EXPECT_EQ(widget.UsesGpu(), DecideDisplayPath(ReadDisplayPreference(), gl).gpu);
    if (!gl.platformHostsGl) {
        EXPECT_FALSE(widget.UsesGpu());
    }
    widget.resize(352, 288);
    widget.show();
    std::vector<std::uint8_t> picture(352 * 288 * 3 / 2, 128);
    CDDrawShow show;
    ASSERT_TRUE(show.CreateAny(widget.Handle(), 352, 288));
    EXPECT_EQ(show.Type() != kSurfacePlain, widget.UsesGpu());
    const std::uint8_t* y = picture.data();
    ASSERT_EQ(show.Draw(352, 288, y, y + 352 * 288, y + 352 * 288 * 5 / 4), 1);
    ASSERT_TRUE(media_testing::PumpUntil([&] { return widget.Presents() > 0; }, 3000));
    EXPECT_FALSE(widget.grab().toImage().isNull());
}

// Left to itself (no choice in the environment or the settings) the program takes the
// GPU path only with a hardware renderer: under Xvfb, Mesa's llvmpipe shades on the
// CPU, so the software path serves.
TEST(DisplayChoice, ASoftwareRendererTakesTheSoftwarePath) {
    const DisplayPreference preference = ReadDisplayPreference();
    const GlCapabilities gl = VideoOutputWidget::ProbeOpenGl();
    VideoOutputWidget widget;
    EXPECT_EQ(widget.UsesGpu(), DecideDisplayPath(preference, gl).gpu);
    if (preference.choice == DisplayChoice::kAuto && IsSoftwareRenderer(gl.renderer, gl.vendor)) {
        EXPECT_FALSE(widget.UsesGpu()) << gl.renderer;
    }
    if (QGuiApplication::platformName() == "xcb" && gl.contextMade) {
        EXPECT_TRUE(gl.platformHostsGl);
        EXPECT_FALSE(gl.renderer.empty());
    }
}
