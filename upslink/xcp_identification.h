// What the UPS says about itself: the baud rates of its communication
// capabilities, its identification block, and its status byte.
#pragma once
#include <cstdint>
#include <string>

// The largest rate above 1200 listed in a capabilities answer (byte 1 a
// count, then 16-bit little-endian rates), or 0 when there is none. Only
// rates wholly inside the answer count.
uint32_t ChooseXcpBaud(const uint8_t* answer, uint32_t length);

struct XcpIdentification {
    std::string versions;   // "%d.%d" pairs joined by single spaces
    std::string modelText;  // as the UPS sent it
};

// Reads an identification block; only bytes inside the answer are used.
XcpIdentification ParseXcpIdentification(const uint8_t* answer, uint32_t length);

// Splits a model text into its first word (the family) and the rest (the
// model), both trimmed of spaces and tabs. False, leaving both untouched,
// when the text has no first word (empty, or spaces only).
bool SplitModelText(const std::string& text, std::string& family, std::string& model);

// The device state for the first byte of a status answer.
int32_t UpsStateForStatus(uint8_t status);
