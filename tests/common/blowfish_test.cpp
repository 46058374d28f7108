// The block cipher against the published test vectors.
#include "common/config/blowfish.h"

#include <gtest/gtest.h>

#include "blowfish_vectors.h"
#include "common/config/blowfish_tables.h"

namespace {

std::string EncryptHex(const std::vector<uint8_t>& key, const std::string& plainHex) {
    CBlowfish cipher(key.data(), key.size());
    std::vector<uint8_t> block = FromHex(plainHex);
    cipher.EncryptBlock(block.data());
    return ToHex(block.data(), block.size());
}

std::string DecryptHex(const std::vector<uint8_t>& key, const std::string& cipherHex) {
    CBlowfish cipher(key.data(), key.size());
    std::vector<uint8_t> block = FromHex(cipherHex);
    cipher.DecryptBlock(block.data());
    return ToHex(block.data(), block.size());
}

TEST(Blowfish, TablesStartAndEndWithTheDigitsOfPi) {
    EXPECT_EQ(kBlowfishInitialP[0], 0x243F6A88u);
    EXPECT_EQ(kBlowfishInitialP[17], 0x8979FB1Bu);
    EXPECT_EQ(kBlowfishInitialS[0][0], 0xD1310BA6u);
    EXPECT_EQ(kBlowfishInitialS[3][255], 0x3AC372E6u);
}

TEST(Blowfish, EightByteKeyVectorsEncryptAndDecrypt) {
    for (const BlowfishVector& v : EightByteKeyVectors()) {
        std::vector<uint8_t> key = FromHex(v.key);
        EXPECT_EQ(EncryptHex(key, v.plain), v.cipher) << "key " << v.key << " plain " << v.plain;
        EXPECT_EQ(DecryptHex(key, v.cipher), v.plain) << "key " << v.key << " cipher " << v.cipher;
    }
}

TEST(Blowfish, VariableLengthKeyVectors) {
    std::vector<uint8_t> fullKey = FromHex(kVariableKey);
    const auto& ciphers = VariableKeyCiphers();
    for (size_t n = 1; n <= ciphers.size(); ++n) {
        std::vector<uint8_t> key(fullKey.begin(), fullKey.begin() + n);
        EXPECT_EQ(EncryptHex(key, kVariablePlain), ciphers[n - 1]) << "key length " << n;
        EXPECT_EQ(DecryptHex(key, ciphers[n - 1]), kVariablePlain) << "key length " << n;
    }
}

TEST(Blowfish, KeysLongerThan56BytesCountWithTheirFirst56) {
    std::vector<uint8_t> key(80);
    for (size_t i = 0; i < key.size(); ++i) key[i] = static_cast<uint8_t>(i * 7 + 1);
    std::vector<uint8_t> first56(key.begin(), key.begin() + 56);
    EXPECT_EQ(EncryptHex(key, "0123456789ABCDEF"), EncryptHex(first56, "0123456789ABCDEF"));
}

}  // namespace
