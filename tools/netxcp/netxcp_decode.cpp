#include "tools/netxcp/netxcp_decode.h"

#include <cstdio>
#include <iterator>

#include "upslink/device_text.h"
#include "upslink/xcp_protocol.h"

namespace {

const ByteString kRelayAnswer(std::begin(kNetXcpRelayAnswer), std::end(kNetXcpRelayAnswer));

std::string Format(const char* format, unsigned a, unsigned b = 0, unsigned c = 0) {
    char text[160];
    std::snprintf(text, sizeof text, format, a, b, c);
    return text;
}

// Commands of the request frames that the relay forwards to the UPS.
std::vector<uint8_t> ForwardedCommands(const ByteString& request) {
    std::vector<uint8_t> commands;
    size_t pos = 0;
    while (pos + 4 <= request.size() && request[pos] == kXcpStart) {
        uint8_t command = request[pos + 2];
        if (command != kXcpCmdNull && command != kXcpCmdAuthorize) commands.push_back(command);
        pos += request[pos + 1] + 3u;
    }
    return commands;
}

void DescribeAnswer(uint8_t block, const ByteString& data, bool checksumsOk,
                    const std::vector<uint8_t>& commands, std::vector<std::string>& lines) {
    int answeredCommand = -1;
    for (uint8_t c : commands) {
        if (XcpAnswerBlock(c) == block) {
            answeredCommand = c;
            break;
        }
    }
    std::string line;
    if (answeredCommand >= 0) {
        line = Format("answer to command 0x%02X, block 0x%02X, %u data bytes", answeredCommand,
                      block, static_cast<unsigned>(data.size()));
    } else {
        line = Format("acknowledge code 0x%02X, %u data bytes", block,
                      static_cast<unsigned>(data.size()));
    }
    if (!checksumsOk) line += " (bad checksum)";
    if (!data.empty()) line += ": " + HexText(data);
    lines.push_back(line);
    Identification id;
    if (answeredCommand >= 0 && block == XcpAnswerBlock(kXcpCmdIdentification) &&
        DecodeIdentification(data, id)) {
        lines.push_back("  firmware versions: " + PrintableText(id.versions));
        lines.push_back("  model: " + PrintableText(id.model));
    }
}

}  // namespace

bool DecodeIdentification(const ByteString& data, Identification& out) {
    if (data.empty()) return false;
    size_t v = data[0];
    if (2 * v + 2 >= data.size()) return false;
    out.versions.clear();
    for (size_t k = 0; k < v; ++k) {
        if (k > 0) out.versions += ' ';
        out.versions += Format("%u.%u", data[2 * k + 1], data[2 * k + 2]);
    }
    size_t length = data[2 * v + 2];
    size_t start = 2 * v + 3;
    if (start > data.size()) return false;
    if (length > data.size() - start) length = data.size() - start;
    out.model.assign(data.begin() + static_cast<long>(start),
                     data.begin() + static_cast<long>(start + length));
    return true;
}

std::vector<std::string> DecodeAnswer(const ByteString& answer, const ByteString& request) {
    std::vector<std::string> lines;
    std::vector<uint8_t> commands = ForwardedCommands(request);
    size_t pos = 0;
    while (pos < answer.size()) {
        if (pos + 4 <= answer.size() &&
            ByteString(answer.begin() + static_cast<long>(pos),
                       answer.begin() + static_cast<long>(pos + 4)) == kRelayAnswer) {
            lines.push_back("relay identification: \"qln\"");
            pos += 4;
            continue;
        }
        if (answer[pos] == 0x00 && pos + 1 == answer.size() && answer.size() % 2 == 0) {
            lines.push_back("padding byte 00");
            break;
        }
        // One answer: blocks up to the one with bit 7 of its sequence byte set.
        ByteString data;
        bool checksumsOk = true;
        bool last = false;
        uint8_t block = 0;
        size_t start = pos;
        while (!last && pos + 5 <= answer.size() && answer[pos] == kXcpStart) {
            size_t n = answer[pos + 2];
            if (pos + 5 + n > answer.size()) break;
            block = answer[pos + 1];
            last = (answer[pos + 3] & kXcpLastBlockMark) != 0;
            uint8_t sum = 0;
            for (size_t i = pos; i < pos + 5 + n; ++i) sum = static_cast<uint8_t>(sum + answer[i]);
            checksumsOk = checksumsOk && sum == 0;
            data.insert(data.end(), answer.begin() + static_cast<long>(pos + 4),
                        answer.begin() + static_cast<long>(pos + 4 + n));
            pos += 5 + n;
        }
        if (!last) {
            ByteString rest(answer.begin() + static_cast<long>(start), answer.end());
            lines.push_back("unrecognised bytes: " + HexText(rest));
            break;
        }
        DescribeAnswer(block, data, checksumsOk, commands, lines);
    }
    return lines;
}
