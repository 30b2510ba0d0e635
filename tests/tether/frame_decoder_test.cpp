#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "libs/tether/frame_decoder.h"
#include "libs/tether/tether.h"

using tether::FrameDecoder;

namespace {

std::string Frame(const std::string& message) {
    auto header = tether::EncodeFrameHeader(static_cast<std::uint32_t>(message.size()));
    return std::string(header.begin(), header.end()) + message;
}

struct Collected {
    std::vector<std::string> messages;
    bool ok = true;
};

Collected FeedInPieces(FrameDecoder& decoder, const std::string& stream, std::size_t piece) {
    Collected out;
    for (std::size_t at = 0; at < stream.size() && out.ok; at += piece) {
        std::size_t n = std::min(piece, stream.size() - at);
        out.ok = decoder.Feed(stream.data() + at, n, [&](const char* data, std::size_t length) {
            out.messages.emplace_back(data, length);
            return true;
        });
    }
    return out;
}

}  // namespace

TEST(FrameDecoder, HeaderIsBigEndianLength) {
    auto header = tether::EncodeFrameHeader(0x01020304u);
    EXPECT_EQ(std::string(header.begin(), header.end()), std::string("\x01\x02\x03\x04", 4));
    FrameDecoder decoder(100);
    std::vector<std::string> got;
    const std::string wire = std::string("\x00\x00\x00\x03", 4) + "abc" + std::string("\x00\x00\x00\x01", 4) + "z";
    EXPECT_TRUE(decoder.Feed(wire.data(), wire.size(), [&](const char* d, std::size_t n) {
        got.emplace_back(d, n);
        return true;
    }));
    EXPECT_EQ(got, (std::vector<std::string>{"abc", "z"}));
}

TEST(FrameDecoder, BoundariesSurviveAnySplitOfTheStream) {
    std::vector<std::string> sent;
    std::string stream;
    for (int i = 0; i < 60; ++i) {
        sent.push_back(std::string(static_cast<std::size_t>(i * 37 % 300 + 1), static_cast<char>('a' + i % 26)));
        stream += Frame(sent.back());
    }
    sent.push_back(std::string(5000, 'L'));
    stream += Frame(sent.back());
    for (std::size_t piece : {1u, 2u, 3u, 4u, 5u, 7u, 64u, 4096u, 100000u}) {
        FrameDecoder decoder(10000);
        Collected got = FeedInPieces(decoder, stream, piece);
        EXPECT_TRUE(got.ok) << piece;
        EXPECT_EQ(got.messages, sent) << "piece size " << piece;
        EXPECT_EQ(decoder.Pending(), 0u);
    }
}

TEST(FrameDecoder, OversizedFrameFailsForGood) {
    FrameDecoder decoder(10);
    std::string stream = Frame("0123456789") + Frame("0123456789A") + Frame("ok");
    Collected got = FeedInPieces(decoder, stream, 5);
    EXPECT_FALSE(got.ok);
    EXPECT_TRUE(decoder.Failed());
    EXPECT_EQ(got.messages, std::vector<std::string>{"0123456789"}) << "nothing after the broken frame";
    // A length with the top bit set must not be read as a negative or small size.
    FrameDecoder other(tether::kMaxMessageSize);
    const std::string huge("\xFF\xFF\xFF\xFF", 4);
    EXPECT_FALSE(other.Feed(huge.data(), huge.size(), [](const char*, std::size_t) { return true; }));
}

TEST(FrameDecoder, SinkCanStopTheFeed) {
    FrameDecoder decoder(100);
    std::string stream = Frame("a") + Frame("b") + Frame("c");
    int delivered = 0;
    EXPECT_FALSE(decoder.Feed(stream.data(), stream.size(), [&](const char*, std::size_t) { return ++delivered < 2; }));
    EXPECT_EQ(delivered, 2);
}
