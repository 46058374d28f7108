#include "upslink/pnp_identity.h"

#include <cstring>

namespace {

// A cursor over the gathered bytes that yields -1 past their end, so that
// every test of "the next byte" is safe on a string cut short.
class Cursor {
public:
    Cursor(const uint8_t* bytes, uint32_t count) : m_pBytes(bytes), m_nCount(count) {}
    int At(uint32_t i) const { return i < m_nCount ? m_pBytes[i] : -1; }
    bool Has(uint32_t i) const { return i < m_nCount; }

private:
    const uint8_t* m_pBytes;
    uint32_t m_nCount;
};

struct Form {
    int backslash, comma, close;
    uint8_t textOffset;  // added to each character stored into a text field
};

const Form kNormalForm{'\\', ',', ')', 0};
const Form kSixBitForm{0x3C, 0x0C, 0x09, 0x20};

// Up to `width` characters into `out`, each plus the form's text offset.
void TakeText(const Cursor& c, uint32_t at, uint32_t width, const Form& f, char* out) {
    for (uint32_t k = 0; k < width && c.Has(at + k); ++k)
        out[k] = static_cast<char>(c.At(at + k) + f.textOffset);
}

// Low four bits of each of `digits` characters, the first in the top nibble.
uint32_t TakeNibbles(const Cursor& c, uint32_t at, uint32_t digits) {
    uint32_t value = 0;
    for (uint32_t k = 0; k < digits && c.Has(at + k); ++k)
        value |= static_cast<uint32_t>(c.At(at + k) & 0x0F) << (4 * (digits - 1 - k));
    return value;
}

}  // namespace

void ParsePnpIdentity(const uint8_t* bytes, uint32_t count, PnpIdentity& id) {
    std::memset(&id, 0, sizeof id);
    uint32_t start = count;
    for (uint32_t i = 0; i + 10 <= count; ++i) {
        if (bytes[i] == 0x28 || bytes[i] == 0x08) {
            start = i;
            break;
        }
    }
    if (start == count) return;
    const Cursor c(bytes, count);
    const Form& f = bytes[start] == 0x08 ? kSixBitForm : kNormalForm;

    id.revision = static_cast<uint16_t>(((c.At(start + 1) & 0x3F) << 8) | (c.At(start + 2) & 0x3F));
    TakeText(c, start + 3, 3, f, id.manufacturer);
    id.product = static_cast<uint16_t>(TakeNibbles(c, start + 6, 4));
    uint32_t p = start + 10;

    // Serial number, or no extensions at all.
    if (c.At(p) != f.backslash) return;
    if (c.At(p + 1) == f.backslash) {
        p += 1;
    } else {
        id.serialNumber = TakeNibbles(c, p + 1, 8);
        p += 9;
    }

    // Class name.
    if (c.At(p) == f.backslash) {
        ++p;
        uint32_t n = 0;
        for (; c.Has(p) && c.At(p) != f.backslash; ++p)
            if (n < sizeof id.className - 1)
                id.className[n++] = static_cast<char>(c.At(p) + f.textOffset);
    }

    // Compatible devices.
    if (c.At(p) == f.backslash && c.At(p + 1) != f.backslash) {
        ++p;
        uint32_t n = 0;
        for (;;) {
            if (n < 5) {
                TakeText(c, p, 3, f, id.compatible[n].manufacturer);
                id.compatible[n].product = static_cast<uint16_t>(TakeNibbles(c, p + 3, 4));
                ++n;
            }
            p += 7;
            if (c.At(p) != f.comma) break;
            ++p;
        }
    } else if (c.At(p) == f.backslash) {
        ++p;
    }

    // User name.
    if (c.At(p) == f.backslash) {
        ++p;
        uint32_t n = 0;
        for (; c.Has(p) && c.At(p) != f.backslash && c.At(p) != f.close; ++p)
            if (n < sizeof id.userName - 1)
                id.userName[n++] = static_cast<char>(c.At(p) + f.textOffset);
    }

    // Checksum.
    if (c.At(p) == f.backslash && c.At(p + 1) != f.close && c.Has(p + 2))
        id.checksum = static_cast<uint8_t>((c.At(p + 1) << 4) | (c.At(p + 2) & 0x0F));
}
