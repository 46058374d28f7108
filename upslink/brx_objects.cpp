#include "upslink/brx_objects.h"

#include "platform/clock.h"

int CommunicationsChannel::ReadPaced(void* buffer, int count, uint32_t pauseMs) {
    unsigned char* bytes = static_cast<unsigned char*>(buffer);
    int total = 0;
    plat::SleepMs(pauseMs / 10);
    for (;;) {
        int got = Read(bytes + total, count - total);
        if (got < 0) break;
        total += got;
        if (total < count) plat::SleepMs(pauseMs);
        if (total >= count || got == 0) break;
    }
    return total;
}

void CommunicationsChannel::Drain(uint32_t pauseMs) {
    plat::SleepMs(pauseMs);
    unsigned char scratch[100];
    // A failing read (negative) ends the drain as well as an empty one.
    while (Read(scratch, sizeof scratch) > 0) {
    }
}

void CommunicationsChannel::ThrowCommunicationsError(const int32_t& identifier) {
    throw new brx::CCommunicationsExceptionObject(this, identifier);
}
