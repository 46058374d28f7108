// RelaySettings: the relay's INI settings, read and checked once at start.
// Every value is read as text and parsed here: CINIFile's integer read
// ("%u") wraps large numbers and stops at the first stray character, which
// would turn a typing error into another port or another rate without a word.
#include "agent/relay_settings.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "agent/ini_file.h"
#include "common/config/encryption.h"
#include "common/config/ini_format.h"
#include "platform/agent_folder.h"
#include "platform/errors.h"
#include "platform/product_names.h"
#include "platform/scoped_handle.h"

namespace {

const char* const kDefaultPassword = "Wopra3";
constexpr size_t kPasswordLength = 6;  // the endpoint compares this many bytes
constexpr size_t kFieldWidth = 3;      // one cipher byte of scrambled text: "%3d"
constexpr size_t kMaxScrambled = 48;   // two cipher blocks, as CEncryption allows
// CINIFile hands back at most this many characters of a value; a value that
// long may have been cut at this point.
constexpr size_t kReaderLimit = ini::kLineBuffer - 1;
constexpr uint32_t kMaxSeconds = 86400;  // a day: far inside the 32-bit millisecond clock
constexpr uint32_t kMaxTries = 1000;
// Asks of a quiet UPS before it is lost: more than this would take minutes.
constexpr uint32_t kMaxLivenessTries = 20;
// Requests the endpoint may hold: at most 1172 bytes each, so 4096 of them
// stay under 5 MB.
constexpr uint32_t kMaxQueuedRequests = 4096;
// Wrong password frames a minute for the whole relay: 1,000 a second at most.
constexpr uint32_t kMaxGuessesPerMinute = 60000;

const char* const kCommunications = "Communications";
const char* const kNetwork = "Network";
const char* const kNetXcp = "NetXCP";
const char* const kTrace = "Trace";
// A trace file may be as small as one KiB (tests rotate it quickly) and as
// large as 4 GiB; two of them are kept.
constexpr uint32_t kMaxTraceKb = 4u * 1024 * 1024;
const char* const kStatus = "Status";

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string Trimmed(const std::string& text) {
    size_t begin = 0, end = text.size();
    while (begin < end && IsBlank(text[begin])) ++begin;
    while (end > begin && IsBlank(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

// The value as written. On POSIX a file with CR LF line ends leaves the CR
// on the value; the Win32 runtime's text mode never shows it, so it goes here
// too and both platforms read the same file alike.
std::string Value(CINIFile& profile, const char* section, const char* key,
                  const char* defaultValue = "") {
    std::string value = profile.GetString(section, key, defaultValue);
    if (!value.empty() && value.back() == '\r') value.pop_back();
    return value;
}

// Strict decimal: digits only, blanks around them allowed, from `min` to
// `max`. No sign, no other base, nothing after the digits.
bool ParseDecimal(const std::string& text, uint32_t min, uint32_t max, uint32_t& out) {
    std::string digits = Trimmed(text);
    if (digits.empty()) return false;
    uint64_t value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<uint32_t>(c - '0');
        if (value > max) return false;  // also keeps a long run of digits from overflowing
    }
    if (value < min) return false;
    out = static_cast<uint32_t>(value);
    return true;
}

std::string RangeText(uint32_t min, uint32_t max) {
    return std::to_string(min) + "-" + std::to_string(max);
}

// A number setting: absent or empty gives `defaultValue`.
uint32_t ReadNumber(CINIFile& profile, const char* section, const char* key, uint32_t defaultValue,
                    uint32_t min, uint32_t max) {
    std::string value = Value(profile, section, key);
    if (Trimmed(value).empty()) return defaultValue;
    uint32_t number = 0;
    if (!ParseDecimal(value, min, max, number)) {
        throw SettingsError{section, key, value, RangeText(min, max)};
    }
    return number;
}

// Dotted IPv4 "a.b.c.d", each part 0-255 in decimal, in host byte order. A
// part with a leading zero is refused: other readers of the same text take
// "010" for octal 8.
bool ParseDottedAddress(const std::string& text, uint32_t& out) {
    uint32_t address = 0;
    size_t at = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (at >= text.size() || text[at] != '.') return false;
            ++at;
        }
        size_t begin = at;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9') ++at;
        size_t length = at - begin;
        if (length == 0 || length > 3 || (length > 1 && text[begin] == '0')) return false;
        uint32_t value = static_cast<uint32_t>(std::atoi(text.substr(begin, length).c_str()));
        if (value > 255) return false;
        address = (address << 8) | value;
    }
    if (at != text.size()) return false;
    out = address;
    return true;
}

std::string DottedText(uint32_t address) {
    return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xFF) + "." +
           std::to_string((address >> 8) & 0xFF) + "." + std::to_string(address & 0xFF);
}

const char* const kAllowedEntry = "a.b.c.d or a.b.c.d/n";

// One entry of the allow-list: a host "a.b.c.d" or a network "a.b.c.d/n".
ClientNetwork ParseClientEntry(const std::string& entry) {
    std::string host = entry;
    uint32_t prefix = 32;
    size_t slash = entry.find('/');
    if (slash != std::string::npos) {
        host = entry.substr(0, slash);
        std::string bits = entry.substr(slash + 1);
        if (!ParseDecimal(bits, 0, 32, prefix)) {
            throw SettingsError{kNetXcp, "AllowClients", entry, kAllowedEntry};
        }
    }
    ClientNetwork network;
    if (!ParseDottedAddress(host, network.address)) {
        throw SettingsError{kNetXcp, "AllowClients", entry, kAllowedEntry};
    }
    network.mask = prefix == 0 ? 0u : 0xFFFFFFFFu << (32 - prefix);
    // "10.1.2.3/8" most likely meant one host or a typing error in the
    // network; either way it is not the network 10.0.0.0/8 it would admit.
    if ((network.address & ~network.mask) != 0) {
        std::string meant =
            DottedText(network.address & network.mask) + "/" + std::to_string(prefix);
        throw SettingsError{kNetXcp, "AllowClients", entry, meant + " (a.b.c.d/n, host bits 0)"};
    }
    return network;
}

// The allow-list: entries separated by commas and/or blanks.
std::vector<ClientNetwork> ReadAllowedClients(CINIFile& profile) {
    std::string value = Value(profile, kNetXcp, "AllowClients");
    std::vector<ClientNetwork> clients;
    if (Trimmed(value).empty()) return clients;
    // The reader cuts longer lines; a cut list could end in a part of an
    // address ("192.168.1.1" of "192.168.1.10") and admit someone else.
    if (value.size() >= kReaderLimit) {
        throw SettingsError{kNetXcp, "AllowClients", value,
                            std::string(kAllowedEntry) + ", " + std::to_string(kReaderLimit - 1) +
                                " characters in all"};
    }
    size_t at = 0;
    while (at < value.size()) {
        while (at < value.size() && (value[at] == ',' || IsBlank(value[at]))) ++at;
        size_t begin = at;
        while (at < value.size() && value[at] != ',' && !IsBlank(value[at])) ++at;
        if (at > begin) clients.push_back(ParseClientEntry(value.substr(begin, at - begin)));
    }
    // Separators alone ("," for instance) are not the empty list that admits
    // everyone: something was meant there.
    if (clients.empty()) throw SettingsError{kNetXcp, "AllowClients", value, kAllowedEntry};
    return clients;
}

uint32_t ReadBindAddress(CINIFile& profile) {
    std::string value = Value(profile, kNetXcp, "BindAddress");
    std::string text = Trimmed(value);
    if (text.empty()) return 0;
    uint32_t address = 0;
    if (!ParseDottedAddress(text, address)) {
        throw SettingsError{kNetXcp, "BindAddress", value, "a.b.c.d"};
    }
    return address;
}

// Scrambled text as CEncryption::Encrypt writes it: fields of three
// characters, each a decimal byte right-aligned with blanks ("%3d": "  7",
// " 42", "255"; "007" is taken too), at most two blocks' worth. Anything else
// the library would still turn into some password (a text of more than 48
// characters into the empty one), which nobody chose.
bool IsScrambledText(const std::string& text) {
    if (text.empty() || text.size() > kMaxScrambled || text.size() % kFieldWidth != 0) return false;
    for (size_t at = 0; at < text.size(); at += kFieldWidth) {
        size_t i = at;
        while (i < at + kFieldWidth - 1 && text[i] == ' ') ++i;
        uint32_t value = 0;
        for (; i < at + kFieldWidth; ++i) {
            if (text[i] < '0' || text[i] > '9') return false;
            value = value * 10 + static_cast<uint32_t>(text[i] - '0');
        }
        if (value > 255) return false;
    }
    return true;
}

// Whether `password`, as the endpoint compares it (its first six bytes,
// padded with zero bytes), is the published default.
bool ComparesAsDefault(const std::string& password) {
    char given[kPasswordLength] = {};
    char published[kPasswordLength] = {};
    std::memcpy(given, password.data(), std::min(password.size(), kPasswordLength));
    std::memcpy(published, kDefaultPassword, std::strlen(kDefaultPassword));
    return std::memcmp(given, published, kPasswordLength) == 0;
}

void ReadPassword(CINIFile& profile, RelaySettings& settings) {
    NetXcpAccess& access = settings.access;
    std::string stored = Value(profile, kNetwork, "Passwd", kDefaultPassword);
    access.password.clear();
    access.passwordUsable = false;
    if (stored == kDefaultPassword) {
        // The default is stored as itself, not scrambled.
        access.password = stored;
        access.passwordUsable = true;
    } else if (IsScrambledText(stored)) {
        plat::ScopedMallocText clear(CEncryption::UnEncrypt(stored.c_str()));
        if (clear && clear.Get()[0] != '\0') {
            access.password = clear.Get();
            access.passwordUsable = true;
        }
    }
    settings.passwordIsDefault = access.passwordUsable && ComparesAsDefault(access.password);
}

uint32_t ReadBaud(CINIFile& profile) {
    // 0 means "not set" in either key, as it always has.
    uint32_t baud =
        ReadNumber(profile, kCommunications, "CommunicationsBaudRate", 0, 0, UINT32_MAX);
    if (baud == 0) {
        baud =
            ReadNumber(profile, kCommunications, "CommunicationsBaudRateLast", 9600, 0, UINT32_MAX);
    }
    return baud == 0 ? 9600 : baud;
}

// The trace file's path: blanks around it are dropped. A path as long as the
// reader's line would have been cut and named another file.
std::string ReadTraceFile(CINIFile& profile) {
    std::string value = Value(profile, kTrace, "TraceFile");
    if (value.size() >= kReaderLimit) {
        throw SettingsError{
            kTrace, "TraceFile", value,
            "a file path of at most " + std::to_string(kReaderLimit - 1) + " characters"};
    }
    return Trimmed(value);
}

// "literal" or "prompt", in any letter case; absent or empty is literal.
XcpTiming ReadTiming(CINIFile& profile) {
    const std::string value = Value(profile, kCommunications, "Timing");
    std::string word = Trimmed(value);
    for (char& c : word) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (word.empty() || word == "literal") return XcpTiming::kLiteral;
    if (word == "prompt") return XcpTiming::kPrompt;
    throw SettingsError{kCommunications, "Timing", value, "literal or prompt"};
}

// "/..." or "\\..." or "C:\..." (either slash): a service's current folder is
// nobody's choice, so a relative path would land wherever that happens to be.
bool IsAbsolutePath(const std::string& path) {
    auto slash = [](char c) { return c == '/' || c == '\\'; };
    if (!path.empty() && slash(path[0])) return true;
    return path.size() > 2 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':' &&
           slash(path[2]);
}

// A file path setting: blanks around it go. A value as long as the reader
// gives may have been cut. Empty gives "".
std::string ReadPath(CINIFile& profile, const char* key) {
    std::string value = Value(profile, kStatus, key);
    std::string path = Trimmed(value);
    if (path.empty()) return path;
    if (value.size() >= kReaderLimit || !IsAbsolutePath(path)) {
        throw SettingsError{kStatus, key, value, "an absolute file path"};
    }
    return path;
}

}  // namespace

std::string DefaultStatusFile(uint16_t port) {
    return plat::AgentRuntimeFile("qln-" + std::to_string(port) + ".status");
}

RelaySettings ReadRelaySettings(CINIFile& profile, const std::string& path) {
    RelaySettings settings;
    settings.configPath = path;
    settings.baud = ReadBaud(profile);
    settings.portName = Value(profile, kCommunications, "CommunicationsPort", "COM1:");
    if (settings.portName.empty()) settings.portName = "COM1:";
    settings.timing = ReadTiming(profile);
    settings.livenessTries = ReadNumber(profile, kCommunications, "LivenessTries",
                                        settings.livenessTries, 0, kMaxLivenessTries);
    ReadPassword(profile, settings);

    NetXcpAccess& access = settings.access;
    access.port = static_cast<uint16_t>(
        ReadNumber(profile, kNetXcp, "AgentPort", plat::kAgentDefaultPort, 1, 65535));
    access.bindAddress = ReadBindAddress(profile);
    access.allowedClients = ReadAllowedClients(profile);
    access.passwordTries = ReadNumber(profile, kNetXcp, "PasswordTries", 5, 0, kMaxTries);
    access.passwordWindowSeconds =
        ReadNumber(profile, kNetXcp, "PasswordWindow", 60, 1, kMaxSeconds);
    access.passwordLockoutSeconds =
        ReadNumber(profile, kNetXcp, "PasswordLockout", 60, 1, kMaxSeconds);
    access.passwordBudget =
        ReadNumber(profile, kNetXcp, "PasswordGuessesPerMinute", 60, 0, kMaxGuessesPerMinute);
    access.requestMaxAgeSeconds = ReadNumber(profile, kNetXcp, "RequestMaxAge", 3, 0, kMaxSeconds);
    access.requestQueueSize =
        ReadNumber(profile, kNetXcp, "RequestQueueSize", 256, 1, kMaxQueuedRequests);
    settings.traceFile = ReadTraceFile(profile);
    settings.traceLimitKb =
        ReadNumber(profile, kTrace, "TraceLimit", settings.traceLimitKb, 1, kMaxTraceKb);
    settings.statusFile = ReadPath(profile, "StatusFile");
    if (settings.statusFile.empty()) settings.statusFile = DefaultStatusFile(access.port);
    settings.prometheusFile = ReadPath(profile, "PrometheusFile");
    settings.upsIdentity.name = profile.GetString("UPSIdent", "Name", "");
    settings.upsIdentity.attachedDevices = profile.GetString("UPSIdent", "AttachedDevices", "");
    return settings;
}

bool ConfigFileReadable(const std::string& path, uint32_t& error) {
    // Opened as CINIFile opens it, for reading. A folder opens on POSIX and
    // fails only at its first read, where CINIFile would find no section and
    // give the defaults without a word, so one character is read too.
    plat::SetLastError(0);
    plat::ScopedFile file(std::fopen(path.c_str(), "r"));
    if (!file) {
        error = plat::LastError();
        if (error == 0) error = plat::kErrAccessDenied;
        return false;
    }
    plat::SetLastError(0);
    (void)std::fgetc(file.Get());
    bool readable = std::ferror(file.Get()) == 0;
    error = readable ? 0 : plat::LastError();
    file.Reset();
    if (!readable && error == 0) error = plat::kErrAccessDenied;
    return readable;
}
