#include "agent/status_command.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "agent/ini_file.h"
#include "agent/qln_exception.h"
#include "agent/relay_settings.h"
#include "agent/relay_status.h"
#include "common/resources/message_ids.h"
#include "platform/agent_folder.h"
#include "platform/errors.h"
#include "platform/std_streams.h"
#include "platform/user_language.h"

namespace {

// The fields every line above names; the rest go on the line of the others.
const char* const kShownFields[] = {"state",
                                    "pid",
                                    "agent_port",
                                    "serial_port",
                                    "timing",
                                    "ups_family",
                                    "ups_model",
                                    "ups_versions",
                                    "baud",
                                    "attached_since",
                                    "last_loss",
                                    "updated",
                                    "received",
                                    "answered",
                                    "dropped_no_ups",
                                    "dropped_not_allowed",
                                    "forwarded",
                                    "privileged_admitted",
                                    "privileged_refused",
                                    "wrong_passwords",
                                    "ignored_passwords",
                                    "lockouts",
                                    "cut_short",
                                    "ups_timeouts",
                                    "ups_invalid",
                                    "losses",
                                    "detections",
                                    "instance",
                                    "ini_file"};

std::string Text(uint32_t id, std::initializer_list<const char*> inserts = {}) {
    std::string text;
    CQLNException(id, inserts).GetText(text);
    return text;
}

// A message's text without its line end, as an insert of another.
std::string Word(uint32_t id) {
    std::string text = Text(id);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

// A status file is under a kilobyte; anything far larger is not one.
constexpr size_t kRecordLimit = 64 * 1024;

struct Found {
    std::string path;
    StatusFields fields;
    bool found = false;
    bool running = false;
    // Why a file that is there was not read (kRead: it was, or it is not there).
    plat::RecordRead refused = plat::RecordRead::kRead;
    uint32_t error = 0;
};

Found Read(const std::string& path) {
    Found f;
    f.path = path;
    std::string text;
    uint32_t error = 0;
    plat::RecordRead read = plat::ReadAgentRecord(path, kRecordLimit, text, error);
    f.found = read == plat::RecordRead::kRead;
    // A file that cannot be opened for a reason other than access says no
    // more than a missing one.
    bool denied = error == EACCES || error == EPERM || error == plat::kErrAccessDenied;
    if (read != plat::RecordRead::kRead && read != plat::RecordRead::kMissing &&
        (read != plat::RecordRead::kUnreadable || denied)) {
        f.refused = read;
        f.error = error;
    }
    f.fields = ParseStatusFile(text);
    uint32_t pid =
        static_cast<uint32_t>(std::strtoul(FieldValue(f.fields, "pid").c_str(), nullptr, 10));
    f.running =
        f.found && FieldValue(f.fields, "state") != "stopped" && plat::ProcessIsRunning(pid);
    return f;
}

bool Refused(const Found& f) { return f.refused != plat::RecordRead::kRead; }

// A status record's name in a runtime folder: "qln-<UDP port>.status".
bool IsRecordName(const std::string& name) {
    const std::string head = "qln-", tail = ".status";
    if (name.size() <= head.size() + tail.size() || name.compare(0, head.size(), head) != 0 ||
        name.compare(name.size() - tail.size(), tail.size(), tail) != 0) {
        return false;
    }
    for (size_t i = head.size(); i < name.size() - tail.size(); ++i) {
        if (name[i] < '0' || name[i] > '9') return false;
    }
    return true;
}

// The configured file; without one the file of that name in every runtime
// folder of the host (a shell that asks does not share the service's): the
// first whose agent runs, else the first there is.
Found Locate(const RelaySettings& settings) {
    std::vector<std::string> paths{settings.statusFile};
    const std::string name = "qln-" + std::to_string(settings.access.port) + ".status";
    if (settings.statusFile == DefaultStatusFile(settings.access.port)) {
        paths.clear();
        for (const std::string& folder : plat::AgentRuntimeFolders()) {
            paths.push_back(plat::JoinPath(folder, name));
        }
    }
    Found first, refused;
    for (const std::string& path : paths) {
        Found f = Read(path);
        if (f.running) return f;
        if (f.found && !first.found) first = f;
        if (Refused(f) && !Refused(refused)) refused = f;
    }
    // A file the asker may not read, or may not trust, says nothing about
    // the agent: better "cannot tell" than "not running".
    if (!first.found && Refused(refused)) return refused;
    if (!first.found) first.path = settings.statusFile;
    return first;
}

std::string TimeText(const std::string& seconds) {
    std::time_t t = static_cast<std::time_t>(std::strtoll(seconds.c_str(), nullptr, 10));
    if (t == 0) return Word(MSG_STATUS_NEVER);
    char text[32];
    std::tm* local = std::localtime(&t);
    if (!local || std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", local) == 0) return seconds;
    return text;
}

// A JSON string of any bytes: quotes, backslashes and control characters
// escaped, and a byte that starts no well-formed UTF-8 sequence given as
// U+FFFD, so that a record the agent did not write still makes valid JSON.
std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            size_t length = c >= 0xC2 && c <= 0xDF   ? 2
                            : c >= 0xE0 && c <= 0xEF ? 3
                            : c >= 0xF0 && c <= 0xF4 ? 4
                                                     : 0;
            bool whole = length > 0 && i + length <= text.size();
            for (size_t k = 1; whole && k < length; ++k) {
                whole = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
            }
            if (whole) {
                out.append(text, i, length);
                i += length - 1;
            } else {
                out += "\\ufffd";
            }
        }
    }
    return out + "\"";
}

bool IsNumber(const std::string& text) {
    if (text.empty()) return false;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}

// Fields that hold text even when it reads as digits (a model "0150").
const char* const kTextFields[] = {"serial_port", "timing", "ups_family", "ups_model",
                                   "ups_versions"};

// A field's value in JSON: digits as a number (without leading zeros, which
// JSON does not allow), everything else, and every text field, as a string.
std::string JsonValue(const std::string& name, const std::string& value) {
    for (const char* text : kTextFields) {
        if (name == text) return JsonString(value);
    }
    if (!IsNumber(value)) return JsonString(value);
    size_t first = value.find_first_not_of('0');
    return first == std::string::npos ? "0" : value.substr(first);
}

std::string JsonObject(const Found& f, const std::string& state, uint16_t port) {
    // Only a file that was read is named: a path that is not there, or was
    // not read, says nothing about the agent.
    std::string out = "{\"running\": " + std::string(f.running ? "true" : "false");
    if (f.found) out += ", \"status_file\": " + JsonString(f.path);
    out += ", \"state\": " + JsonString(state);
    if (!f.found) out += ", \"agent_port\": " + std::to_string(port);
    std::vector<std::string> written{"running", "status_file", "state"};
    for (const StatusField& field : f.fields) {
        bool twice = false;
        for (const std::string& name : written) twice = twice || name == field.first;
        if (twice) continue;
        written.push_back(field.first);
        out += ", " + JsonString(field.first) + ": " + JsonValue(field.first, field.second);
    }
    return out + "}";
}

// A value of the file as a terminal may show it: no control characters.
std::string Printable(std::string text) {
    for (char& c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    }
    return text;
}

void PrintForPerson(const Found& f, const std::string& state, uint16_t port) {
    // A count the file lacks (a file of an older or a newer agent) reads 0.
    auto v = [&](const char* name) {
        std::string value = Printable(FieldValue(f.fields, name));
        return value.empty() && IsCounterField(name) ? std::string("0") : value;
    };
    uint32_t word = state == "attached"    ? MSG_STATUS_ATTACHED
                    : state == "searching" ? MSG_STATUS_SEARCHING
                    : state == "paused"    ? MSG_STATUS_PAUSED
                                           : MSG_STATUS_NOT_RUNNING;
    std::string portText = std::to_string(port);
    std::string pid = v("pid").empty() ? "-" : v("pid");
    std::string text =
        Text(MSG_STATUS_AGENT_LINE, {portText.c_str(), Word(word).c_str(), pid.c_str()});
    if (f.found) {
        // Before the first UPS was found there is none to name.
        if (!v("ups_model").empty() || !v("ups_family").empty()) {
            text += Text(MSG_STATUS_UPS_LINE,
                         {v("ups_family").c_str(), v("ups_model").c_str(),
                          v("ups_versions").c_str(), v("baud").c_str(), v("serial_port").c_str()});
        }
        text += Text(MSG_STATUS_HISTORY_LINE,
                     {TimeText(v("attached_since")).c_str(), v("losses").c_str(),
                      TimeText(v("last_loss")).c_str(), v("detections").c_str()});
        text += Text(MSG_STATUS_DATAGRAM_LINE,
                     {v("received").c_str(), v("answered").c_str(), v("dropped_no_ups").c_str(),
                      v("dropped_not_allowed").c_str()});
        text += Text(MSG_STATUS_FRAME_LINE,
                     {v("forwarded").c_str(), v("privileged_admitted").c_str(),
                      v("privileged_refused").c_str(), v("wrong_passwords").c_str(),
                      v("ignored_passwords").c_str()});
        text += Text(MSG_STATUS_ANSWER_LINE, {v("ups_timeouts").c_str(), v("ups_invalid").c_str(),
                                              v("cut_short").c_str(), v("lockouts").c_str()});
        std::string others;
        for (const StatusField& field : f.fields) {
            bool shown = false;
            for (const char* name : kShownFields) shown = shown || field.first == name;
            if (shown) continue;
            others += (others.empty() ? "" : ", ") + Printable(field.first) + " " +
                      Printable(field.second);
        }
        if (!others.empty()) text += Text(MSG_STATUS_OTHER_LINE, {others.c_str()});
    }
    plat::WriteUnchanged(stdout, plat::ForReader(text));
}

void PrintRefusal(const Found& f) {
    std::string limit = std::to_string(kRecordLimit);
    std::string reason = plat::SystemReason(f.error);
    switch (f.refused) {
        case plat::RecordRead::kForeign:
            CQLNException(MSG_STATUS_FILE_FOREIGN, {f.path.c_str()}).Print();
            break;
        case plat::RecordRead::kNotRegular:
            CQLNException(MSG_STATUS_FILE_NOT_REGULAR, {f.path.c_str()}).Print();
            break;
        case plat::RecordRead::kTooLarge:
            CQLNException(MSG_STATUS_FILE_TOO_LARGE, {f.path.c_str(), limit.c_str()}).Print();
            break;
        default:
            CQLNException(MSG_STATUS_FILE_UNREADABLE, {f.path.c_str(), reason.c_str()}).Print();
            break;
    }
}

// What the record says the agent is doing; "stopped" once its process ended.
std::string StateOf(const Found& f) {
    return f.running ? FieldValue(f.fields, "state") : "stopped";
}

int ExitStatusOf(const Found& f) {
    if (!f.running)
        return f.found && FieldValue(f.fields, "state") != "stopped" ? kStatusDied
                                                                     : kStatusNotRunning;
    std::string state = StateOf(f);
    if (state == "attached") return kStatusAttached;
    if (state == "paused") return kStatusPaused;
    return kStatusSearching;
}

// Every record of the host's runtime folders whose agent runs: a record the
// agent marked stopped at its end, and one whose process is gone (an agent
// that was killed leaves its record behind), tell of no agent of the host.
// A folder or record that cannot be read is said on the error stream, and
// `unknown` set.
std::vector<Found> HostRecords(bool& unknown) {
    std::vector<Found> agents;
    for (const std::string& folder : plat::AgentRuntimeFolders()) {
        std::vector<std::string> names;
        uint32_t error = 0;
        if (!plat::ListRuntimeFolder(folder, names, error)) {
            std::string reason = plat::SystemReason(error);
            CQLNException(MSG_STATUS_FOLDER_UNREADABLE, {folder.c_str(), reason.c_str()}).Print();
            unknown = true;
            continue;
        }
        for (const std::string& name : names) {
            if (!IsRecordName(name)) continue;
            Found f = Read(plat::JoinPath(folder, name));
            if (Refused(f)) {
                PrintRefusal(f);
                unknown = true;
            } else if (f.running) {
                agents.push_back(f);
            }
        }
    }
    return agents;
}

// The running agent whose record names instance `name`; not found when none
// does.
Found FindInstance(const std::string& name) {
    bool unknown = false;
    for (const Found& f : HostRecords(unknown)) {
        if (FieldValue(f.fields, "instance") == name) return f;
    }
    return Found();
}

uint16_t RecordPort(const Found& f) {
    return static_cast<uint16_t>(
        std::strtoul(FieldValue(f.fields, "agent_port").c_str(), nullptr, 10));
}

// How bad each exit status is, best first: the host's status is its worst
// agent's (a listed agent runs; "not running" is the host without one).
const int kExitRank[] = {kStatusAttached, kStatusPaused, kStatusSearching, kStatusNotRunning,
                         kStatusUnknown};

int Rank(int status) {
    for (size_t i = 0; i < sizeof kExitRank / sizeof kExitRank[0]; ++i) {
        if (kExitRank[i] == status) return static_cast<int>(i);
    }
    return 0;
}

// One agent on one line: who it is (its instance, else its INI file, else
// its record), its state, UPS, ports and the counts systemd's line shows.
std::string HostLine(const Found& f) {
    auto v = [&](const char* name) { return Printable(FieldValue(f.fields, name)); };
    std::string who = !v("instance").empty()   ? v("instance")
                      : !v("ini_file").empty() ? v("ini_file")
                                               : Printable(f.path);
    std::string state = StateOf(f);
    uint32_t word = state == "attached"    ? MSG_STATUS_ATTACHED
                    : state == "searching" ? MSG_STATUS_SEARCHING
                    : state == "paused"    ? MSG_STATUS_PAUSED
                                           : MSG_STATUS_NOT_RUNNING;
    std::string ups = v("ups_family") +
                      (v("ups_family").empty() || v("ups_model").empty() ? "" : " ") +
                      v("ups_model");
    if (ups.empty()) ups = "-";
    auto count = [&](const char* name) { return v(name).empty() ? std::string("0") : v(name); };
    auto dash = [&](const char* name) { return v(name).empty() ? std::string("-") : v(name); };
    return Text(MSG_STATUS_HOST_AGENT_LINE,
                {who.c_str(), Word(word).c_str(), ups.c_str(), dash("serial_port").c_str(),
                 dash("agent_port").c_str(), count("answered").c_str(),
                 count("privileged_refused").c_str(), dash("pid").c_str()});
}

}  // namespace

int ShowStatus(const std::string& configPath, bool json, const std::string& instance) {
    Found f;
    uint16_t port = 0;
    // A named agent is found by the name its record carries, wherever its
    // INI file is (/etc/qln/NAME.ini for the template unit's instances).
    if (!instance.empty()) f = FindInstance(instance);
    if (f.found) {
        port = RecordPort(f);
    } else {
        RelaySettings settings;
        try {
            CINIFile profile(configPath.c_str());
            settings = ReadRelaySettings(profile, configPath);
        } catch (const SettingsError& error) {
            CQLNException(MSG_SETTING_NOT_VALID,
                          {error.key.c_str(), error.section.c_str(), configPath.c_str(),
                           error.value.c_str(), error.allowed.c_str()})
                .Print();
            return kStatusUnknown;
        }
        f = Locate(settings);
        port = settings.access.port;
        // Another agent's record on that port does not speak for the named one.
        if (!instance.empty() && f.found && FieldValue(f.fields, "instance") != instance) {
            f = Found();
            f.path = settings.statusFile;
        }
    }
    if (Refused(f)) {
        PrintRefusal(f);
        return kStatusUnknown;
    }
    std::string state = StateOf(f);
    if (json) {
        std::fputs((JsonObject(f, state, port) + "\n").c_str(), stdout);
    } else {
        PrintForPerson(f, state, port);
    }
    std::fflush(stdout);
    return ExitStatusOf(f);
}

int ShowHostStatus(bool json) {
    bool unknown = false;
    std::vector<Found> agents = HostRecords(unknown);
    int worst = agents.empty() ? kStatusNotRunning : kStatusAttached;
    std::string out;
    for (const Found& f : agents) {
        if (Rank(ExitStatusOf(f)) > Rank(worst)) worst = ExitStatusOf(f);
        out += json ? (out.empty() ? "  " : ",\n  ") + JsonObject(f, StateOf(f), RecordPort(f))
                    : HostLine(f);
    }
    if (unknown) worst = kStatusUnknown;
    if (json) {
        std::fputs(agents.empty() ? "[]\n" : ("[\n" + out + "\n]\n").c_str(), stdout);
    } else {
        if (agents.empty()) out = Text(MSG_STATUS_NO_AGENT_RUNNING);
        plat::WriteUnchanged(stdout, plat::ForReader(out));
    }
    std::fflush(stdout);
    return worst;
}
