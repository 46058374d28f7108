#include "upslink/xcp_identification.h"

#include <cstdio>

#include "upslink/xcp_protocol.h"

uint32_t ChooseXcpBaud(const uint8_t* answer, uint32_t length) {
    if (length < 2) return 0;
    uint32_t best = 0;
    const uint32_t count = answer[1];
    for (uint32_t i = 0; i < count && 2 + 2 * i + 1 < length; ++i) {
        uint32_t rate = answer[2 + 2 * i] | (static_cast<uint32_t>(answer[3 + 2 * i]) << 8);
        if (rate > kXcpStartBaud && rate > best) best = rate;
    }
    return best;
}

XcpIdentification ParseXcpIdentification(const uint8_t* answer, uint32_t length) {
    XcpIdentification id;
    if (length == 0) return id;
    const uint32_t v = answer[0];
    for (uint32_t k = 0; k < v && 2 * k + 2 < length; ++k) {
        char pair[16];
        std::snprintf(pair, sizeof pair, "%d.%d", answer[2 * k + 1], answer[2 * k + 2]);
        if (!id.versions.empty()) id.versions += ' ';
        id.versions += pair;
    }
    const uint32_t at = 2 * v + 2;
    if (at >= length) return id;
    const uint32_t textLength = answer[at];
    for (uint32_t i = 0; i < textLength && at + 1 + i < length; ++i) {
        const char c = static_cast<char>(answer[at + 1 + i]);
        if (c == '\0') break;  // a C text ends there
        id.modelText += c;
    }
    return id;
}

namespace {
std::string Trim(const std::string& s) {
    const char* blanks = " \t";
    size_t first = s.find_first_not_of(blanks);
    if (first == std::string::npos) return std::string();
    size_t last = s.find_last_not_of(blanks);
    return s.substr(first, last - first + 1);
}
}  // namespace

bool SplitModelText(const std::string& text, std::string& family, std::string& model) {
    size_t start = text.find_first_not_of(' ');
    if (start == std::string::npos) return false;
    size_t end = text.find(' ', start);
    if (end == std::string::npos) {
        family = Trim(text.substr(start));
        model.clear();
    } else {
        family = Trim(text.substr(start, end - start));
        model = Trim(text.substr(end + 1));
    }
    return true;
}

int32_t UpsStateForStatus(uint8_t status) {
    switch (status) {
        case 0x10:
            return 2;
        case 0x50:
            return 3;
        case 0x60:
        case 0x80:
            return 4;
        case 0xF0:
            return 5;
        case 0x61:
        case 0x62:
            return 6;
        case 0x63:
            return 7;
        default:
            return 1;
    }
}
