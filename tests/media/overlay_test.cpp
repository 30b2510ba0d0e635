// The overlay stage's block for Glaze, and Glaze drawing the recording mark.
#include <gtest/gtest.h>

#include <cstring>
#include <iconv.h>

#include "libs/glaze/gbk_text.h"
#include "libs/glaze/glaze.h"
#include "media/mixer_stage.h"
#include "media_test_support.h"

using namespace media;

namespace {

std::int32_t Le32At(const void* block, std::size_t offset) {
    std::int32_t value;
    std::memcpy(&value, static_cast<const std::uint8_t*>(block) + offset, 4);
    return value;
}

struct MarkCase {
    int width, height, x, y, font;
};

}  // namespace

TEST(RecordingMark, PositionAndFontIndexFollowThePictureSize) {
    const MarkCase cases[] = {{352, 288, 308, 229, 0}, {704, 576, 616, 488, 1}, {1280, 720, 1120, 618, 2}};
    for (const MarkCase& c : cases) {
        GLZ_OSD osd;
        std::memset(&osd, 0xAB, sizeof osd);  // everything not filled must come out zero
        GLZ_PICTURE description{};
        std::uint8_t picture[1];
        FillRecordingMark(picture, c.width, c.height, osd, description);
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(&osd);
        EXPECT_EQ(Le32At(bytes, 152 + 0), 1) << "entry 1 enabled";
        EXPECT_EQ(Le32At(bytes, 152 + 4), c.x) << c.width;
        EXPECT_EQ(Le32At(bytes, 152 + 8), c.y) << c.width;
        EXPECT_EQ(Le32At(bytes, 152 + 12), c.font) << c.width;
        EXPECT_EQ(Le32At(bytes, 152 + 16), 0);
        EXPECT_EQ(bytes[152 + 20], 'L');
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes + 152 + 24)), kRecordingMarkGbk);
        for (std::size_t i = 0; i < sizeof osd; ++i) {
            if (i >= 152 && i < 152 + 24 + sizeof kRecordingMarkGbk) continue;
            ASSERT_EQ(bytes[i], 0) << "byte " << i << " for width " << c.width;
        }
        EXPECT_EQ(description.picture, picture);
        EXPECT_EQ(description.width, c.width);
        EXPECT_EQ(description.height, c.height);
        EXPECT_EQ(description.reserved, 0);
    }
}

TEST(RecordingMark, TextIsRecordingInGbk) {
    iconv_t cd = iconv_open("UTF-8", "GBK");
    ASSERT_NE(cd, reinterpret_cast<iconv_t>(-1));
    char in[sizeof kRecordingMarkGbk];
    std::memcpy(in, kRecordingMarkGbk, sizeof in);
    char out[64] = {};
    char* inPtr = in;
    char* outPtr = out;
    std::size_t inLeft = std::strlen(in), outLeft = sizeof out - 1;
    ASSERT_NE(iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft), static_cast<std::size_t>(-1));
    iconv_close(cd);
    EXPECT_STREQ(out, "●录像中");
    EXPECT_EQ(glaze::DecodeGbk(kRecordingMarkGbk, 128), U"●录像中");
}

TEST(Glaze, GbkDecodingIsBoundedAndSurvivesBadBytes) {
    EXPECT_EQ(glaze::DecodeGbk("AB\0CD", 5), U"AB");
    EXPECT_EQ(glaze::DecodeGbk("ABCD", 2), U"AB") << "no terminator: stops at the size";
    const std::u32string broken = glaze::DecodeGbk("\xA1" "A\xFF", 3);
    EXPECT_FALSE(broken.empty());
    EXPECT_NE(broken.find(U'\uFFFD'), std::u32string::npos);
    EXPECT_EQ(glaze::DecodeGbk(nullptr, 10), U"");
}

namespace {

struct Picture {
    int width, height;
    std::vector<std::uint8_t> bytes;
    Picture(int w, int h, std::uint8_t y, std::uint8_t c = 128) : width(w), height(h), bytes(w * h * 3 / 2, c) {
        std::fill(bytes.begin(), bytes.begin() + w * h, y);
    }
    std::uint8_t Y(int x, int row) const { return bytes[row * width + x]; }
};

// Draws the mark as the overlay stage would; the bytes that changed, as a box.
struct Box {
    int left = 1 << 30, top = 1 << 30, right = -1, bottom = -1;
    int darker = 0, brighter = 0;
};
Box MixAndFindChanges(Picture& picture) {
    const std::vector<std::uint8_t> before = picture.bytes;
    GLZ_OSD osd;
    GLZ_PICTURE description;
    FillRecordingMark(picture.bytes.data(), picture.width, picture.height, osd, description);
    const int mixer = GLZ_Initialize();
    EXPECT_GT(mixer, 0);
    GLZ_MixOSD(mixer, &osd, &description);
    GLZ_Uninitialize(mixer);
    Box box;
    for (int row = 0; row < picture.height; ++row)
        for (int x = 0; x < picture.width; ++x) {
            const int now = picture.Y(x, row), was = before[row * picture.width + x];
            if (now == was) continue;
            box.left = std::min(box.left, x);
            box.right = std::max(box.right, x);
            box.top = std::min(box.top, row);
            box.bottom = std::max(box.bottom, row);
            box.darker += now < was;
            box.brighter += now > was;
        }
    return box;
}

}  // namespace

TEST(Glaze, DrawsTheMarkInPlaceAtItsPositionLegibleOnAnyBackground) {
    for (std::uint8_t background : {16, 128, 235}) {
        Picture picture(704, 576, background);
        const Box box = MixAndFindChanges(picture);
        ASSERT_GE(box.right, 0) << "something was drawn on " << int(background);
        EXPECT_GE(box.top, 488 - 4);
        EXPECT_LE(box.top, 488 + 8);
        EXPECT_LT(box.bottom - box.top, 40) << "one line of the medium font";
        EXPECT_GT(box.right - box.left, 60) << "four glyphs";
        EXPECT_LE(box.right, 703);
        // Legible: the text differs from any background, through its fill or its outline.
        if (background == 16) {
            EXPECT_GT(box.brighter, 100);
        } else if (background == 235) {
            EXPECT_GT(box.darker, 100);
        } else {
            EXPECT_GT(box.darker + box.brighter, 200);
        }
    }
}

TEST(Glaze, MarkNearTheEdgeStaysWholeInsideTheSmallPicture) {
    Picture picture(352, 288, 128);
    const Box box = MixAndFindChanges(picture);
    ASSERT_GE(box.right, 0);
    EXPECT_LE(box.right, 351) << "moved left to fit, never past the edge";
    EXPECT_LT(box.left, 308) << "the text is wider than the 44 pixels right of x";
    EXPECT_GE(box.top, 225);
}

TEST(Glaze, ColoursTheChromaOfTheMark) {
    Picture picture(704, 576, 128);
    MixAndFindChanges(picture);
    const std::uint8_t* v = picture.bytes.data() + 704 * 576;
    int reddish = 0;
    for (int i = 0; i < 352 * 288; ++i) reddish += v[i] > 160;
    EXPECT_GT(reddish, 20) << "the recording mark is red";
}

TEST(Glaze, TinyAndOddPicturesAndBadArgumentsAreSafe) {
    const int mixer = GLZ_Initialize();
    GLZ_OSD osd;
    GLZ_PICTURE description;
    for (auto [w, h] : {std::pair{1, 1}, {3, 5}, {17, 9}, {40, 30}}) {
        std::vector<std::uint8_t> bytes(w * h * 3 / 2 + 1, 100);
        FillRecordingMark(bytes.data(), w, h, osd, description);
        GLZ_MixOSD(mixer, &osd, &description);  // the sanitizer build checks the bounds
        EXPECT_EQ(bytes.back(), 100) << w << "x" << h;
    }
    std::vector<std::uint8_t> bytes(352 * 288 * 3 / 2, 100);
    FillRecordingMark(bytes.data(), 352, 288, osd, description);
    osd.texts[1].x = -5000;
    osd.texts[1].y = 1 << 30;
    osd.texts[1].fontIndex = 99;
    std::memset(osd.texts[1].text, 'A', sizeof osd.texts[1].text);  // no terminator
    GLZ_MixOSD(mixer, &osd, &description);
    GLZ_MixOSD(mixer, nullptr, &description);
    GLZ_MixOSD(mixer, &osd, nullptr);
    GLZ_MixOSD(0, &osd, &description);
    GLZ_Uninitialize(mixer);
    GLZ_MixOSD(mixer, &osd, &description);  // after release: ignored
    GLZ_Uninitialize(mixer);
}

TEST(OverlayStage, DrawsOnlyWhileRecordingAndNeverRefuses) {
    media_testing::FakeHost host;
    CDoMixer mixer(host);
    EXPECT_FALSE(mixer.Init()) << "no display window";
    host.window = 77;
    ASSERT_TRUE(mixer.Init());

    std::vector<std::uint8_t> picture(352 * 288 * 3 / 2, 128);
    const std::vector<std::uint8_t> original = picture;
    StageFrame frame;
    frame.picture = picture.data();
    frame.width = 352;
    frame.height = 288;
    EXPECT_TRUE(mixer.Process(frame));
    EXPECT_EQ(picture, original) << "not recording: the picture passes unchanged";

    host.recording = true;
    EXPECT_TRUE(mixer.Process(frame));
    EXPECT_NE(picture, original);
    EXPECT_EQ(picture.size(), original.size());

    StageFrame empty;
    EXPECT_TRUE(mixer.Process(empty)) << "a frame without a picture passes";
    EXPECT_TRUE(mixer.Release());
}
