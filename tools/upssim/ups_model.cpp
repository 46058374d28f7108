#include "ups_model.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "upslink/xcp_protocol.h"

namespace {

const char kDefaultPnp[] = "(10OMB0001\\00000042\\UPS\\OMB0002\\Simulated UPS\\00)";

uint8_t Negated(const uint8_t* bytes, size_t count) {
    uint8_t sum = 0;
    for (size_t i = 0; i < count; ++i) sum = static_cast<uint8_t>(sum + bytes[i]);
    return static_cast<uint8_t>(0x100 - sum);
}

bool ParseNumber(const std::string& text, int base, uint32_t limit, uint32_t& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    unsigned long v = std::strtoul(text.c_str(), &end, base);
    if (*end != '\0' || v > limit) return false;
    value = static_cast<uint32_t>(v);
    return true;
}

bool ParseByte(const std::string& text, uint8_t& value) {
    uint32_t v = 0;
    if (!ParseNumber(text, 16, 0xFF, v)) return false;
    value = static_cast<uint8_t>(v);
    return true;
}

// "0102ab" (or "-" for none) into bytes.
bool ParseHex(const std::string& text, std::vector<uint8_t>& bytes) {
    bytes.clear();
    if (text == "-") return true;
    if (text.size() % 2) return false;
    for (size_t i = 0; i < text.size(); i += 2) {
        uint8_t b = 0;
        if (!ParseByte(text.substr(i, 2), b)) return false;
        bytes.push_back(b);
    }
    return true;
}

std::string Hex(const std::vector<uint8_t>& bytes) {
    std::string s;
    char two[3];
    for (uint8_t b : bytes) {
        std::snprintf(two, sizeof two, "%02X", b);
        s += two;
    }
    return s;
}

// A count argument: a number, or "on"/"off" where a switch makes sense.
bool ParseCount(const std::string& text, uint32_t& count) {
    return ParseNumber(text, 10, 1000000, count);
}

}  // namespace

UpsModel::UpsModel() : m_PnpText(kDefaultPnp) {}

uint32_t UpsModel::Count(uint8_t command) const {
    auto it = m_Counts.find(command);
    return it == m_Counts.end() ? 0 : it->second;
}

std::string UpsModel::PnpAnswer() const {
    if (m_PnpMode == "none") return std::string();
    if (m_PnpMode == "normal") return m_PnpText;
    std::string six = m_PnpText;
    for (char& c : six) c = static_cast<char>(c - 0x20);
    return six;
}

std::string UpsModel::Control(const std::string& line) {
    std::istringstream in(line);
    std::string name;
    in >> name;
    std::string rest;
    std::getline(in, rest);
    rest.erase(0, rest.find_first_not_of(" \t"));
    while (!rest.empty() && (rest.back() == ' ' || rest.back() == '\r' || rest.back() == '\t'))
        rest.pop_back();
    std::vector<std::string> args;
    {
        std::istringstream words(rest);
        std::string w;
        while (words >> w) args.push_back(w);
    }
    auto bad = [&](const char* why) { return std::string("error ") + name + ": " + why; };
    uint32_t n = 0;
    uint8_t b = 0, c = 0;

    if (name == "pnp") {
        if (args.size() != 1 || (rest != "normal" && rest != "sixbit" && rest != "none"))
            return bad("normal, sixbit or none");
        m_PnpMode = rest;
    } else if (name == "pnp-text") {
        if (rest.size() < 10 || rest[0] != '(') return bad("a text of 10 or more starting with (");
        m_PnpText = rest;
    } else if (name == "rates") {
        std::vector<uint32_t> rates;
        std::istringstream list(rest);
        std::string item;
        while (std::getline(list, item, ',')) {
            if (!ParseNumber(item, 10, 0xFFFF, n)) return bad("comma-separated rates up to 65535");
            rates.push_back(n);
        }
        if (rates.size() > 126) return bad("too many rates");
        m_Rates = rates;
    } else if (name == "versions") {
        std::vector<std::pair<int, int>> versions;
        if (rest != "-") {
            std::istringstream list(rest);
            std::string item;
            while (std::getline(list, item, ',')) {
                int major = 0, minor = 0;
                char dot = 0;
                std::istringstream v(item);
                if (!(v >> major >> dot >> minor) || dot != '.' || major < 0 || major > 255 ||
                    minor < 0 || minor > 255)
                    return bad("pairs like 1.0,2.5 or -");
                versions.emplace_back(major, minor);
            }
        }
        if (versions.size() > 100) return bad("too many versions");
        m_Versions = versions;
    } else if (name == "model") {
        if (rest.size() > 200) return bad("at most 200 characters");
        m_Model = rest;
    } else if (name == "status" || name == "auth-ack" || name == "unknown-ack") {
        if (args.size() != 1 || !ParseByte(args[0], b)) return bad("one hex byte");
        (name == "status" ? m_nStatus : name == "auth-ack" ? m_nAuthAck : m_nUnknownAck) = b;
    } else if (name == "answer") {
        Answer a;
        if (args.size() < 2 || args.size() > 3 || !ParseByte(args[0], c) ||
            !ParseByte(args[1], a.block) || !ParseHex(args.size() == 3 ? args[2] : "-", a.data))
            return bad("command, block and hex data, all hexadecimal");
        m_Answers[c] = a;
    } else if (name == "ack") {
        Answer a;
        a.ack = true;
        if (args.size() != 2 || !ParseByte(args[0], c) || !ParseByte(args[1], a.code))
            return bad("command and code, hexadecimal");
        m_Answers[c] = a;
    } else if (name == "clear") {
        if (args.size() != 1 || !ParseByte(args[0], c)) return bad("a command, hexadecimal");
        m_Answers.erase(c);
    } else if (name == "block-size") {
        if (!ParseNumber(rest, 10, 255, n) || n == 0) return bad("1 to 255");
        m_nBlockSize = n;
    } else if (name == "baud") {
        if (!ParseNumber(rest, 10, 1000000, n) || n == 0) return bad("a rate");
        m_nStartBaud = m_nSpeed = n;
    } else if (name == "silence") {
        if (rest == "on" || rest == "off") {
            m_bSilent = rest == "on";
            m_nSilence = 0;
        } else if (!ParseCount(rest, m_nSilence)) {
            return bad("on, off or a count");
        }
    } else if (name == "badsum" || name == "badstart" || name == "stray" || name == "busy" ||
               name == "ack37") {
        if (!ParseCount(rest, n)) return bad("a count");
        (name == "badsum"     ? m_nBadSum
         : name == "badstart" ? m_nBadStart
         : name == "stray"    ? m_nStray
         : name == "busy"     ? m_nBusy
                              : m_nAck37) = n;
    } else if (name == "trickle") {
        if (!ParseNumber(rest, 10, 10000, n)) return bad("milliseconds per byte");
        m_nTrickleMs = n;
    } else if (name == "delay") {
        if (!ParseNumber(rest, 10, 60000, n)) return bad("milliseconds before each answer");
        m_nDelayMs = n;
    } else if (name == "reset") {
        m_bSilent = false;
        m_nSilence = m_nBadSum = m_nBadStart = m_nStray = m_nBusy = m_nAck37 = m_nTrickleMs = 0;
        m_nDelayMs = 0;
        m_nSpeed = m_nStartBaud;
        m_Pending.clear();
    } else if (name == "count") {
        if (args.size() != 1 || !ParseByte(args[0], c)) return bad("a command, hexadecimal");
        return "ok " + std::to_string(Count(c));
    } else if (name == "speed") {
        return "ok " + std::to_string(m_nSpeed);
    } else if (name == "garbled") {
        return "ok " + std::to_string(m_nGarbled);
    } else if (name == "last") {
        if (args.empty()) return "ok " + Hex(m_LastRequest);
        if (args.size() != 1 || !ParseByte(args[0], c))
            return bad("nothing or a command, hexadecimal");
        auto it = m_LastOf.find(c);
        return "ok " + (it == m_LastOf.end() ? std::string() : Hex(it->second));
    } else if (name.empty()) {
        return "error empty line";
    } else {
        return "error unknown command " + name;
    }
    return "ok";
}

void UpsModel::Hear(const uint8_t* bytes, size_t count, uint32_t lineBaud,
                    std::vector<uint8_t>& out) {
    // At another speed than the UPS's own, a real line delivers garbage.
    if (lineBaud != m_nSpeed) {
        m_nGarbled += static_cast<uint32_t>(count);
        m_Pending.clear();
        return;
    }
    m_Pending.insert(m_Pending.end(), bytes, bytes + count);
    for (;;) {
        // Anything before a start byte (the host's ESC, noise) is dropped.
        auto start = std::find(m_Pending.begin(), m_Pending.end(), kXcpStart);
        m_Pending.erase(m_Pending.begin(), start);
        if (m_Pending.size() < 2) return;
        const size_t length = static_cast<size_t>(m_Pending[1]) + 3;
        if (m_Pending[1] == 0) {
            m_Pending.erase(m_Pending.begin());
            continue;
        }
        if (m_Pending.size() < length) return;
        std::vector<uint8_t> frame(m_Pending.begin(),
                                   m_Pending.begin() + static_cast<long>(length));
        m_Pending.erase(m_Pending.begin(), m_Pending.begin() + static_cast<long>(length));
        if (Negated(frame.data(), frame.size()) != 0) continue;  // a bad frame is not answered
        HandleRequest(frame, out);
    }
}

std::vector<uint8_t> UpsModel::IdentificationBlock() const {
    std::vector<uint8_t> data;
    data.push_back(static_cast<uint8_t>(m_Versions.size()));
    for (const auto& v : m_Versions) {
        data.push_back(static_cast<uint8_t>(v.first));
        data.push_back(static_cast<uint8_t>(v.second));
    }
    data.push_back(0x00);
    data.push_back(static_cast<uint8_t>(m_Model.size()));
    data.insert(data.end(), m_Model.begin(), m_Model.end());
    return data;
}

UpsModel::Answer UpsModel::AnswerFor(uint8_t command, const std::vector<uint8_t>& data) {
    auto custom = m_Answers.find(command);
    if (custom != m_Answers.end()) return custom->second;
    Answer a;
    a.block = XcpAnswerBlock(command);
    switch (command) {
        case kXcpCmdIdentification:
            a.data = IdentificationBlock();
            return a;
        case kXcpCmdStatus:
            a.data = {m_nStatus};
            return a;
        case kXcpCmdCapabilities:
            a.data = {0x00, static_cast<uint8_t>(m_Rates.size())};
            for (uint32_t r : m_Rates) {
                a.data.push_back(static_cast<uint8_t>(r & 0xFF));
                a.data.push_back(static_cast<uint8_t>(r >> 8));
            }
            return a;
        case kXcpCmdAuthorize:
            a.ack = true;
            a.code =
                (data.size() == 3 && std::equal(data.begin(), data.end(), kXcpAuthorizationCode))
                    ? m_nAuthAck
                    : m_nUnknownAck;
            return a;
        default:
            a.ack = true;
            a.code = m_nUnknownAck;
            return a;
    }
}

void UpsModel::Emit(uint8_t block, const std::vector<uint8_t>& data, std::vector<uint8_t>& out) {
    size_t taken = 0;
    uint8_t sequence = 1;
    do {
        size_t n = std::min<size_t>(m_nBlockSize, data.size() - taken);
        bool last = taken + n == data.size();
        size_t at = out.size();
        out.push_back(kXcpStart);
        out.push_back(block);
        out.push_back(static_cast<uint8_t>(n));
        out.push_back(static_cast<uint8_t>((sequence & 0x7F) | (last ? kXcpLastBlockMark : 0)));
        out.insert(out.end(), data.begin() + static_cast<long>(taken),
                   data.begin() + static_cast<long>(taken + n));
        out.push_back(Negated(&out[at], out.size() - at));
        taken += n;
        ++sequence;
    } while (taken < data.size());
}

void UpsModel::HandleRequest(const std::vector<uint8_t>& frame, std::vector<uint8_t>& out) {
    const uint8_t command = frame[2];
    const std::vector<uint8_t> data(frame.begin() + 3, frame.end() - 1);
    ++m_Counts[command];
    m_LastRequest = frame;
    m_LastOf[command] = frame;
    if (m_bSilent) return;
    if (m_nSilence) {
        --m_nSilence;
        return;
    }
    const size_t start = out.size();
    if (m_nBusy || m_nAck37) {
        uint8_t code = m_nBusy ? kXcpAckBusy : kXcpAckDone;
        (m_nBusy ? m_nBusy : m_nAck37)--;
        Emit(kXcpAckBlock, {code}, out);
    } else {
        Answer a = AnswerFor(command, data);
        // A baud switch to a rate the UPS offers is acknowledged at the old
        // rate and takes effect after that answer.
        uint32_t newSpeed = 0;
        if (command == kXcpCmdBaudSwitch && m_Answers.count(command) == 0 && data.size() >= 4) {
            uint32_t rate = data[2] | (static_cast<uint32_t>(data[3]) << 8);
            if (std::find(m_Rates.begin(), m_Rates.end(), rate) != m_Rates.end()) {
                a.code = kXcpAckAccepted;
                newSpeed = rate;
            }
        }
        for (; m_nStray; --m_nStray) {
            uint8_t other = static_cast<uint8_t>(a.ack ? 0x7E : a.block + 1);
            if (other == kXcpAckBlock) ++other;
            Emit(other, {0x00}, out);
        }
        if (a.ack) {
            Emit(kXcpAckBlock, {a.code}, out);
        } else {
            Emit(a.block, a.data, out);
        }
        if (newSpeed) m_nSpeed = newSpeed;
    }
    if (m_nBadStart) {
        --m_nBadStart;
        out[start] = 0xBA;
    } else if (m_nBadSum) {
        --m_nBadSum;
        out.back() = static_cast<uint8_t>(out.back() + 1);
    }
}
