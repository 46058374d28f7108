// RelayStatus: what the relay is doing, as the worker and the endpoint keep
// it, and the texts made of it: the status file (one "name=value" a line),
// the systemd status line and the Prometheus text file. The counting itself
// is a few increments in the endpoint; the texts are made at most about once
// a second.
#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "agent/netxcp_endpoint.h"

enum class RelayState { Searching, Attached, Paused, Stopped };

struct RelayStatus {
    RelayState state = RelayState::Searching;
    uint32_t processId = 0;
    uint16_t agentPort = 0;
    // Which agent of the host: the name given with -n ("" without), and the
    // INI file it read.
    std::string instance;
    std::string iniFile;
    std::string portName;
    std::string timing = "literal";
    // Of the UPS last found; empty before the first.
    std::string family, model, versions;
    uint32_t baud = 0;
    // Seconds since 1970 (UTC); 0: never.
    int64_t attachedSince = 0;
    int64_t lastLoss = 0;
    int64_t updated = 0;
    uint64_t losses = 0;
    uint64_t detections = 0;
    NetXcpCounters counters;
};

// One field of the status file.
using StatusField = std::pair<std::string, std::string>;
using StatusFields = std::vector<StatusField>;

const char* StateName(RelayState state);

// The fields in the order of the file: the state and the UPS first, then
// every counter of NetXcpCounters (by the names of kCounterNames), then the
// worker's own counts.
StatusFields FieldsOf(const RelayStatus& status);
// "name=value\n" each; values hold no line breaks.
std::string StatusFileText(const RelayStatus& status);
// The fields of a status file's text; lines that are no field are skipped.
StatusFields ParseStatusFile(const std::string& text);
// The value of `name`, or "" when it is missing.
std::string FieldValue(const StatusFields& fields, const std::string& name);
// Whether `name` is one of the counters (a number that only grows).
bool IsCounterField(const std::string& name);

// systemd's one-line status, e.g. "UPS Quillon 1500 RT (1.0 2.5) at 19200
// baud; 1,234 answered, 2 refused, 0 timed out".
std::string SystemdStatusLine(const RelayStatus& status);

// The counters and the state in the text format of a node exporter's
// text-file collector.
std::string PrometheusText(const RelayStatus& status);
