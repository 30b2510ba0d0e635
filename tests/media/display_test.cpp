// Display conversions, the waiting picture, the display objects and the display stage
// on an offscreen video window.
#include <gtest/gtest.h>

#include <array>

#include <QCoreApplication>
#include <QImage>
#include <cstring>
#include <fstream>
#include <random>

#include "core/log_file.h"
#include "media/ddraw_show.h"
#include "media/display_path.h"
#include "media/show_stage.h"
#include "media/playback_display.h"
#include "media/video_output_widget.h"
#include "media/waiting_picture.h"
#include "media/yuv_convert.h"
#include "media_test_support.h"
#include "platform/paths.h"
#include "support/temp_dir.h"

using namespace media;

namespace {

std::vector<std::uint8_t> RandomPicture(int width, int height, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(width) * height * 3 / 2 + 16);
    for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
    return bytes;
}

}  // namespace

TEST(Conversion, Bt601WithinOneStepOfTheExactEquationsForEveryValue) {
    // Every (Y, U, V) triple, as 256 pictures of 256 x 256 with one V each.
    std::vector<std::uint8_t> picture(256 * 256 * 3 / 2), out(256 * 256 * 4);
    int worst = 0;
    for (int v = 0; v < 256; v += 1) {
        // Rows of Y, chroma rows of U: pixel (x, row) has Y = x, U = row / 2 * 2.
        for (int row = 0; row < 256; ++row)
            for (int x = 0; x < 256; ++x) picture[row * 256 + x] = static_cast<std::uint8_t>(x);
        std::uint8_t* second = picture.data() + 256 * 256;
        std::uint8_t* third = second + 128 * 128;
        for (int row = 0; row < 128; ++row)
            for (int x = 0; x < 128; ++x) {
                second[row * 128 + x] = static_cast<std::uint8_t>(v);
                third[row * 128 + x] = static_cast<std::uint8_t>(row * 2 + (x & 1));
            }
        ConvertToBgrx(PlanesOf(picture.data(), 256, 256), out.data(), 256 * 4);
        for (int row = 0; row < 256; ++row)
            for (int x = 0; x < 256; ++x) {
                double exact[3];
                media_testing::ExactBgr(x, third[(row / 2) * 128 + x / 2], v, exact);
                const std::uint8_t* pixel = &out[(row * 256 + x) * 4];
                for (int k = 0; k < 3; ++k) worst = std::max(worst, static_cast<int>(std::ceil(std::abs(exact[k] - pixel[k]) - 1e-9)));
                ASSERT_EQ(pixel[3], 255);
            }
    }
    EXPECT_LE(worst, 1);
}

TEST(Conversion, FastAndPlainCodeGiveTheSameBytesForAnySize) {
    for (auto [w, h] : {std::pair{352, 288}, {704, 576}, {33, 17}, {1, 1}, {2, 2}, {31, 7}, {48, 3}}) {
        const auto picture = RandomPicture(w, h, static_cast<unsigned>(w * 1000 + h));
        const int pitch = w * 4 + 12;
        std::vector<std::uint8_t> fast(pitch * h, 0xEE), plain(pitch * h, 0xEE);
        ConvertToBgrx(PlanesOf(picture.data(), w, h), fast.data(), pitch);
        ConvertToBgrxScalar(PlanesOf(picture.data(), w, h), plain.data(), pitch);
        EXPECT_EQ(fast, plain) << w << "x" << h;
        EXPECT_EQ(fast[w * 4], 0xEE) << "the pitch padding is not written";
    }
}

namespace {
// The nearest source sample to the centre of output sample i of `out` over `in`.
int Nearest(int i, int in, int out) { return std::min(in - 1, (2 * i + 1) * in / (2 * out)); }
}  // namespace

TEST(Conversion, ResampledToTheWindowEachPixelIsItsNearestSourcePixel) {
    ScaleScratch scratch;  // reused across sizes, as the display stage does
    for (auto [w, h, ow, oh] : {std::array{704, 576, 400, 300}, {704, 576, 173, 95}, {352, 288, 352, 100},
                                {352, 288, 500, 400}, {33, 17, 20, 9}, {1, 1, 3, 2}, {2, 2, 1, 1}}) {
        const auto picture = RandomPicture(w, h, static_cast<unsigned>(w + ow * 7 + oh));
        const int pitch = ow * 4 + 8;
        std::vector<std::uint8_t> scaled(static_cast<std::size_t>(pitch) * oh, 0xEE);
        ConvertToBgrxScaled(PlanesOf(picture.data(), w, h), scaled.data(), pitch, ow, oh, scratch);
        // The whole picture converted, then sampled the way an unsmoothed blit does.
        std::vector<std::uint8_t> full(static_cast<std::size_t>(w) * h * 4);
        ConvertToBgrxScalar(PlanesOf(picture.data(), w, h), full.data(), w * 4);
        int mismatches = 0;
        for (int y = 0; y < oh; ++y)
            for (int x = 0; x < ow; ++x)
                mismatches += std::memcmp(&scaled[static_cast<std::size_t>(y) * pitch + x * 4],
                                          &full[(static_cast<std::size_t>(Nearest(y, h, oh)) * w + Nearest(x, w, ow)) * 4], 4) != 0;
        EXPECT_EQ(mismatches, 0) << w << "x" << h << " to " << ow << "x" << oh;
        EXPECT_EQ(scaled[ow * 4], 0xEE) << "the pitch padding is not written";
    }
}

TEST(Conversion, PackedAndPlanarSurfaceLayouts) {
    const int w = 6, h = 4;
    std::vector<std::uint8_t> picture(w * h * 3 / 2);
    for (std::size_t i = 0; i < picture.size(); ++i) picture[i] = static_cast<std::uint8_t>(i);
    const PlanarPicture planes = PlanesOf(picture.data(), w, h);
    ASSERT_EQ(planes.v, picture.data() + 24);
    ASSERT_EQ(planes.u, picture.data() + 30);

    const int pitch = 16;
    std::vector<std::uint8_t> packed(pitch * h, 0);
    PackYuy2(planes, packed.data(), pitch);
    // Row 3 uses chroma row 1: Y0 U Y1 V per pair, U from the third plane.
    const std::uint8_t* row3 = &packed[3 * pitch];
    EXPECT_EQ(std::vector<std::uint8_t>(row3, row3 + 12),
              (std::vector<std::uint8_t>{18, 33, 19, 27, 20, 34, 21, 28, 22, 35, 23, 29}));

    std::vector<std::uint8_t> planar(Yv12Bytes(h, pitch), 0);
    CopyYv12(planes, planar.data(), pitch);
    EXPECT_EQ(planar[pitch * 2 + 5], 17);
    EXPECT_EQ(planar[pitch * h + 1 * (pitch / 2) + 2], 24 + 3 + 2) << "second plane at half the pitch";
    EXPECT_EQ(planar[pitch * h + (pitch / 2) * (h / 2) + 0], 30) << "then the third plane";
}

// --- The waiting picture ---

namespace {

std::string Bitmap(int width, int height, int bits, std::uint32_t compression = 0,
                   std::function<void(int x, int y, std::uint8_t* bgr)> paint = nullptr) {
    const std::size_t row = (static_cast<std::size_t>(width) * bits / 8 + 3) / 4 * 4;
    const std::size_t pixels = row * static_cast<std::size_t>(std::abs(height));
    std::string file(54 + pixels, '\0');
    auto put32 = [&](std::size_t at, std::uint32_t v) {
        for (int b = 0; b < 4; ++b) file[at + b] = static_cast<char>(v >> (8 * b));
    };
    file[0] = 'B';
    file[1] = 'M';
    put32(2, static_cast<std::uint32_t>(file.size()));
    put32(10, 54);
    put32(14, 40);
    put32(18, static_cast<std::uint32_t>(width));
    put32(22, static_cast<std::uint32_t>(height));
    file[26] = 1;
    file[28] = static_cast<char>(bits);
    put32(30, compression);
    if (paint && bits == 24)
        for (int y = 0; y < std::abs(height); ++y)
            for (int x = 0; x < width; ++x) paint(x, y, reinterpret_cast<std::uint8_t*>(&file[54 + y * row + x * 3]));
    return file;
}

bool Decode(const std::string& file, WaitingPicture& picture, std::string& error) {
    return DecodeWaitingBitmap(reinterpret_cast<const std::uint8_t*>(file.data()), file.size(), picture, error);
}

}  // namespace

// The display path: the GPU only with a platform that can show OpenGL widgets and a
// hardware renderer; the user's choice from the environment or appConfig.ini.
TEST(DisplayPath, GpuOnlyWithAHardwareRendererUnlessTheUserForcesAPath) {
    GlCapabilities hardware;
    hardware.platform = "xcb";
    hardware.platformHostsGl = hardware.contextMade = hardware.desktopGl = true;
    hardware.renderer = "NVIDIA GeForce GTX 1650/PCIe/SSE2";
    hardware.vendor = "NVIDIA Corporation";
    GlCapabilities mesa = hardware;
    mesa.renderer = "llvmpipe (LLVM 15.0.6, 256 bits)";
    mesa.vendor = "Mesa";
    const DisplayPreference automatic;
    const DisplayPreference gpu{DisplayChoice::kGpu, "LARKVIEW_DISPLAY"};
    const DisplayPreference software{DisplayChoice::kSoftware, "appConfig.ini [Display] VideoOutput"};

    EXPECT_TRUE(DecideDisplayPath(automatic, hardware).gpu);
    const DisplayDecision cpuShading = DecideDisplayPath(automatic, mesa);
    EXPECT_FALSE(cpuShading.gpu);
    EXPECT_NE(cpuShading.reason.find("llvmpipe"), std::string::npos) << cpuShading.reason;
    EXPECT_TRUE(DecideDisplayPath(gpu, mesa).gpu) << "the user may want the software renderer's shading";
    EXPECT_FALSE(DecideDisplayPath(software, hardware).gpu);
    EXPECT_NE(DecideDisplayPath(software, hardware).reason.find("appConfig.ini"), std::string::npos);

    // What no choice can make up for: the widget could not be shown (offscreen with an
    // X display makes contexts but cannot host the widget), no context, OpenGL ES.
    GlCapabilities offscreen = hardware;
    offscreen.platform = "offscreen";
    offscreen.platformHostsGl = false;
    EXPECT_FALSE(DecideDisplayPath(gpu, offscreen).gpu);
    EXPECT_NE(DecideDisplayPath(gpu, offscreen).reason.find("offscreen"), std::string::npos);
    GlCapabilities noContext = hardware;
    noContext.contextMade = false;
    EXPECT_FALSE(DecideDisplayPath(gpu, noContext).gpu);
    GlCapabilities es = hardware;
    es.desktopGl = false;
    EXPECT_FALSE(DecideDisplayPath(gpu, es).gpu);

    for (const char* renderer : {"llvmpipe (LLVM 15.0.6, 256 bits)", "softpipe", "Software Rasterizer",
                                 "Mesa DRI swrast", "zink (lavapipe)", "Google SwiftShader",
                                 "Microsoft Basic Render Driver", "GDI Generic"})
        EXPECT_TRUE(IsSoftwareRenderer(renderer, "")) << renderer;
    EXPECT_TRUE(IsSoftwareRenderer("", "VMware, Inc. llvmpipe"));
    for (const char* renderer : {"AMD Radeon RX 6600 (radeonsi, navi23, LLVM 15.0.6, DRM 3.49)",
                                 "Mesa Intel(R) UHD Graphics 620 (KBL GT2)", "virgl (NVIDIA GeForce)"})
        EXPECT_FALSE(IsSoftwareRenderer(renderer, "Mesa")) << renderer;

    // The environment wins over the settings; the older switch still means software.
    EXPECT_EQ(ResolveDisplayPreference("gpu", nullptr, "software").choice, DisplayChoice::kGpu);
    EXPECT_EQ(ResolveDisplayPreference(" Software ", nullptr, "").choice, DisplayChoice::kSoftware);
    EXPECT_EQ(ResolveDisplayPreference(nullptr, "1", "gpu").choice, DisplayChoice::kSoftware);
    EXPECT_EQ(ResolveDisplayPreference("", "", "GPU").choice, DisplayChoice::kGpu);
    EXPECT_EQ(ResolveDisplayPreference(nullptr, nullptr, "").choice, DisplayChoice::kAuto);
    bool known = true;
    EXPECT_EQ(ParseDisplayChoice("opengl", &known), DisplayChoice::kAuto);
    EXPECT_FALSE(known);
    EXPECT_EQ(ParseDisplayChoice("auto", &known), DisplayChoice::kAuto);
    EXPECT_TRUE(known);
}

TEST(WaitingPicture, ConvertsBottomUpRowsWithTheStudioRangeEquations) {
    // File rows are bottom-up: the last file row is the top of the picture. Top half
    // pure red, bottom half pure blue.
    const std::string file = Bitmap(352, 288, 24, 0, [](int, int fileRow, std::uint8_t* bgr) {
        const bool top = fileRow >= 144;
        bgr[0] = top ? 0 : 255;
        bgr[2] = top ? 255 : 0;
    });
    WaitingPicture picture;
    std::string error;
    ASSERT_TRUE(Decode(file, picture, error)) << error;
    ASSERT_EQ(picture.size(), 152064u);
    const std::uint8_t* second = picture.data() + 352 * 288;
    const std::uint8_t* third = picture.data() + 352 * 288 * 5 / 4;
    EXPECT_EQ(picture[0], 82) << "red luma";
    EXPECT_EQ(second[0], 240) << "red: Cr in the second plane";
    EXPECT_EQ(third[0], 90) << "red: Cb in the third plane";
    EXPECT_EQ(picture[287 * 352], 41) << "blue luma at the bottom";
    EXPECT_EQ(third[143 * 176], 240);
    EXPECT_EQ(second[143 * 176], 110);
}

TEST(WaitingPicture, RefusesAnyHeaderThatCouldOverflowThePicture) {
    WaitingPicture picture;
    std::string error;
    EXPECT_FALSE(Decode(Bitmap(352, 288, 8), picture, error)) << "8 bits per pixel";
    EXPECT_FALSE(Decode(Bitmap(352, 288, 32), picture, error));
    EXPECT_FALSE(Decode(Bitmap(704, 576, 24), picture, error)) << "another size";
    EXPECT_FALSE(Decode(Bitmap(352, 288, 24, 1), picture, error)) << "compressed";
    std::string truncated = Bitmap(352, 288, 24);
    truncated.resize(truncated.size() - 1);
    EXPECT_FALSE(Decode(truncated, picture, error));
    EXPECT_EQ(error, "pixel rows beyond the end of the file");
    std::string farOffset = Bitmap(352, 288, 24);
    farOffset[10] = farOffset[11] = farOffset[12] = static_cast<char>(0xFF);
    EXPECT_FALSE(Decode(farOffset, picture, error));
    std::string notBm = Bitmap(352, 288, 24);
    notBm[0] = 'X';
    EXPECT_FALSE(Decode(notBm, picture, error));
    EXPECT_FALSE(Decode(std::string(20, 'B'), picture, error));
    EXPECT_TRUE(Decode(Bitmap(352, -288, 24), picture, error)) << "top-down rows are fine";
}

TEST(WaitingPicture, TheShippedFileIsValid) {
    const std::string file = testing_support::ReadWholeFile(MEDIA_WAITING_BMP);
    WaitingPicture picture;
    std::string error;
    ASSERT_TRUE(Decode(file, picture, error)) << error;
    EXPECT_EQ(file.size(), 54u + 352 * 288 * 3);
}

// --- Display objects and stage on a video window ---

class DisplayTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::SetProgramDirectory(dir.Path());
        std::ofstream(dir.File("waiting.bmp"), std::ios::binary) << testing_support::ReadWholeFile(MEDIA_WAITING_BMP);
        ForgetWaitingPicture();
        widget.resize(352, 288);
        widget.show();
        host.window = widget.Handle();
    }
    void TearDown() override {
        ForgetWaitingPicture();
        core::LogFile::Destroy();
        platform::SetProgramDirectory("");
    }
    std::string Log() { return dir.Read("appLogs/Manage.log"); }
    int ExpectedType() const { return widget.UsesGpu() ? kSurfaceYuy2 : kSurfacePlain; }

    testing_support::TempDir dir;
    VideoOutputWidget widget;
    media_testing::FakeHost host;
};

TEST_F(DisplayTest, CreateTriesTheGpuTypesFirstAndLogsEachFailure) {
    CDDrawShow show;
    EXPECT_FALSE(show.Create(0, kSurfacePlain, 352, 288));
    EXPECT_FALSE(show.Create(static_cast<platform::WindowHandle>(-1), kSurfacePlain, 352, 288));
    ASSERT_TRUE(show.CreateAny(widget.Handle(), 352, 288));
    EXPECT_EQ(show.Type(), ExpectedType());
    if (!widget.UsesGpu()) {
        core::LogFile::Destroy();
        const std::string log = Log();
        std::size_t first = log.find("CDDrawShow::CreateDDrawObj 创建DirectCraw对象失败!");
        ASSERT_NE(first, std::string::npos) << log;
        EXPECT_NE(log.find("CDDrawShow::CreateDDrawObj 创建DirectCraw对象失败!", first + 1), std::string::npos)
            << "types 0 and 2 both fail here";
    }
    EXPECT_FALSE(show.Create(12345, kSurfacePlain, 352, 288)) << "not a video window";
}

TEST_F(DisplayTest, DrawFillsTheSurfaceAndTheWindowShowsItScaled) {
    const auto& clip = media_testing::ClipOf(352, 288, 5);
    ASSERT_GT(clip.ReferenceCount(), 0u);
    // The decoder's plane order: Y, V, U.
    const std::uint8_t* i420 = clip.ReferencePicture(0);
    const std::uint8_t* y = i420;
    const std::uint8_t* u = i420 + 352 * 288;
    const std::uint8_t* v = u + 176 * 144;
    CDDrawShow show;
    ASSERT_TRUE(show.Create(widget.Handle(), kSurfacePlain, 352, 288));
    ASSERT_EQ(show.Draw(352, 288, y, v, u), 1);
    auto surface = show.Surface();
    EXPECT_LE(media_testing::MaxBgrDifference(surface->Bits(), surface->Pitch(), i420, 352, 288), 1);
    ASSERT_TRUE(media_testing::PumpUntil([&] { return widget.Presents() > 0; }, 2000));
    const QImage shown = widget.grab().toImage().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(shown.size(), QSize(352, 288));
    EXPECT_LE(media_testing::MaxBgrDifference(shown.constBits(), static_cast<int>(shown.bytesPerLine()), i420, 352, 288), 1);

    widget.resize(176, 144);
    const QImage half = widget.grab().toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(half.size(), QSize(176, 144)) << "scaled to the window";

    // A size change recreates the surface before drawing.
    std::vector<std::uint8_t> small(16 * 8 * 3 / 2, 128);
    ASSERT_EQ(show.Draw(16, 8, small.data(), small.data() + 128, small.data() + 160), 1);
    EXPECT_EQ(show.Surface()->Width(), 16);
    EXPECT_EQ(widget.Target()->Current(), show.Surface());
    show.Destroy();
    EXPECT_EQ(widget.Target()->Current(), nullptr);
}

// A recording's pictures reach the cell as a camera's do; the snapshot is the picture
// shown, and clearing leaves the cell to its background.
TEST_F(DisplayTest, PlaybackPicturesTakeTheLiveDisplayPathAndClearEmptiesTheCell) {
    const auto& clip = media_testing::ClipOf(352, 288, 5);
    ASSERT_GT(clip.ReferenceCount(), 0u);
    const std::uint8_t* i420 = clip.ReferencePicture(1);
    const std::size_t area = 352 * 288;
    std::vector<std::uint8_t> yvu(i420, i420 + area);  // as the decoder lays it out
    yvu.insert(yvu.end(), i420 + area * 5 / 4, i420 + area * 3 / 2);
    yvu.insert(yvu.end(), i420 + area, i420 + area * 5 / 4);
    PlaybackDisplay playback(widget.Handle());
    EXPECT_TRUE(playback.LastPicture().isNull());
    const TARN_PB_Display* target = playback.Target();
    target->showPicture(target->user, yvu.data(), 352, 288, 1796711421);
    ASSERT_TRUE(media_testing::PumpUntil([&] { return widget.CameraPresents() > 0; }, 2000));
    const QImage shown = widget.grab().toImage().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(shown.size(), QSize(352, 288));
    EXPECT_LE(media_testing::MaxBgrDifference(shown.constBits(), static_cast<int>(shown.bytesPerLine()), i420, 352, 288), 1);
    const QImage snapshot = playback.LastPicture();
    ASSERT_EQ(snapshot.size(), QSize(352, 288));
    EXPECT_LE(media_testing::MaxBgrDifference(snapshot.constBits(), static_cast<int>(snapshot.bytesPerLine()), i420, 352, 288), 1);
    EXPECT_EQ(playback.LastPictureTime(), 1796711421);
    playback.Clear();
    EXPECT_EQ(widget.Target()->Current(), nullptr);
    EXPECT_TRUE(playback.LastPicture().isNull());
}

TEST_F(DisplayTest, StageShowsTheWaitingPictureUntilTheFirstPicture) {
    CDoShow stage(host, DisplayTiming{5, 60000});
    ASSERT_TRUE(stage.Init());
    EXPECT_TRUE(stage.WaitingThreadRunning());
    auto waiting = LoadWaitingPicture();
    ASSERT_TRUE(waiting);
    ASSERT_TRUE(media_testing::PumpUntil([&] { return widget.Target()->Current() != nullptr && widget.Presents() > 0; }, 3000));
    auto surface = widget.Target()->Current();
    EXPECT_EQ(surface->Width(), 352);
    if (surface->Type() == kSurfacePlain) {
        std::lock_guard lock(surface->Mutex());
        std::vector<std::uint8_t> expected(surface->Bytes());
        ConvertToBgrx(PlanesOf(waiting->data(), 352, 288), expected.data(), surface->Pitch());
        EXPECT_EQ(std::memcmp(expected.data(), surface->Bits(), expected.size()), 0) << "the waiting picture";
    }
    EXPECT_FALSE(surface->HoldsCameraPicture());
    EXPECT_EQ(widget.CameraPresents(), 0) << "the waiting picture is no camera picture";

    // The first real picture ends the waiting thread and replaces the picture.
    std::vector<std::uint8_t> picture(704 * 576 * 3 / 2, 200);
    StageFrame frame;
    frame.picture = picture.data();
    frame.width = 704;
    frame.height = 576;
    frame.hasPicture = 1;
    EXPECT_TRUE(stage.Process(frame));
    const std::uint64_t waitingSurface = surface->Serial();
    ASSERT_TRUE(media_testing::PumpUntil([&] { return widget.Target()->Current()->Serial() != waitingSurface; }, 2000));
    const auto shown = widget.Target()->Current();
    EXPECT_TRUE(shown->HoldsCameraPicture());
    ASSERT_TRUE(media_testing::PumpUntil([&] { return widget.CameraPresents() == 1; }, 2000)) << "the camera's picture";
    if (shown->Type() == kSurfacePlain)
        EXPECT_EQ(shown->Width(), 352) << "surfaces recreated for the new size, converted at the window's size";
    else
        EXPECT_EQ(shown->Width(), 704) << "surfaces recreated for the new size";
    EXPECT_EQ(stage.SurfaceType(), ExpectedType());

    EXPECT_TRUE(stage.Release());
    EXPECT_FALSE(stage.WaitingThreadRunning());
    EXPECT_EQ(widget.Target()->Current(), nullptr) << "released: the window shows its background";
    EXPECT_TRUE(host.Tasks().empty());
}

TEST_F(DisplayTest, APictureLargerThanItsWindowIsConvertedAtTheWindowsSize) {
    const auto picture = RandomPicture(704, 576, 7);
    const PlanarPicture planes = PlanesOf(picture.data(), 704, 576);
    CDDrawShow show;
    ASSERT_TRUE(show.Create(widget.Handle(), kSurfacePlain, 704, 576));
    ASSERT_EQ(show.Draw(704, 576, planes.y, planes.v, planes.u), 1);
    EXPECT_EQ(show.Surface()->Width(), 352);
    EXPECT_EQ(show.Surface()->Height(), 288);
    std::vector<std::uint8_t> full(704 * 576 * 4);
    ConvertToBgrx(planes, full.data(), 704 * 4);
    auto surface = show.Surface();
    EXPECT_EQ(std::memcmp(surface->Bits() + 5 * surface->Pitch() + 7 * 4, &full[(11 * 704 + 15) * 4], 4), 0)
        << "pixel (7, 5) is the picture's (15, 11)";
    ASSERT_TRUE(media_testing::PumpUntil([&] { return widget.Presents() > 0; }, 2000));
    const QImage shown = widget.grab().toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(std::memcmp(shown.constScanLine(5) + 7 * 4, surface->Bits() + 5 * surface->Pitch() + 7 * 4, 3), 0)
        << "the window shows the surface as it is";

    // A resized window gets a surface of its new size with the next picture; a window
    // larger than the picture gets the whole picture, scaled up by the blit.
    widget.resize(200, 100);
    QCoreApplication::processEvents();
    ASSERT_EQ(show.Draw(704, 576, planes.y, planes.v, planes.u), 1);
    EXPECT_EQ(show.Surface()->Width(), 200);
    EXPECT_EQ(show.Surface()->Height(), 100);
    EXPECT_EQ(widget.Target()->Current(), show.Surface());
    widget.resize(800, 300);
    QCoreApplication::processEvents();
    ASSERT_EQ(show.Draw(704, 576, planes.y, planes.v, planes.u), 1);
    EXPECT_EQ(show.Surface()->Width(), 704);
    EXPECT_EQ(show.Surface()->Height(), 300);
    widget.resize(1000, 800);
    QCoreApplication::processEvents();
    ASSERT_EQ(show.Draw(704, 576, planes.y, planes.v, planes.u), 1);
    EXPECT_EQ(show.Surface()->Width(), 704);
    EXPECT_EQ(show.Surface()->Height(), 576);
    EXPECT_EQ(std::memcmp(show.Surface()->Bits(), full.data(), full.size()), 0) << "the whole picture, unscaled";
}

TEST_F(DisplayTest, AnotherWindowGetsNewSurfacesAndTheOldOneLetsGo) {
    std::remove(dir.File("waiting.bmp").c_str());
    ForgetWaitingPicture();
    VideoOutputWidget other;
    CDoShow stage(host);
    ASSERT_TRUE(stage.Init());
    std::vector<std::uint8_t> picture(64 * 48 * 3 / 2, 90);
    StageFrame frame;
    frame.picture = picture.data();
    frame.width = 64;
    frame.height = 48;
    frame.hasPicture = 1;
    frame.consumed = 1;
    stage.Process(frame);
    ASSERT_NE(widget.Target()->Current(), nullptr);
    host.window = other.Handle();
    stage.Process(frame);
    EXPECT_EQ(widget.Target()->Current(), nullptr);
    ASSERT_NE(other.Target()->Current(), nullptr);
    EXPECT_EQ(other.Target()->Current()->Width(), 64);
    stage.Release();
}

TEST_F(DisplayTest, TenSecondRulePostsCloseExactlyOnce) {
    CDoShow stage(host, DisplayTiming{5, 200});
    ASSERT_TRUE(stage.Init());
    ASSERT_TRUE(media_testing::PumpUntil([&] { return !host.Tasks().empty(); }, 5000));
    media_testing::PumpUntil([] { return false; }, 300);  // long enough for a second one
    const auto tasks = host.Tasks();
    ASSERT_EQ(tasks.size(), 1u);
    EXPECT_EQ(tasks[0].id, 1029u);
    EXPECT_EQ(tasks[0].wParam, 3u) << "the cell index";
    EXPECT_EQ(tasks[0].lParam, 1);
    core::LogFile::Destroy();
    EXPECT_NE(Log().find("十秒还未收到数据，关闭该摄像头!"), std::string::npos);
    stage.Release();
}

TEST_F(DisplayTest, NoTenSecondRuleWithoutAWaitingPicture) {
    std::remove(dir.File("waiting.bmp").c_str());
    ForgetWaitingPicture();
    CDoShow stage(host, DisplayTiming{5, 50});
    ASSERT_TRUE(stage.Init());
    media_testing::PumpUntil([] { return false; }, 250);
    EXPECT_TRUE(host.Tasks().empty());
    EXPECT_EQ(widget.Target()->Current(), nullptr);
    stage.Release();
}

TEST_F(DisplayTest, StageWithoutAWindowIsRefusedAndPicturesWithoutSizeDrawNothing) {
    media_testing::FakeHost windowless;
    CDoShow refused(windowless);
    EXPECT_FALSE(refused.Init());
    EXPECT_FALSE(refused.WaitingThreadRunning());

    std::remove(dir.File("waiting.bmp").c_str());
    ForgetWaitingPicture();
    CDoShow stage(host);
    ASSERT_TRUE(stage.Init());
    StageFrame frame;
    EXPECT_TRUE(stage.Process(frame)) << "no picture";
    std::uint8_t byte = 0;
    frame.picture = &byte;
    frame.hasPicture = 1;
    EXPECT_TRUE(stage.Process(frame)) << "no size";
    EXPECT_FALSE(stage.SurfacesReady());
    stage.Release();
}
