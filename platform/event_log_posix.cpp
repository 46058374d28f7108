#include <errno.h>
#include <syslog.h>

#include "platform/event_log.h"

namespace plat {

namespace {

// syslog's identifier: the program's own name, as the journal names its
// standard output ("qln"), never the event source's name, whose blank no tag
// may hold ("Ombrex Quillon" made entries that `journalctl -t` cannot find);
// a named instance's after an '@'. openlog keeps the pointer, so the text
// lives as long as the process.
std::string& SyslogTag() {
    static std::string tag;
    return tag;
}

std::string ProgramTag() {
    std::string name = program_invocation_short_name ? program_invocation_short_name : "";
    for (char& c : name) {
        if (c == ' ' || c == '\t' || c == ':' || c == '[') c = '_';
    }
    return name.empty() ? std::string("qln") : name;
}

const char* SyslogIdentifier() {
    std::string& tag = SyslogTag();
    if (tag.empty()) tag = ProgramTag();
    return tag.c_str();
}

int PriorityFor(uint16_t type) {
    switch (type) {
        case kEventError:
            return LOG_ERR;
        case kEventWarning:
            return LOG_WARNING;
        case kEventInformation:
            return LOG_INFO;
        default:
            return LOG_NOTICE;
    }
}

}  // namespace

bool WriteEventLogEntry(const char* /*source*/, uint16_t type, uint32_t id,
                        const char* const* /*strings*/, uint16_t /*count*/,
                        const std::string& text) {
    // syslog keeps no ids: the entry carries the formatted text, with the id in
    // front so that an entry can still be matched to its message.
    std::string line = text;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    ::openlog(SyslogIdentifier(), LOG_PID, LOG_DAEMON);
    ::syslog(PriorityFor(type), "[0x%08X] %s", static_cast<unsigned>(id), line.c_str());
    ::closelog();
    return true;
}

void SetEventLogInstance(const std::string& instance) {
    SyslogTag() = instance.empty() ? ProgramTag() : ProgramTag() + "@" + instance;
}

}  // namespace plat
