// RelaySettings: everything the relay worker reads from its INI file at
// start, checked once. A value that cannot be a setting's value is a clear
// error at start (SettingsError), never a silent default.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "platform/product_names.h"
#include "upslink/ups_device.h"
#include "upslink/xcp_protocol.h"

class CINIFile;

// An IPv4 network that may talk to the relay: address and mask in host byte
// order (a single host has the mask 0xFFFFFFFF).
struct ClientNetwork {
    uint32_t address = 0;
    uint32_t mask = 0xFFFFFFFFu;

    bool Holds(uint32_t hostOrderAddress) const { return (hostOrderAddress & mask) == address; }
};

// Who may use the NetXCP port and how wrong passwords are answered.
struct NetXcpAccess {
    std::string password;                       // the clear password (compared over six bytes)
    bool passwordUsable = true;                 // false: no password frame matches
    uint16_t port = plat::kAgentDefaultPort;    // UDP port, 0 for any free port (tests)
    uint32_t bindAddress = 0;                   // host byte order; 0 means every IPv4 address
    std::vector<ClientNetwork> allowedClients;  // empty: everyone
    // After `passwordTries` wrong password frames from one sender within
    // `passwordWindowSeconds`, that sender's password frames are ignored for
    // `passwordLockoutSeconds`. 0 tries: no limit.
    uint32_t passwordTries = 5;
    uint32_t passwordWindowSeconds = 60;
    uint32_t passwordLockoutSeconds = 60;
    // Wrong password frames the whole relay compares a minute, from all
    // senders together (agent/password_throttle.h); 0: no such limit.
    uint32_t passwordBudget = 60;
    // The endpoint's request queue (agent/request_queue.h): a request that
    // has waited longer than `requestMaxAgeSeconds` (0: no limit) is dropped
    // unanswered; at most `requestQueueSize` requests wait.
    uint32_t requestMaxAgeSeconds = 3;
    uint32_t requestQueueSize = 256;
};

struct RelaySettings {
    std::string configPath;  // the INI file the settings came from
    std::string portName = "COM1:";
    uint32_t baud = 9600;
    XcpTiming timing = XcpTiming::kLiteral;  // [Communications] Timing
    // [Communications] LivenessTries: unanswered asks in a row after which a
    // UPS that has gone quiet is lost; 0 turns the check off.
    uint32_t livenessTries = 3;
    bool passwordIsDefault = true;  // the published default is in use
    NetXcpAccess access;
    std::string traceFile;          // the wire trace; empty: no trace
    uint32_t traceLimitKb = 10240;  // KiB per trace file before it rotates
    // [Status]: where the status file goes (empty: the agent's runtime
    // folder, named after the NetXCP port) and the Prometheus text file
    // (empty: none).
    std::string statusFile;
    std::string prometheusFile;
    // [UPSIdent] Name and AttachedDevices, as written: the identity every
    // UPS device of the run is made with.
    UpsIdentity upsIdentity;
};

// The status file of the agent on NetXCP port `port` when [Status] names none.
std::string DefaultStatusFile(uint16_t port);

// A setting whose value cannot be used; reported with the settings message
// (section, key, file, the value as written, what is allowed) and the agent
// ends with exit status -1.
struct SettingsError {
    std::string section;
    std::string key;
    std::string value;
    std::string allowed;
};

// Reads and checks every setting of the relay from `profile` (`path` names it
// in reports). Throws SettingsError for a value that cannot be used.
RelaySettings ReadRelaySettings(CINIFile& profile, const std::string& path);

// Whether the INI file at `path` can be read the way CINIFile reads it. A
// file that cannot (missing, a folder, no access) gives only the built-in
// settings; `error` is then the system's code for why, else 0.
bool ConfigFileReadable(const std::string& path, uint32_t& error);
