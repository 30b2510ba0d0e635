#include <gtest/gtest.h>
#include <thread>

#include "core/md5.h"

TEST(Md5Hex, KnownDigestsInUpperCase) {
    EXPECT_EQ(core::Md5Hex(""), "D41D8CD98F00B204E9800998ECF8427E");
    EXPECT_EQ(core::Md5Hex("abc"), "900150983CD24FB0D6963F7D28E17F72");
    EXPECT_EQ(core::Md5Hex("123456"), "E10ADC3949BA59ABBE56E057F20F883E");
}

TEST(Md5Hex, ConcurrentCallersGetTheirOwnDigest) {
    std::vector<std::thread> threads;
    std::atomic<int> wrong{0};
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            const std::string text = t % 2 ? "abc" : "";
            const std::string expected = t % 2 ? "900150983CD24FB0D6963F7D28E17F72" : "D41D8CD98F00B204E9800998ECF8427E";
            for (int i = 0; i < 2000; ++i)
                if (core::Md5Hex(text) != expected) ++wrong;
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(wrong, 0);
}
