// Password scrambling: the stored text's layout, round trips, texts written by
// earlier releases, and the limits.
#include "common/config/encryption.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

struct FreeDeleter {
    void operator()(char* p) const { std::free(p); }
};
using Result = std::unique_ptr<char, FreeDeleter>;

std::string Scramble(const std::string& clear) {
    Result r(CEncryption::Encrypt(clear.c_str()));
    EXPECT_NE(r, nullptr);
    return r ? std::string(r.get()) : std::string("<null>");
}

std::string Unscramble(const std::string& text) {
    Result r(CEncryption::UnEncrypt(text.c_str()));
    EXPECT_NE(r, nullptr);
    return r ? std::string(r.get()) : std::string("<null>");
}

// True when `text` is a run of "%3d" fields of values 0 to 255.
bool IsFieldText(const std::string& text) {
    if (text.size() % 3 != 0) return false;
    for (size_t at = 0; at < text.size(); at += 3) {
        std::string f = text.substr(at, 3);
        size_t digits = f.find_first_not_of(' ');
        if (digits == std::string::npos) return false;
        if (f.find_first_not_of("0123456789", digits) != std::string::npos) return false;
        if (f[digits] == '0' && digits != 2) return false;  // no leading zeros
        if (std::stoi(f) > 255) return false;
    }
    return true;
}

// Clear texts from a fixed sequence: printable and high bytes, never 0 or 5.
std::vector<std::string> SampleClearTexts(uint32_t seed, int count) {
    std::vector<std::string> texts;
    for (int i = 0; i < count; ++i) {
        seed = seed * 1664525u + 1013904223u;
        size_t length = 1 + (seed >> 8) % 16;
        std::string t;
        for (size_t k = 0; k < length; ++k) {
            seed = seed * 1664525u + 1013904223u;
            unsigned c = 0x20 + (seed >> 12) % 0xE0;
            t += static_cast<char>(c);
        }
        texts.push_back(t);
    }
    return texts;
}

TEST(Encryption, KnownTextsScrambleToTheStoredLayout) {
    // Values from an independent Blowfish implementation under the same key.
    EXPECT_EQ(Scramble("secret"), " 27 28253136 78238 79  3");
    EXPECT_EQ(Scramble("ABCDEFGH"), "122190151 83 63 97 90153");  // no padding block
    EXPECT_EQ(Scramble("Quillon-UPS-2026"), " 29209 31192174 99102162 63226 53 56120 82184222");
    EXPECT_EQ(Scramble("123456789"), "233 69183220211180144  5115 36 54161 90 75112 58");
    EXPECT_EQ(Unscramble(" 27 28253136 78238 79  3"), "secret");
    EXPECT_EQ(Unscramble("233 69183220211180144  5115 36 54161 90 75112 58"), "123456789");
}

TEST(Encryption, ScrambledTextsHave24Or48CharactersOfThreeCharacterFields) {
    for (const std::string& clear : SampleClearTexts(7u, 300)) {
        std::string text = Scramble(clear);
        EXPECT_EQ(text.size(), clear.size() <= 8 ? 24u : 48u) << "clear " << clear;
        EXPECT_TRUE(IsFieldText(text)) << "[" << text << "]";
    }
}

TEST(Encryption, EveryClearTextOf1To16CharactersComesBack) {
    SCOPED_TRACE("sample seed 20261207");
    for (const std::string& clear : SampleClearTexts(20261207u, 3000)) {
        ASSERT_EQ(Unscramble(Scramble(clear)), clear);
    }
}

TEST(Encryption, ACipherByteOfValueZeroIsWrittenAndComesBack) {
    // "pw83" enciphers to a block whose fifth byte is 0.
    EXPECT_EQ(Scramble("pw83"), "160235239189  0195182231");
    EXPECT_EQ(Unscramble("160235239189  0195182231"), "pw83");
    // "33-secret": the second byte of the first block is 0.
    std::string text = Scramble("33-secret");
    EXPECT_EQ(text, "141  0160248193  8215194158210  5239 93247251 20");
    EXPECT_EQ(Unscramble(text), "33-secret");
}

TEST(Encryption, TextsCutShortAtAZeroByteByEarlierReleasesDecodeAsTheyAlwaysDid) {
    // Earlier releases stopped writing at the first cipher byte of value 0.
    // The part block is zero-filled before it is deciphered: when the 0 was
    // the block's last byte, that restores the block exactly ...
    EXPECT_EQ(Scramble("pw75"), "160209251 75175160110  0");
    EXPECT_EQ(Unscramble("160209251 75175160110"), "pw75");
    // ... otherwise it gives the same wrong bytes as before.
    EXPECT_EQ(Unscramble("160235239189"), "\x18R\xfe\xb3\x9c*\x01\x0e");
}

TEST(Encryption, TrailingBytesOfValue5AreLost) {
    EXPECT_EQ(Unscramble(Scramble("abc\x05\x05")), "abc");
    EXPECT_EQ(Unscramble(Scramble("12345678\x05")), "12345678");
    EXPECT_EQ(Unscramble(Scramble("a\x05z")), "a\x05z");
}

TEST(Encryption, EmptyTextsGiveEmptyResults) {
    EXPECT_EQ(Scramble(""), "");
    EXPECT_EQ(Unscramble(""), "");
    Result a(CEncryption::Encrypt(nullptr));
    Result b(CEncryption::UnEncrypt(nullptr));
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_STREQ(a.get(), "");
    EXPECT_STREQ(b.get(), "");
}

TEST(Encryption, TooLongTextsAreRefusedWithAnEmptyResult) {
    EXPECT_EQ(Scramble(std::string(17, 'x')), "");
    EXPECT_EQ(Scramble(std::string(300, 'x')), "");
    EXPECT_EQ(Scramble(std::string(16, 'x')).size(), 48u);
    std::string text = Scramble("Quillon-UPS-2026");
    EXPECT_EQ(Unscramble(text + " 1"), "");
    EXPECT_EQ(Unscramble(text + std::string(400, '9')), "");
    EXPECT_EQ(Unscramble(text), "Quillon-UPS-2026");
}

TEST(Encryption, FieldsAreReadAsDecimalNumbersModulo256) {
    std::string text = Scramble("secret");  // " 27 28253136 78238 79  3"
    // A field above 255 wraps; a sign is read; the last field may be short.
    EXPECT_EQ(Unscramble("283 28253136 78238 79  3"), "secret");
    EXPECT_EQ(Unscramble(" 27 28-03136 78238 79  3"), "secret");
    EXPECT_EQ(Unscramble(" 27 28253136 78238 79 3"), "secret");
    EXPECT_EQ(Unscramble(" 27 28253136 78238 79+3"), "secret");
    // Fields out of their three-character alignment give other bytes.
    EXPECT_NE(Unscramble(text.substr(1)), "secret");
    EXPECT_NE(Unscramble(" " + text.substr(0, 23)), "secret");
}

TEST(Encryption, CallsOnSeveralThreadsAtOnceDoNotDisturbEachOther) {
    std::vector<std::thread> threads;
    std::vector<int> failures(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, &failures] {
            for (const std::string& clear : SampleClearTexts(100u + t, 200)) {
                Result s(CEncryption::Encrypt(clear.c_str()));
                Result c(CEncryption::UnEncrypt(s.get()));
                if (clear != c.get()) ++failures[t];
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(failures, std::vector<int>(4, 0));
}

}  // namespace
