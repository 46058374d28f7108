#include "trace_replay.h"

#include <algorithm>
#include <cstdlib>
#include <sstream>

#include "platform/errors.h"
#include "platform/file_guard.h"
#include "platform/scoped_handle.h"

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// The trace writes "**" for a byte of a password frame; such a byte is only
// ever on the network side, which the replay does not use.
bool ParseHexBytes(const std::string& hex, bool maskAllowed, std::vector<uint8_t>& bytes) {
    if (hex.size() % 2 != 0) return false;
    bytes.clear();
    for (size_t i = 0; i < hex.size(); i += 2) {
        if (maskAllowed && hex.compare(i, 2, "**") == 0) {
            bytes.push_back(0);
            continue;
        }
        int high = HexDigit(hex[i]), low = HexDigit(hex[i + 1]);
        if (high < 0 || low < 0) return false;
        bytes.push_back(static_cast<uint8_t>(high * 16 + low));
    }
    return true;
}

// "baud=19200 parity=N data=8 stop=1": the number after `key`, 0 when absent.
uint32_t Setting(const std::string& note, const std::string& key) {
    size_t at = note.find(key);
    if (at == std::string::npos) return 0;
    return static_cast<uint32_t>(std::strtoul(note.c_str() + at + key.size(), nullptr, 10));
}

bool StartsWith(const std::vector<uint8_t>& bytes, const std::vector<uint8_t>& prefix) {
    return prefix.size() <= bytes.size() && std::equal(prefix.begin(), prefix.end(), bytes.begin());
}

}  // namespace

bool TraceReplay::Load(const std::string& path, std::string& error) {
    plat::FileRefusal why;
    plat::ScopedFile in(plat::OpenBoundedFile(path, kMaxTraceBytes, false, why));
    if (!in) {
        switch (why) {
            case plat::FileRefusal::kNotRegular:
                error = path + ": not a regular file (a trace is a file the agent wrote)";
                break;
            case plat::FileRefusal::kTooLarge:
                error = path + ": larger than " + std::to_string(kMaxTraceBytes >> 20) +
                        " MiB, more than any trace to replay";
                break;
            default:
                error = "cannot read " + path + ": " + plat::SystemReason(plat::LastError());
        }
        return false;
    }
    std::string text;
    char buffer[64 * 1024];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, in.Get())) > 0) text.append(buffer, n);
    if (std::ferror(in.Get())) {
        error = "cannot read " + path + ": " + plat::SystemReason(plat::LastError());
        return false;
    }
    if (!Parse(text, error)) {
        error = path + ": " + error;
        return false;
    }
    return true;
}

bool TraceReplay::Parse(const std::string& text, std::string& error) {
    std::vector<Exchange> exchanges;
    uint32_t baud = 0, dataBits = 8;
    bool open = false;  // the last exchange may still take bytes
    std::istringstream lines(text);
    std::string line;
    for (size_t number = 1; std::getline(lines, line); ++number) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::istringstream fields(line);
        std::string time, direction;
        if (!(fields >> time >> direction)) continue;  // blank line
        auto fail = [&](const std::string& why) {
            error = "line " + std::to_string(number) + ": " + why;
            return false;
        };
        if (time.find_first_not_of("0123456789") != std::string::npos)
            return fail("not a trace line (no time)");
        if (direction == "--") {
            std::string note = line.substr(line.find("--") + 2);
            // A new line setting or a new open starts a new exchange.
            if (note.find(" line ") == 0) {
                baud = Setting(note, "baud=");
                dataBits = Setting(note, "data=");
                open = false;
            } else if (note.find(" open ") == 0 || note == " close") {
                open = false;
            }
            continue;
        }
        if (direction != "S>" && direction != "S<" && direction != "N<" && direction != "N>")
            return fail("unknown direction " + direction);
        std::string length, hex;
        if (!(fields >> length >> hex)) return fail("no length and bytes");
        std::vector<uint8_t> bytes;
        if (length.find_first_not_of("0123456789") != std::string::npos ||
            !ParseHexBytes(hex, direction[0] == 'N', bytes) ||
            std::to_string(bytes.size()) != length) {
            return fail("the bytes do not match their length");
        }
        if (direction[0] == 'N') continue;  // the network side is the relay's own
        const bool toUps = direction == "S>";
        // A request after an answer begins the next exchange; so does a UPS
        // byte with no exchange to belong to.
        if (!open || (toUps && !exchanges.back().answer.empty())) {
            exchanges.push_back(Exchange{baud, dataBits, {}, {}});
            open = true;
        }
        std::vector<uint8_t>& into = toUps ? exchanges.back().request : exchanges.back().answer;
        into.insert(into.end(), bytes.begin(), bytes.end());
    }
    bool anyAnswer = std::any_of(exchanges.begin(), exchanges.end(),
                                 [](const Exchange& e) { return !e.answer.empty(); });
    if (!anyAnswer) {
        error = "no bytes from the UPS in this trace";
        return false;
    }
    m_Exchanges = std::move(exchanges);
    m_nNext = 0;
    m_Pending.clear();
    m_nAnswered = m_nUnmatched = 0;
    return true;
}

long TraceReplay::Match(uint32_t lineBaud) const {
    auto fits = [&](size_t i) {
        const Exchange& e = m_Exchanges[i];
        return !e.request.empty() && e.baud == lineBaud && StartsWith(m_Pending, e.request);
    };
    long next = NextRequest();
    if (next >= 0 && fits(static_cast<size_t>(next))) return next;
    // Otherwise the same request anywhere, nearest after the current place.
    for (size_t k = 0; k < m_Exchanges.size(); ++k) {
        size_t i = (m_nNext + k) % m_Exchanges.size();
        if (fits(i)) return static_cast<long>(i);
    }
    return -1;
}

long TraceReplay::NextRequest() const {
    for (size_t i = m_nNext; i < m_Exchanges.size(); ++i) {
        if (!m_Exchanges[i].request.empty()) return static_cast<long>(i);
    }
    return -1;
}

bool TraceReplay::StartsRequest(const Exchange& e, uint32_t lineBaud) const {
    return e.baud == lineBaud && e.request.size() > m_Pending.size() &&
           StartsWith(e.request, m_Pending);
}

bool TraceReplay::StartsSomeRequest(uint32_t lineBaud) const {
    for (const Exchange& e : m_Exchanges) {
        if (StartsRequest(e, lineBaud)) return true;
    }
    return false;
}

void TraceReplay::Hear(const uint8_t* bytes, size_t count, uint32_t lineBaud,
                       std::vector<uint8_t>& out) {
    m_Pending.insert(m_Pending.end(), bytes, bytes + count);
    while (!m_Pending.empty()) {
        // A request the host wrote in parts (an escape byte, then the frame)
        // waits for its rest before it is looked up elsewhere in the trace.
        long next = NextRequest();
        if (next >= 0 && StartsRequest(m_Exchanges[static_cast<size_t>(next)], lineBaud)) return;
        long found = Match(lineBaud);
        if (found >= 0) {
            const Exchange& e = m_Exchanges[static_cast<size_t>(found)];
            out.insert(out.end(), e.answer.begin(), e.answer.end());
            m_Pending.erase(m_Pending.begin(),
                            m_Pending.begin() + static_cast<long>(e.request.size()));
            m_nNext = static_cast<size_t>(found) + 1;
            ++m_nAnswered;
            continue;
        }
        if (StartsSomeRequest(lineBaud)) return;  // wait for the rest
        // Nothing recorded starts here: the byte is noise to this UPS, as a
        // request it never heard would have been. Go on from the next one.
        m_Pending.erase(m_Pending.begin());
        ++m_nUnmatched;
    }
}

std::string TraceReplay::PnpAnswer() const {
    for (const Exchange& e : m_Exchanges) {
        if (e.request.empty() && e.dataBits == 7 && !e.answer.empty())
            return std::string(e.answer.begin(), e.answer.end());
    }
    return std::string();
}
