// The exported decoder interface against FFmpeg's own decode of streams made at test
// time, and its behaviour on bad handles, bad arguments and hostile input.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <random>
#include <string>
#include <thread>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

#include "support/annexb.h"
#include "support/h264_streams.h"
#include "support/temp_dir.h"
#include "vdec/vdec.h"

using testing_support::StreamRecipe;

namespace {

std::size_t PictureBytes(int width, int height) { return static_cast<std::size_t>(width) * height * 3 / 2; }

// A stream with its access units and FFmpeg's decoded pictures, already in our
// Y, V, U order.
struct TestStream {
    int width = 0;
    int height = 0;
    std::vector<std::string> accessUnits;
    std::vector<std::string> pictures;
};

// Reorders one raw I420 (Y, U, V) picture into Y, V, U.
std::string SwapChroma(const std::string& i420, int width, int height) {
    const std::size_t luma = static_cast<std::size_t>(width) * height;
    const std::size_t chroma = static_cast<std::size_t>(width / 2) * (height / 2);
    return i420.substr(0, luma) + i420.substr(luma + chroma, chroma) + i420.substr(luma, chroma);
}

TestStream MakeStream(const testing_support::TempDir& dir, const StreamRecipe& recipe, const std::string& name,
                      int width, int height) {
    TestStream stream;
    stream.width = width;
    stream.height = height;
    const std::string coded = dir.File(name + ".h264");
    const std::string raw = dir.File(name + ".yuv");
    EXPECT_TRUE(testing_support::EncodeStream(recipe, coded)) << "ffmpeg with libx264 is needed to make " << name;
    EXPECT_TRUE(testing_support::DecodeReference(coded, "yuv420p", raw));
    stream.accessUnits = testing_support::SplitAccessUnits(testing_support::ReadWholeFile(coded));
    const std::string all = testing_support::ReadWholeFile(raw);
    const std::size_t size = PictureBytes(width, height);
    for (std::size_t at = 0; size > 0 && at + size <= all.size(); at += size)
        stream.pictures.push_back(SwapChroma(all.substr(at, size), width, height));
    EXPECT_EQ(stream.pictures.size(), static_cast<std::size_t>(recipe.frames));
    EXPECT_EQ(stream.accessUnits.size(), static_cast<std::size_t>(recipe.frames));
    return stream;
}

// Decodes one access unit with the bounded export into a buffer of `capacity` bytes.
struct Decoded {
    int result = 0;
    int consumed = -7;
    int width = -7;
    int height = -7;
    std::string picture;
};

Decoded DecodeEx(unsigned long handle, const std::string& unit, std::size_t capacity, char fill = '\x5A') {
    Decoded out;
    out.picture.assign(capacity, fill);
    std::string input = unit;
    out.result = DeCoderEx(handle, input.data(), static_cast<int>(input.size()), out.picture.data(),
                           static_cast<int>(capacity), out.consumed, out.width, out.height);
    return out;
}

// A decoder handle released at the end of the scope.
struct Handle {
    unsigned long value = InitDeCode();
    ~Handle() { ReleaseDeCode(value); }
};

// --- Pictures equal FFmpeg's, byte for byte ---------------------------------------

struct MatchCase {
    const char* name;
    StreamRecipe recipe;
    int width;
    int height;
};

class VdecMatchesFfmpeg : public testing::TestWithParam<MatchCase> {};

TEST_P(VdecMatchesFfmpeg, EveryPictureEqualsTheReference) {
    const MatchCase& param = GetParam();
    testing_support::TempDir dir;
    const TestStream stream = MakeStream(dir, param.recipe, "stream", param.width, param.height);
    ASSERT_FALSE(stream.accessUnits.empty());

    // The plain export with a buffer of exactly the picture size, and the bounded one.
    Handle plain, bounded;
    ASSERT_NE(plain.value, 0u);
    ASSERT_NE(bounded.value, 0u);
    const std::size_t size = PictureBytes(param.width, param.height);
    std::vector<std::string> plainPictures, boundedPictures;
    for (const std::string& unit : stream.accessUnits) {
        std::string input = unit;
        std::string picture(size, '\0');
        int consumed = -7;
        const int result = DeCoder(plain.value, input.data(), static_cast<int>(input.size()), picture.data(), consumed);
        if (result == 1) {
            EXPECT_EQ(consumed, static_cast<int>(unit.size()));
            plainPictures.push_back(picture);
        } else {
            EXPECT_EQ(result, 0);
            EXPECT_EQ(consumed, -7) << "consumed is left alone without a picture";
        }
        const Decoded decoded = DecodeEx(bounded.value, unit, size);
        if (decoded.result == 1) {
            EXPECT_EQ(decoded.width, param.width);
            EXPECT_EQ(decoded.height, param.height);
            boundedPictures.push_back(decoded.picture);
        }
    }

    // Without B-frames every access unit gives its picture at once; with them the last
    // few stay in the reorder buffer, since nothing flushes the decoder.
    const std::size_t frames = stream.pictures.size();
    if (param.recipe.bFrames == 0) {
        EXPECT_EQ(plainPictures.size(), frames);
    } else {
        EXPECT_GE(plainPictures.size() + 4, frames);
    }
    ASSERT_EQ(boundedPictures.size(), plainPictures.size());
    for (std::size_t i = 0; i < plainPictures.size(); ++i) {
        ASSERT_TRUE(plainPictures[i] == stream.pictures[i]) << "picture " << i << " differs";
        ASSERT_TRUE(boundedPictures[i] == stream.pictures[i]) << "picture " << i << " differs (bounded)";
    }
}

StreamRecipe Recipe(int width, int height, int frames, const char* profile, int bFrames, const char* filter = "") {
    StreamRecipe recipe;
    recipe.width = width;
    recipe.height = height;
    recipe.frames = frames;
    recipe.profile = profile;
    recipe.bFrames = bFrames;
    recipe.bitstreamFilter = filter;
    return recipe;
}

INSTANTIATE_TEST_SUITE_P(
    Streams, VdecMatchesFfmpeg,
    testing::Values(MatchCase{"Cif_Baseline", Recipe(352, 288, 30, "baseline", 0), 352, 288},
                    MatchCase{"Cif_Main_BFrames", Recipe(352, 288, 30, "main", 2), 352, 288},
                    MatchCase{"D1_Main", Recipe(704, 576, 16, "main", 0), 704, 576},
                    MatchCase{"D1_High_BFrames", Recipe(704, 576, 16, "high", 3), 704, 576},
                    MatchCase{"Hd720_High", Recipe(1280, 720, 10, "high", 0), 1280, 720},
                    MatchCase{"Hd720_Baseline", Recipe(1280, 720, 10, "baseline", 0), 1280, 720},
                    MatchCase{"Cropped_High_BFrames",
                              Recipe(352, 288, 20, "high", 3, "h264_metadata=crop_right=2:crop_bottom=2"), 350, 286},
                    // A left crop that would misalign the planes is not applied by libavcodec
                    // (the stream says 348 wide, the pictures are 352): the picture's own size
                    // counts, as in FFmpeg's output, and the bounded export reports it.
                    MatchCase{"Cropped_Baseline",
                              Recipe(352, 288, 20, "baseline", 0, "h264_metadata=crop_left=4:crop_top=2"), 352, 286}),
    [](const testing::TestParamInfo<MatchCase>& named) { return std::string(named.param.name); });

// --- Stream boundaries and handles ------------------------------------------------

class VdecStreams : public testing::Test {
protected:
    static void SetUpTestSuite() { av_log_set_level(AV_LOG_QUIET); }
    testing_support::TempDir dir_;
};

TEST_F(VdecStreams, ParameterSetsAloneGiveNoPicture) {
    const TestStream stream = MakeStream(dir_, Recipe(352, 288, 3, "main", 0), "cif", 352, 288);
    ASSERT_FALSE(stream.accessUnits.empty());
    const std::string& first = stream.accessUnits[0];
    const auto nals = testing_support::SplitNalUnits(first);
    ASSERT_GE(nals.size(), 3u);
    ASSERT_EQ(nals[0].type, 7);
    ASSERT_EQ(nals[1].type, 8);
    const std::size_t parameterSets = nals[2].offset;

    Handle decoder;
    const std::size_t size = PictureBytes(352, 288);
    const Decoded sets = DecodeEx(decoder.value, first.substr(0, parameterSets), size);
    EXPECT_EQ(sets.result, 0);
    EXPECT_EQ(sets.consumed, -7);
    EXPECT_EQ(sets.width, -7);
    EXPECT_TRUE(sets.picture == std::string(size, '\x5A')) << "nothing is written without a picture";

    std::string input = first.substr(0, parameterSets);
    std::string picture(size, '\x33');
    int consumed = -7;
    EXPECT_EQ(DeCoder(decoder.value, input.data(), static_cast<int>(input.size()), picture.data(), consumed), 0);
    EXPECT_EQ(consumed, -7);
    EXPECT_TRUE(picture == std::string(size, '\x33'));

    // The rest of the access unit then decodes against the parameter sets sent alone.
    const Decoded rest = DecodeEx(decoder.value, first.substr(parameterSets), size);
    ASSERT_EQ(rest.result, 1);
    EXPECT_EQ(rest.consumed, static_cast<int>(first.size() - parameterSets));
    EXPECT_TRUE(rest.picture == stream.pictures[0]);
}

TEST_F(VdecStreams, HandlesDecodeInterleavedStreamsAndSurviveEachOthersRelease) {
    const TestStream cif = MakeStream(dir_, Recipe(352, 288, 12, "main", 0), "cif", 352, 288);
    const TestStream d1 = MakeStream(dir_, Recipe(704, 576, 12, "high", 0), "d1", 704, 576);
    const unsigned long a = InitDeCode();
    const unsigned long b = InitDeCode();
    ASSERT_NE(a, 0u);
    ASSERT_NE(b, 0u);
    ASSERT_NE(a, b);

    const std::size_t half = cif.accessUnits.size() / 2;
    for (std::size_t i = 0; i < half; ++i) {
        const Decoded fromA = DecodeEx(a, cif.accessUnits[i], PictureBytes(352, 288));
        const Decoded fromB = DecodeEx(b, d1.accessUnits[i], PictureBytes(704, 576));
        ASSERT_EQ(fromA.result, 1);
        ASSERT_EQ(fromB.result, 1);
        ASSERT_TRUE(fromA.picture == cif.pictures[i]) << "picture " << i;
        ASSERT_TRUE(fromB.picture == d1.pictures[i]) << "picture " << i;
    }
    EXPECT_TRUE(ReleaseDeCode(a));
    EXPECT_FALSE(ReleaseDeCode(a)) << "a second release finds nothing";
    for (std::size_t i = half; i < d1.accessUnits.size(); ++i) {
        EXPECT_EQ(DecodeEx(a, cif.accessUnits[i], PictureBytes(352, 288)).result, 0);
        const Decoded fromB = DecodeEx(b, d1.accessUnits[i], PictureBytes(704, 576));
        ASSERT_EQ(fromB.result, 1);
        ASSERT_TRUE(fromB.picture == d1.pictures[i]) << "picture " << i;
    }
    EXPECT_TRUE(ReleaseDeCode(b));
}

TEST(VdecHandles, ZeroUnknownAndReleasedHandlesAreRefused) {
    char data[] = {0, 0, 0, 1, 0x67, 0x42};
    std::string picture(64, '\0');
    int consumed = -7, width = -7, height = -7;
    EXPECT_EQ(DeCoder(0, data, sizeof data, picture.data(), consumed), 0);
    EXPECT_EQ(DeCoderEx(0, data, sizeof data, picture.data(), 64, consumed, width, height), 0);
    EXPECT_FALSE(ReleaseDeCode(0));

    const unsigned long first = InitDeCode();
    const unsigned long second = InitDeCode();
    ASSERT_NE(first, 0u);
    ASSERT_NE(second, 0u);
    EXPECT_NE(first, second);
    EXPECT_EQ(DeCoder(second + 1000, data, sizeof data, picture.data(), consumed), 0);
    EXPECT_FALSE(ReleaseDeCode(second + 1000));
    EXPECT_FALSE(ReleaseDeCode(~0ul));

    EXPECT_TRUE(ReleaseDeCode(first));
    EXPECT_FALSE(ReleaseDeCode(first));
    EXPECT_EQ(DeCoder(first, data, sizeof data, picture.data(), consumed), 0);
    const unsigned long third = InitDeCode();
    EXPECT_NE(third, first) << "a released handle is not handed out again";
    EXPECT_NE(third, 0u);
    EXPECT_TRUE(ReleaseDeCode(second));
    EXPECT_TRUE(ReleaseDeCode(third));
    EXPECT_EQ(consumed, -7);
}

// --- The bounded export ------------------------------------------------------------

TEST_F(VdecStreams, BoundedExportNeverWritesPastTheCapacityAndReportsTheSize) {
    const TestStream cif = MakeStream(dir_, Recipe(352, 288, 6, "main", 0), "cif", 352, 288);
    const TestStream d1 = MakeStream(dir_, Recipe(704, 576, 6, "main", 0), "d1", 704, 576);
    Handle decoder;
    const std::size_t cifSize = PictureBytes(352, 288);

    // One byte short: the picture is decoded but not written.
    const Decoded tooSmall = DecodeEx(decoder.value, cif.accessUnits[0], cifSize - 1);
    EXPECT_EQ(tooSmall.result, kVdecBufferTooSmall);
    EXPECT_EQ(tooSmall.width, 352);
    EXPECT_EQ(tooSmall.height, 288);
    EXPECT_EQ(tooSmall.consumed, static_cast<int>(cif.accessUnits[0].size()));
    EXPECT_TRUE(tooSmall.picture == std::string(cifSize - 1, '\x5A'));
    // The lost picture still serves as reference for the next one.
    for (std::size_t i = 1; i < cif.accessUnits.size(); ++i) {
        const Decoded next = DecodeEx(decoder.value, cif.accessUnits[i], cifSize);
        ASSERT_EQ(next.result, 1);
        ASSERT_TRUE(next.picture == cif.pictures[i]) << "picture " << i;
    }

    // The stream grows to 704x576 while the caller still expects 352x288.
    const Decoded grown = DecodeEx(decoder.value, d1.accessUnits[0], cifSize);
    EXPECT_EQ(grown.result, kVdecBufferTooSmall);
    EXPECT_EQ(grown.width, 704);
    EXPECT_EQ(grown.height, 576);
    EXPECT_TRUE(grown.picture == std::string(cifSize, '\x5A'));
    const Decoded resized = DecodeEx(decoder.value, d1.accessUnits[1], PictureBytes(grown.width, grown.height));
    ASSERT_EQ(resized.result, 1);
    EXPECT_TRUE(resized.picture == d1.pictures[1]);

    // Bad arguments are refused without disturbing the decoder: an empty packet must
    // not end its stream.
    std::string input = d1.accessUnits[2];
    std::string picture(PictureBytes(704, 576), '\0');
    int consumed = -7, width = -7, height = -7;
    EXPECT_EQ(DeCoderEx(decoder.value, input.data(), static_cast<int>(input.size()), picture.data(), -1, consumed, width,
                        height),
              0);
    EXPECT_EQ(DeCoderEx(decoder.value, input.data(), static_cast<int>(input.size()), nullptr, 1 << 20, consumed, width,
                        height),
              0);
    EXPECT_EQ(DeCoderEx(decoder.value, input.data(), 0, picture.data(), 1 << 20, consumed, width, height), 0);
    EXPECT_EQ(DeCoderEx(decoder.value, input.data(), -5, picture.data(), 1 << 20, consumed, width, height), 0);
    EXPECT_EQ(DeCoderEx(decoder.value, nullptr, 100, picture.data(), 1 << 20, consumed, width, height), 0);
    EXPECT_EQ(consumed, -7);
    for (std::size_t i = 2; i < d1.accessUnits.size(); ++i) {
        const Decoded next = DecodeEx(decoder.value, d1.accessUnits[i], PictureBytes(704, 576));
        ASSERT_EQ(next.result, 1);
        ASSERT_TRUE(next.picture == d1.pictures[i]) << "picture " << i;
    }
}

// --- Pictures that are not 4:2:0 ---------------------------------------------------

// Reference for a converted picture: FFmpeg's native planes, chroma averaged down to
// 4:2:0 with rounding, in Y, V, U order.
std::string AverageDown(const std::string& raw, int width, int height, bool halfWidthSource) {
    const int sourceWidth = halfWidthSource ? width / 2 : width;
    const std::size_t luma = static_cast<std::size_t>(width) * height;
    const std::size_t sourceChroma = static_cast<std::size_t>(sourceWidth) * height;
    std::string planes[2];  // U, V
    for (int p = 0; p < 2; ++p) {
        const char* source = raw.data() + luma + p * sourceChroma;
        auto at = [&](int x, int y) { return static_cast<unsigned char>(source[y * sourceWidth + x]); };
        for (int y = 0; y < height / 2; ++y)
            for (int x = 0; x < width / 2; ++x) {
                const int value = halfWidthSource ? (at(x, 2 * y) + at(x, 2 * y + 1) + 1) / 2
                                                  : (at(2 * x, 2 * y) + at(2 * x + 1, 2 * y) + at(2 * x, 2 * y + 1) +
                                                     at(2 * x + 1, 2 * y + 1) + 2) / 4;
                planes[p].push_back(static_cast<char>(value));
            }
    }
    return raw.substr(0, luma) + planes[1] + planes[0];
}

TEST_F(VdecStreams, FourTwoTwoAndFourFourFourAreAveragedToFourTwoZero) {
    struct Case {
        const char* profile;
        const char* format;
        bool halfWidth;
    };
    for (const Case& c : {Case{"high422", "yuv422p", true}, Case{"high444", "yuv444p", false}}) {
        SCOPED_TRACE(c.format);
        StreamRecipe recipe = Recipe(352, 288, 5, c.profile, 0);
        recipe.pixelFormat = c.format;
        const std::string coded = dir_.File(std::string(c.format) + ".h264");
        const std::string raw = dir_.File(std::string(c.format) + ".raw");
        ASSERT_TRUE(testing_support::EncodeStream(recipe, coded));
        ASSERT_TRUE(testing_support::DecodeReference(coded, c.format, raw));
        const auto units = testing_support::SplitAccessUnits(testing_support::ReadWholeFile(coded));
        const std::string reference = testing_support::ReadWholeFile(raw);
        const std::size_t nativeSize = 352 * 288 * (c.halfWidth ? 2 : 3);
        ASSERT_EQ(reference.size(), nativeSize * units.size());

        Handle decoder;
        for (std::size_t i = 0; i < units.size(); ++i) {
            const Decoded decoded = DecodeEx(decoder.value, units[i], PictureBytes(352, 288));
            ASSERT_EQ(decoded.result, 1);
            ASSERT_TRUE(decoded.picture == AverageDown(reference.substr(i * nativeSize, nativeSize), 352, 288, c.halfWidth))
                << "picture " << i;
        }
    }
}

TEST_F(VdecStreams, HighBitDepthPicturesAreRefused) {
    StreamRecipe recipe = Recipe(352, 288, 3, "high10", 0);
    recipe.pixelFormat = "yuv420p10le";
    const std::string coded = dir_.File("ten.h264");
    ASSERT_TRUE(testing_support::EncodeStream(recipe, coded));
    const auto units = testing_support::SplitAccessUnits(testing_support::ReadWholeFile(coded));
    ASSERT_FALSE(units.empty());

    Handle ex, plain;
    const std::size_t size = PictureBytes(352, 288);
    for (const std::string& unit : units) {
        const Decoded decoded = DecodeEx(ex.value, unit, size * 2);
        EXPECT_EQ(decoded.result, kVdecUnsupportedFormat);
        EXPECT_EQ(decoded.width, 352);
        EXPECT_TRUE(decoded.picture == std::string(size * 2, '\x5A'));

        std::string input = unit;
        std::string picture(size, '\x33');
        int consumed = -7;
        EXPECT_EQ(DeCoder(plain.value, input.data(), static_cast<int>(input.size()), picture.data(), consumed), 0);
        EXPECT_EQ(consumed, -7);
        EXPECT_TRUE(picture == std::string(size, '\x33'));
    }
}

// --- Hostile input and threads -----------------------------------------------------

TEST_F(VdecStreams, TruncatedAndRandomInputIsSurvived) {
    const TestStream cif = MakeStream(dir_, Recipe(352, 288, 8, "high", 2), "cif", 352, 288);
    Handle decoder;
    const std::size_t capacity = PictureBytes(352, 288);
    std::mt19937 random(1234);
    auto checkSane = [&](const Decoded& d) {
        ASSERT_TRUE(d.result == 0 || d.result == 1 || d.result == kVdecBufferTooSmall ||
                    d.result == kVdecUnsupportedFormat);
        if (d.result == 1) {
            EXPECT_GT(d.width, 0);
            EXPECT_LE(PictureBytes(d.width, d.height), capacity);
        }
    };
    for (const std::string& unit : cif.accessUnits)
        for (std::size_t cut : {std::size_t{1}, std::size_t{5}, unit.size() / 3, unit.size() / 2, unit.size() - 1})
            checkSane(DecodeEx(decoder.value, unit.substr(0, cut), capacity));

    for (int i = 0; i < 300; ++i) {
        std::string noise(1 + random() % 3000, '\0');
        for (char& c : noise) c = static_cast<char>(random());
        if (i % 2 == 0) noise.replace(0, std::min<std::size_t>(5, noise.size()), std::string("\0\0\0\1\x65", 5));
        // Splice noise into real units too, so it reaches deeper than the headers.
        if (i % 3 == 0) noise = cif.accessUnits[i % cif.accessUnits.size()].substr(0, 40) + noise;
        checkSane(DecodeEx(decoder.value, noise, capacity));
    }

    // The decoder keeps working from the next key frame.
    int pictures = 0;
    for (const std::string& unit : cif.accessUnits) pictures += DecodeEx(decoder.value, unit, capacity).result == 1;
    EXPECT_GT(pictures, 0);
}

TEST_F(VdecStreams, ReleaseDuringADecodeOnAnotherThreadIsSafe) {
    const TestStream cif = MakeStream(dir_, Recipe(352, 288, 10, "main", 0), "cif", 352, 288);
    for (int round = 0; round < 20; ++round) {
        const unsigned long handle = InitDeCode();
        ASSERT_NE(handle, 0u);
        std::atomic<int> pictures{0};
        std::atomic<bool> released{false};
        std::thread decoding([&] {
            std::string buffer(PictureBytes(352, 288), '\0');
            for (std::size_t i = 0; !released.load(); i = (i + 1) % cif.accessUnits.size()) {
                std::string input = cif.accessUnits[i];
                int consumed = 0;
                pictures += DeCoder(handle, input.data(), static_cast<int>(input.size()), buffer.data(), consumed);
            }
            std::string input = cif.accessUnits[0];
            int consumed = -7;
            EXPECT_EQ(DeCoder(handle, input.data(), static_cast<int>(input.size()), buffer.data(), consumed), 0);
        });
        // Release after a few pictures (none in some rounds); never wait on a broken decoder.
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (pictures.load() < round % 4 && std::chrono::steady_clock::now() < giveUp) std::this_thread::yield();
        EXPECT_TRUE(ReleaseDeCode(handle));
        released = true;
        decoding.join();
    }
}

TEST_F(VdecStreams, TwoThreadsOnOneHandleAreSerialised) {
    const TestStream cif = MakeStream(dir_, Recipe(352, 288, 10, "main", 0), "cif", 352, 288);
    Handle decoder;
    auto run = [&] {
        std::string buffer(PictureBytes(352, 288), '\0');
        for (int pass = 0; pass < 3; ++pass)
            for (const std::string& unit : cif.accessUnits) {
                std::string input = unit;
                int consumed = 0;
                DeCoder(decoder.value, input.data(), static_cast<int>(input.size()), buffer.data(), consumed);
            }
    };
    std::thread first(run), second(run);
    first.join();
    second.join();
    // Still a working decoder afterwards.
    EXPECT_TRUE(DecodeEx(decoder.value, cif.accessUnits[0], PictureBytes(352, 288)).picture == cif.pictures[0]);
}

}  // namespace
