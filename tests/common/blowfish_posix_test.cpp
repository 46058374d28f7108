// The block cipher against an independent implementation (Nettle's).
#include <gtest/gtest.h>
#include <nettle/blowfish.h>

#include <cstring>

#include "blowfish_vectors.h"
#include "common/config/blowfish.h"

namespace {

// A fixed sequence, so that a failure names the case that can be run again.
uint32_t NextRandom(uint32_t& state) {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
}

TEST(BlowfishAgainstNettle, PublishedVectorsAgreeWithNettle) {
    for (const BlowfishVector& v : EightByteKeyVectors()) {
        std::vector<uint8_t> key = FromHex(v.key);
        std::vector<uint8_t> block = FromHex(v.plain);
        struct blowfish_ctx ctx;
        blowfish_set_key(&ctx, key.size(), key.data());  // weak keys are still keyed
        uint8_t out[8];
        blowfish_encrypt(&ctx, 8, out, block.data());
        EXPECT_EQ(ToHex(out, 8), v.cipher) << "key " << v.key;
    }
}

TEST(BlowfishAgainstNettle, RandomKeysAndBlocksGiveTheSameCipherBothWays) {
    uint32_t seed = 20261207u;
    SCOPED_TRACE("seed 20261207");
    for (int round = 0; round < 500; ++round) {
        size_t keyLength = 8 + NextRandom(seed) % 49;  // Nettle takes 8 to 56 bytes
        std::vector<uint8_t> key(keyLength);
        for (auto& b : key) b = static_cast<uint8_t>(NextRandom(seed));
        uint8_t plain[8];
        for (auto& b : plain) b = static_cast<uint8_t>(NextRandom(seed));

        struct blowfish_ctx ctx;
        blowfish_set_key(&ctx, key.size(), key.data());
        uint8_t expected[8];
        blowfish_encrypt(&ctx, 8, expected, plain);

        CBlowfish cipher(key.data(), key.size());
        uint8_t block[8];
        std::memcpy(block, plain, 8);
        cipher.EncryptBlock(block);
        ASSERT_EQ(ToHex(block, 8), ToHex(expected, 8)) << "round " << round;
        cipher.DecryptBlock(block);
        ASSERT_EQ(ToHex(block, 8), ToHex(plain, 8)) << "round " << round;
    }
}

}  // namespace
