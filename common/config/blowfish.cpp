#include "common/config/blowfish.h"

#include <cstring>

#include "common/config/blowfish_tables.h"

namespace {

uint32_t LoadBigEndian(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

void StoreBigEndian(uint32_t v, uint8_t* p) {
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}

}  // namespace

CBlowfish::CBlowfish(const uint8_t* key, size_t length) {
    std::memcpy(m_P, kBlowfishInitialP, sizeof m_P);
    std::memcpy(m_S, kBlowfishInitialS, sizeof m_S);
    if (length > kMaxKeyLength) length = kMaxKeyLength;
    if (key == nullptr || length == 0) return;
    // The key, repeated as often as needed, is mixed into the P-array ...
    size_t k = 0;
    for (uint32_t& p : m_P) {
        uint32_t word = 0;
        for (int i = 0; i < 4; ++i) {
            word = (word << 8) | key[k];
            k = (k + 1) % length;
        }
        p ^= word;
    }
    // ... and then every table entry is replaced, in order, by the output of
    // the cipher as it stands, starting from a zero block.
    uint32_t left = 0, right = 0;
    for (int i = 0; i < 18; i += 2) {
        Encrypt(left, right);
        m_P[i] = left;
        m_P[i + 1] = right;
    }
    for (auto& box : m_S) {
        for (int i = 0; i < 256; i += 2) {
            Encrypt(left, right);
            box[i] = left;
            box[i + 1] = right;
        }
    }
}

uint32_t CBlowfish::F(uint32_t x) const {
    return ((m_S[0][x >> 24] + m_S[1][(x >> 16) & 0xFF]) ^ m_S[2][(x >> 8) & 0xFF]) +
           m_S[3][x & 0xFF];
}

void CBlowfish::Encrypt(uint32_t& left, uint32_t& right) const {
    uint32_t l = left, r = right;
    for (int i = 0; i < 16; i += 2) {
        l ^= m_P[i];
        r ^= F(l);
        r ^= m_P[i + 1];
        l ^= F(r);
    }
    left = r ^ m_P[17];
    right = l ^ m_P[16];
}

void CBlowfish::Decrypt(uint32_t& left, uint32_t& right) const {
    uint32_t l = left, r = right;
    for (int i = 17; i > 1; i -= 2) {
        l ^= m_P[i];
        r ^= F(l);
        r ^= m_P[i - 1];
        l ^= F(r);
    }
    left = r ^ m_P[0];
    right = l ^ m_P[1];
}

void CBlowfish::EncryptBlock(uint8_t block[kBlockSize]) const {
    uint32_t left = LoadBigEndian(block), right = LoadBigEndian(block + 4);
    Encrypt(left, right);
    StoreBigEndian(left, block);
    StoreBigEndian(right, block + 4);
}

void CBlowfish::DecryptBlock(uint8_t block[kBlockSize]) const {
    uint32_t left = LoadBigEndian(block), right = LoadBigEndian(block + 4);
    Decrypt(left, right);
    StoreBigEndian(left, block);
    StoreBigEndian(right, block + 4);
}
