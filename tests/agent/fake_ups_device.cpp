#include "fake_ups_device.h"

std::vector<uint8_t> EchoBlock(uint8_t command) {
    std::vector<uint8_t> b{0xAB, command, 0x01, 0x81, command};
    uint8_t sum = 0;
    for (uint8_t x : b) sum = static_cast<uint8_t>(sum + x);
    b.push_back(static_cast<uint8_t>(-sum));
    return b;
}

std::vector<uint8_t> FakeUpsDevice::RelayRequest(const uint8_t* request) {
    std::vector<uint8_t> frame(request, request + request[1] + 3);
    m_Frames.push_back(frame);
    return m_Answer ? m_Answer(frame) : EchoBlock(frame[2]);
}

std::vector<uint8_t> FakeUpsDevice::Commands() const {
    std::vector<uint8_t> c;
    for (const auto& f : m_Frames) c.push_back(f[2]);
    return c;
}
