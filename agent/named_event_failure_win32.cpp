// On Win32 a named event fails with a system error; an event of the same name
// that another account made and keeps from the agent is refused by name.
#include "agent/named_event_failure.h"
#include "common/resources/message_ids.h"
#include "platform/errors.h"

CQLNException* NamedEventFailure(const plat::Event& event) {
    if (event.Fault() == plat::EventFault::kRefused) {
        return new CQLNException(MSG_EVENT_FILE_REFUSED, {event.FaultPath().c_str()});
    }
    return new CQLNException(event.FaultError());
}

uint32_t NamedEventExitCode(const plat::Event& event) {
    return event.FaultError() != 0 ? event.FaultError() : plat::kErrInvalidHandle;
}
