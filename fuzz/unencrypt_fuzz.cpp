// Password unscrambling over arbitrary text (the "Passwd" value of the
// agent's INI file), and the scrambling round trip over short clear texts.
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/config/encryption.h"
#include "fuzz/fuzz_support.h"

namespace {

struct Freed {
    char* p;
    ~Freed() { std::free(p); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);  // NUL-terminated copy
    Freed clear{CEncryption::UnEncrypt(text.c_str())};
    if (clear.p == nullptr) fuzz::Fail("UnEncrypt returned nothing");
    if (std::strlen(clear.p) > 16) fuzz::Fail("UnEncrypt gave more than two blocks");

    // Round trip: a clear text of 1 to 16 bytes, without zero bytes and not
    // ending in a padding byte (5), comes back unchanged unless a cipher byte
    // is 0 (the scrambled text then ends early).
    const size_t n = std::strlen(text.c_str());
    Freed scrambled{CEncryption::Encrypt(text.c_str())};
    if (scrambled.p == nullptr) fuzz::Fail("Encrypt returned nothing");
    if (n == 0 || n > 16 || text[n - 1] == 5) return 0;
    const size_t full = ((n + 7) / 8) * 24;
    const size_t got = std::strlen(scrambled.p);
    if (got > full || got % 3 != 0) fuzz::Fail("scrambled text of the wrong length");
    if (got < full) return 0;
    Freed back{CEncryption::UnEncrypt(scrambled.p)};
    if (std::strcmp(back.p, text.c_str()) != 0) fuzz::Fail("round trip changed the clear text");
    return 0;
}
