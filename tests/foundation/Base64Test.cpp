#include <gtest/gtest.h>

#include "foundation/Base64.hpp"

using namespace velmora;

TEST(Base64, RoundTripsEveryByteAtEveryPadding) {
    for (std::size_t length = 0; length <= 6; ++length) {
        std::vector<uint8_t> bytes;
        for (std::size_t i = 0; i < length; ++i) bytes.push_back(static_cast<uint8_t>(0xFF - i * 37));
        const std::string text = Base64::encode(bytes);
        EXPECT_EQ(text.size() % 4, 0u);
        EXPECT_EQ(Base64::decode(text), bytes) << text;
    }
    std::vector<uint8_t> all(256);
    for (int i = 0; i < 256; ++i) all[static_cast<std::size_t>(i)] = static_cast<uint8_t>(i);
    EXPECT_EQ(Base64::decode(Base64::encode(all)), all);
    EXPECT_EQ(Base64::encode({'M', 'a'}), "TWE=");
    EXPECT_EQ(Base64::encode({0xFB, 0xFF}), "+/8=");
}

TEST(Base64, OnlyTheCanonicalFormIsRead) {
    for (const char* bad : {"TWE", "TWE==", "TW=E", "T===", "====", "TWE=TWE=", " TWE=", "TWE=\n", "TW-_"}) {
        EXPECT_FALSE(Base64::decode(bad)) << bad;
    }
    EXPECT_FALSE(Base64::decode(std::string_view("TWE\0", 4)));
    // Unused bits set in the last character: another spelling of "a" ("YQ==")
    // and of "Ma" ("TWE="), found by fuzzing.
    EXPECT_EQ(Base64::decode("YQ=="), (std::vector<uint8_t>{'a'}));
    EXPECT_FALSE(Base64::decode("YY=="));
    EXPECT_FALSE(Base64::decode("TWF="));
}
