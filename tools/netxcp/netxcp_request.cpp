#include "tools/netxcp/netxcp_request.h"

#include <cctype>
#include <cstdio>

#include "upslink/xcp_protocol.h"

namespace {

uint8_t Checksum(const ByteString& bytes) {
    uint8_t sum = 0;
    for (uint8_t b : bytes) sum = static_cast<uint8_t>(sum + b);
    return static_cast<uint8_t>(0x100 - sum);
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

struct NamedRequest {
    const char* name;
    uint8_t command;
    ByteString data;
};

const NamedRequest kNamed[] = {
    {"relay", kXcpCmdNull, {}},             // the relay's own answer, "qln"
    {"ident", kXcpCmdIdentification, {}},   // the UPS's identification block
    {"status", kXcpCmdStatus, {}},          // the UPS's status block
    {"caps", kXcpCmdCapabilities, {0x00}},  // communication capabilities
};

}  // namespace

ByteString XcpFrame(uint8_t command, const ByteString& data) {
    ByteString frame{kXcpStart, static_cast<uint8_t>(data.size() + 1), command};
    for (uint8_t b : data) frame.push_back(b);
    frame.push_back(Checksum(frame));
    return frame;
}

ByteString PasswordFrame(const std::string& password) {
    ByteString six(kNetXcpPasswordLength, 0);
    for (size_t i = 0; i < password.size() && i < six.size(); ++i)
        six[i] = static_cast<uint8_t>(password[i]);
    return XcpFrame(kXcpCmdAuthorize, six);
}

bool ParseHex(const std::string& text, ByteString& out) {
    ByteString bytes;
    int high = -1;
    for (char c : text) {
        if (c == ' ' || c == ':' || c == '-') {
            if (high >= 0) return false;  // a lone digit before a separator
            continue;
        }
        int d = HexDigit(c);
        if (d < 0) return false;
        if (high < 0) {
            high = d;
        } else {
            bytes.push_back(static_cast<uint8_t>(high * 16 + d));
            high = -1;
        }
    }
    if (high >= 0 || bytes.empty()) return false;
    out.insert(out.end(), bytes.begin(), bytes.end());
    return true;
}

std::string HexText(const ByteString& bytes) {
    std::string text;
    char two[4];
    for (size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(two, sizeof two, "%02X", bytes[i]);
        if (i > 0) text += ' ';
        text += two;
    }
    return text;
}

bool ParseRequestWord(const std::string& word, ByteString& out, std::string& error) {
    for (const NamedRequest& n : kNamed) {
        if (word == n.name) {
            ByteString f = XcpFrame(n.command, n.data);
            out.insert(out.end(), f.begin(), f.end());
            return true;
        }
    }
    if (word.compare(0, 4, "cmd:") == 0) {
        std::string rest = word.substr(4);
        std::string data;
        size_t comma = rest.find(',');
        if (comma != std::string::npos) {
            data = rest.substr(comma + 1);
            rest = rest.substr(0, comma);
        }
        ByteString command, bytes;
        if (!ParseHex(rest, command) || command.size() != 1 ||
            (!data.empty() && !ParseHex(data, bytes)) || bytes.size() > 254) {
            error = "bad command request '" + word + "' (want cmd:XX or cmd:XX,DATA in hex)";
            return false;
        }
        ByteString f = XcpFrame(command[0], bytes);
        out.insert(out.end(), f.begin(), f.end());
        return true;
    }
    if (!ParseHex(word, out)) {
        error = "'" + word + "' is neither a request name, cmd:XX, nor hex bytes";
        return false;
    }
    return true;
}
