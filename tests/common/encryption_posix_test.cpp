// Password scrambling against the same scheme built on Nettle's Blowfish.
#include <gtest/gtest.h>
#include <nettle/blowfish.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/config/encryption.h"

namespace {

std::string NettleScramble(const std::string& clear) {
    static const uint8_t key[16] = {0x3C, 0x91, 0x5E, 0xA7, 0x08, 0xD2, 0x6B, 0xF4,
                                    0x3C, 0x91, 0x5E, 0xA7, 0x08, 0xD2, 0x6B, 0xF4};
    struct blowfish_ctx ctx;
    blowfish_set_key(&ctx, sizeof key, key);
    std::string text;
    for (size_t at = 0; at < clear.size(); at += 8) {
        uint8_t block[8];
        for (size_t i = 0; i < 8; ++i) {
            block[i] = at + i < clear.size() ? static_cast<uint8_t>(clear[at + i]) : 5;
        }
        uint8_t out[8];
        blowfish_encrypt(&ctx, 8, out, block);
        for (uint8_t b : out) {
            char field[4];
            std::snprintf(field, sizeof field, "%3d", b);
            text += field;
        }
    }
    return text;
}

TEST(EncryptionAgainstNettle, ScrambledTextsMatchForManyClearTexts) {
    uint32_t seed = 424242u;
    SCOPED_TRACE("seed 424242");
    for (int i = 0; i < 2000; ++i) {
        seed = seed * 1664525u + 1013904223u;
        size_t length = 1 + (seed >> 8) % 16;
        std::string clear;
        for (size_t k = 0; k < length; ++k) {
            seed = seed * 1664525u + 1013904223u;
            clear += static_cast<char>(0x21 + (seed >> 12) % 0x5E);
        }
        char* text = CEncryption::Encrypt(clear.c_str());
        ASSERT_NE(text, nullptr);
        std::string got = text;
        std::free(text);
        ASSERT_EQ(got, NettleScramble(clear)) << "clear " << clear;
    }
}

}  // namespace
