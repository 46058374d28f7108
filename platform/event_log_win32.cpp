#include "platform/event_log.h"
#include "platform/scoped_handle.h"
#include "platform/windows_wrapper.h"

namespace plat {

bool WriteEventLogEntry(const char* source, uint16_t type, uint32_t id, const char* const* strings,
                        uint16_t count, const std::string& /*text*/) {
    ScopedEventSource log(::RegisterEventSourceA(nullptr, source));
    if (!log) return false;
    BOOL ok = ::ReportEventA(log.Get(), type, 0, id, nullptr, count, 0,
                             const_cast<LPCSTR*>(strings), nullptr);
    return ok != FALSE;
}

void SetEventLogInstance(const std::string&) {}

}  // namespace plat
