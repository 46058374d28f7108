#include "fake_ups_device.h"

#include <cstring>

std::vector<uint8_t> EchoBlock(uint8_t command) {
    std::vector<uint8_t> b{0xAB, command, 0x01, 0x81, command};
    uint8_t sum = 0;
    for (uint8_t x : b) sum = static_cast<uint8_t>(sum + x);
    b.push_back(static_cast<uint8_t>(-sum));
    return b;
}

uint8_t* FakeUpsDevice::RelayRequest(const uint8_t* request, uint32_t& length) {
    std::vector<uint8_t> frame(request, request + request[1] + 3);
    m_Frames.push_back(frame);
    std::vector<uint8_t> answer = m_Answer ? m_Answer(frame) : EchoBlock(frame[2]);
    length = static_cast<uint32_t>(answer.size());
    if (answer.empty()) return nullptr;
    uint8_t* buffer = new uint8_t[answer.size()];
    std::memcpy(buffer, answer.data(), answer.size());
    return buffer;
}

std::vector<uint8_t> FakeUpsDevice::Commands() const {
    std::vector<uint8_t> c;
    for (const auto& f : m_Frames) c.push_back(f[2]);
    return c;
}
