// NetXCP request frames for the endpoint tests: AB, length, command, data,
// checksum.
#pragma once
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

inline Bytes Frame(uint8_t command, Bytes data = {}) {
    Bytes f{0xAB, static_cast<uint8_t>(data.size() + 1), command};
    for (uint8_t x : data) f.push_back(x);
    uint8_t sum = 0;
    for (uint8_t x : f) sum = static_cast<uint8_t>(sum + x);
    f.push_back(static_cast<uint8_t>(-sum));
    return f;
}

inline Bytes PasswordFrame(const std::string& password) {
    return Frame(0xCF, Bytes(password.begin(), password.end()));
}

// The parts one after another, as one datagram.
inline Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const auto& p : parts) {
        for (uint8_t x : p) all.push_back(x);
    }
    return all;
}
