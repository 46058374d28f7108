// The Blowfish block cipher as published: 64-bit blocks, 16 rounds, tables
// from the digits of pi, the standard key schedule. A block's two 32-bit
// halves are taken big-endian (first byte most significant).
#pragma once
#include <cstddef>
#include <cstdint>

#include "common/pellux_api.h"

class PELLUX_LOCAL CBlowfish {
public:
    static constexpr size_t kBlockSize = 8;
    static constexpr size_t kMaxKeyLength = 56;

    // Runs the key schedule. Keys of 1 to 56 bytes; a longer key counts with
    // its first 56 bytes only, an empty one leaves the initial tables as they are.
    CBlowfish(const uint8_t* key, size_t length);

    // One block in place (electronic code book: no chaining).
    void EncryptBlock(uint8_t block[kBlockSize]) const;
    void DecryptBlock(uint8_t block[kBlockSize]) const;

private:
    uint32_t F(uint32_t x) const;
    void Encrypt(uint32_t& left, uint32_t& right) const;
    void Decrypt(uint32_t& left, uint32_t& right) const;

    uint32_t m_P[18];
    uint32_t m_S[4][256];
};
