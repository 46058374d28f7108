// A UPS device for the relay tests: records the frames it is given and
// answers each with one XCP block that echoes the command, or as told.
#pragma once
#include <cstdint>
#include <functional>
#include <vector>

#include "upslink/ups_device.h"

class SerialLink;

class FakeUpsDevice : public UpsDevice {
public:
    explicit FakeUpsDevice(SerialLink& link) : UpsDevice(link) {}

    std::vector<uint8_t> RelayRequest(const uint8_t* request) override;
    int DeviceKind() override { return 2; }
    void IdentifyUps() override {}
    void PollStatus() override {}

    // The answer to a frame; by default the block AB <cmd> 01 81 <cmd> <checksum>.
    std::function<std::vector<uint8_t>(const std::vector<uint8_t>& frame)> m_Answer;
    // Frames received, whole (L + 3 bytes each).
    std::vector<std::vector<uint8_t>> m_Frames;
    // Commands received, in order.
    std::vector<uint8_t> Commands() const;
};

// The default answer block for a command.
std::vector<uint8_t> EchoBlock(uint8_t command);
