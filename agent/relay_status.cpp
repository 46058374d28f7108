#include "agent/relay_status.h"

#include "upslink/device_text.h"

namespace {

// The endpoint's counters by their names in the status file. A counter added
// to NetXcpCounters gets its line here and appears in every report.
const std::pair<const char*, uint64_t NetXcpCounters::*> kCounterNames[] = {
    {"received", &NetXcpCounters::received},
    {"answered", &NetXcpCounters::answered},
    {"dropped_no_ups", &NetXcpCounters::noUps},
    {"dropped_not_allowed", &NetXcpCounters::notAllowed},
    {"forwarded", &NetXcpCounters::forwarded},
    {"privileged_admitted", &NetXcpCounters::privilegedAdmitted},
    {"privileged_refused", &NetXcpCounters::privilegedRefused},
    {"wrong_passwords", &NetXcpCounters::wrongPasswords},
    {"ignored_passwords", &NetXcpCounters::ignoredPasswords},
    {"lockouts", &NetXcpCounters::lockouts},
    {"cut_short", &NetXcpCounters::cutShort},
    {"ups_timeouts", &NetXcpCounters::upsTimeouts},
    {"ups_invalid", &NetXcpCounters::upsInvalid},
    {"dropped_stale", &NetXcpCounters::stale},
    {"dropped_oversized", &NetXcpCounters::oversized},
    {"dropped_queue_full", &NetXcpCounters::queueFull},
    {"receive_errors", &NetXcpCounters::receiveErrors},
    {"relay_requests", &NetXcpCounters::relayRequests},
};

const char* const kWorkerCounters[] = {"losses", "detections"};

// Printable ASCII only: a name from the UPS ends up in a line-based file and
// in a systemd message. Escaped rather than replaced, so that the record
// keeps the device's text exactly.
std::string Clean(const std::string& text) { return PrintableText(text); }

// 1234567 as "1,234,567".
std::string Grouped(uint64_t value) {
    std::string digits = std::to_string(value), out;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return out;
}

// Prometheus label values escape backslash, quote and line break.
std::string LabelValue(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    return out;
}

}  // namespace

const char* StateName(RelayState state) {
    switch (state) {
        case RelayState::Searching:
            return "searching";
        case RelayState::Attached:
            return "attached";
        case RelayState::Paused:
            return "paused";
        case RelayState::Stopped:
            return "stopped";
    }
    return "stopped";
}

StatusFields FieldsOf(const RelayStatus& s) {
    StatusFields fields = {
        {"state", StateName(s.state)},
        {"pid", std::to_string(s.processId)},
        {"agent_port", std::to_string(s.agentPort)},
        {"serial_port", Clean(s.portName)},
        {"timing", s.timing},
        {"ups_family", Clean(s.family)},
        {"ups_model", Clean(s.model)},
        {"ups_versions", Clean(s.versions)},
        {"baud", std::to_string(s.baud)},
        {"attached_since", std::to_string(s.attachedSince)},
        {"last_loss", std::to_string(s.lastLoss)},
        {"updated", std::to_string(s.updated)},
        {"instance", Clean(s.instance)},
        {"ini_file", Clean(s.iniFile)},
    };
    for (const auto& counter : kCounterNames) {
        fields.emplace_back(counter.first, std::to_string(s.counters.*counter.second));
    }
    fields.emplace_back("losses", std::to_string(s.losses));
    fields.emplace_back("detections", std::to_string(s.detections));
    return fields;
}

std::string StatusFileText(const RelayStatus& status) {
    std::string text;
    for (const StatusField& field : FieldsOf(status))
        text += field.first + "=" + field.second + "\n";
    return text;
}

StatusFields ParseStatusFile(const std::string& text) {
    StatusFields fields;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(at, end - at);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        size_t equals = line.find('=');
        if (equals != std::string::npos && equals > 0) {
            fields.emplace_back(line.substr(0, equals), line.substr(equals + 1));
        }
        at = end + 1;
    }
    return fields;
}

std::string FieldValue(const StatusFields& fields, const std::string& name) {
    for (const StatusField& field : fields) {
        if (field.first == name) return field.second;
    }
    return "";
}

bool IsCounterField(const std::string& name) {
    for (const auto& counter : kCounterNames) {
        if (name == counter.first) return true;
    }
    for (const char* counter : kWorkerCounters) {
        if (name == counter) return true;
    }
    return false;
}

std::string SystemdStatusLine(const RelayStatus& s) {
    // The same state as the status file: a pause or a stop in front, then the
    // UPS once one was found (model, versions, speed), else the port looked at.
    std::string line;
    if (s.state == RelayState::Paused) line = "Paused; ";
    if (s.state == RelayState::Stopped) line = "Stopping; ";
    bool named = !s.family.empty() || !s.model.empty();
    if (s.state == RelayState::Searching || !named) {
        line +=
            (s.state == RelayState::Searching ? "Looking for the UPS on " : "no UPS found on ") +
            Clean(s.portName);
    } else {
        line += "UPS " + Clean(s.family) + " " + Clean(s.model) + " (" + Clean(s.versions) +
                ") at " + std::to_string(s.baud) + " baud";
    }
    const NetXcpCounters& c = s.counters;
    return line + "; " + Grouped(c.answered) + " answered, " + Grouped(c.privilegedRefused) +
           " refused, " + Grouped(c.upsTimeouts) + " timed out";
}

std::string PrometheusText(const RelayStatus& s) {
    const std::string port = "port=\"" + std::to_string(s.agentPort) + "\"";
    std::string text;
    for (RelayState state :
         {RelayState::Searching, RelayState::Attached, RelayState::Paused, RelayState::Stopped}) {
        text += std::string("qln_state{") + port + ",state=\"" + StateName(state) + "\"} " +
                (state == s.state ? "1" : "0") + "\n";
    }
    text += "qln_ups_info{" + port + ",family=\"" + LabelValue(Clean(s.family)) + "\",model=\"" +
            LabelValue(Clean(s.model)) + "\",versions=\"" + LabelValue(Clean(s.versions)) +
            "\"} 1\n";
    text += "qln_baud{" + port + "} " + std::to_string(s.baud) + "\n";
    text += "qln_attached_since_seconds{" + port + "} " + std::to_string(s.attachedSince) + "\n";
    text += "qln_last_loss_seconds{" + port + "} " + std::to_string(s.lastLoss) + "\n";
    for (const StatusField& field : FieldsOf(s)) {
        if (!IsCounterField(field.first)) continue;
        text += "# TYPE qln_" + field.first + "_total counter\n";
        text += "qln_" + field.first + "_total{" + port + "} " + field.second + "\n";
    }
    return text;
}
