// Password scrambling: Blowfish in code-book mode under a key built into the
// library, every cipher byte written as a three-character decimal field.
#include "common/config/encryption.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/config/blowfish.h"

namespace {

// One 8-byte sequence written twice.
const uint8_t kKey[16] = {0x3C, 0x91, 0x5E, 0xA7, 0x08, 0xD2, 0x6B, 0xF4,
                          0x3C, 0x91, 0x5E, 0xA7, 0x08, 0xD2, 0x6B, 0xF4};

constexpr size_t kMaxClear = 16;   // two blocks
constexpr size_t kFieldWidth = 3;  // "%3d"
constexpr size_t kMaxScrambled = kMaxClear * kFieldWidth;
constexpr uint8_t kPadding = 5;
constexpr size_t kEncryptBufferSize = 313;
constexpr size_t kUnEncryptBufferSize = 100;

// A zeroed result buffer from the runtime heap that every module shares.
char* NewResult(size_t size) { return static_cast<char*>(std::calloc(size, 1)); }

// The value of one field, read as atoi reads it (leading blanks, an optional
// sign, digits up to the first other character), kept modulo 256. A field has
// at most three characters, so no overflow is possible.
uint8_t FieldValue(const char* field, size_t length) {
    size_t i = 0;
    while (i < length && std::isspace(static_cast<unsigned char>(field[i]))) ++i;
    bool negative = false;
    if (i < length && (field[i] == '+' || field[i] == '-')) negative = field[i++] == '-';
    int value = 0;
    while (i < length && field[i] >= '0' && field[i] <= '9')
        value = value * 10 + (field[i++] - '0');
    return static_cast<uint8_t>(negative ? -value : value);
}

}  // namespace

char* CEncryption::Encrypt(const char* clear) {
    char* result = NewResult(kEncryptBufferSize);
    if (result == nullptr || clear == nullptr) return result;
    size_t length = std::strlen(clear);
    // Longer texts are refused rather than cut: a cut password would not be
    // the one the user gave.
    if (length > kMaxClear) return result;

    CBlowfish cipher(kKey, sizeof kKey);
    uint8_t scrambled[kMaxClear];
    size_t count = 0;
    for (size_t at = 0; at < length; at += CBlowfish::kBlockSize) {
        size_t n = length - at < CBlowfish::kBlockSize ? length - at : CBlowfish::kBlockSize;
        uint8_t* block = scrambled + count;
        std::memset(block, kPadding, CBlowfish::kBlockSize);
        std::memcpy(block, clear + at, n);
        cipher.EncryptBlock(block);
        count += CBlowfish::kBlockSize;
    }
    // Every cipher byte is written, a byte of value 0 included: stopping at
    // one would lose the rest of the password.
    char* out = result;
    for (size_t i = 0; i < count; ++i) {
        std::snprintf(out, kFieldWidth + 1, "%3d", scrambled[i]);
        out += kFieldWidth;
    }
    return result;
}

char* CEncryption::UnEncrypt(const char* scrambled) {
    char* result = NewResult(kUnEncryptBufferSize);
    if (result == nullptr || scrambled == nullptr) return result;
    size_t length = std::strlen(scrambled);
    if (length > kMaxScrambled) return result;

    // One byte per field of three characters; a last, shorter field counts
    // whole. The byte count comes from the number of fields, so that a field
    // of value 0 is a byte like any other.
    uint8_t bytes[kMaxClear];
    size_t count = 0;
    for (size_t at = 0; at < length; at += kFieldWidth) {
        size_t n = length - at < kFieldWidth ? length - at : kFieldWidth;
        bytes[count++] = FieldValue(scrambled + at, n);
    }

    // A text cut short (as scrambled texts of earlier releases are at a
    // cipher byte of value 0) ends in a part block, which is zero-filled.
    CBlowfish cipher(kKey, sizeof kKey);
    uint8_t* out = reinterpret_cast<uint8_t*>(result);
    for (size_t at = 0; at < count; at += CBlowfish::kBlockSize) {
        size_t n = count - at < CBlowfish::kBlockSize ? count - at : CBlowfish::kBlockSize;
        uint8_t block[CBlowfish::kBlockSize] = {};
        std::memcpy(block, bytes + at, n);
        cipher.DecryptBlock(block);
        std::memcpy(out + at, block, CBlowfish::kBlockSize);
    }
    // The clear text ends at its first byte of value 0 (or after the last
    // block); the padding bytes of value 5 go from its end.
    size_t clearLength = std::strlen(result);
    while (clearLength > 0 && static_cast<uint8_t>(result[clearLength - 1]) == kPadding) {
        result[--clearLength] = '\0';
    }
    return result;
}
