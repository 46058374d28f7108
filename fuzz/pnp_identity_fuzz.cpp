// Serial Plug and Play identification: whatever bytes the port delivers
// during enumeration (up to the 150 that the link gathers).
#include <cstring>
#include <memory>

#include "fuzz/fuzz_support.h"
#include "upslink/pnp_identity.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 150) size = 150;
    // A copy of exactly `size` bytes, so that a read past the end shows.
    std::unique_ptr<uint8_t[]> bytes(new uint8_t[size ? size : 1]);
    if (size) std::memcpy(bytes.get(), data, size);

    PnpIdentity id;
    std::memset(&id, 0xCC, sizeof id);
    ParsePnpIdentity(bytes.get(), static_cast<uint32_t>(size), id);

    if (memchr(id.className, 0, sizeof id.className) == nullptr)
        fuzz::Fail("class name unterminated");
    if (memchr(id.userName, 0, sizeof id.userName) == nullptr) fuzz::Fail("user name unterminated");
    if (std::strlen(id.className) > 33) fuzz::Fail("class name over 33 characters");
    if (std::strlen(id.userName) > 40) fuzz::Fail("user name over 40 characters");
    return 0;
}
