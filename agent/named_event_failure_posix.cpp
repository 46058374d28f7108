// On POSIX the named events live in a folder of the agent's account: a folder
// that cannot be made or opened is one message, a folder or FIFO that is not
// the account's alone is the other.
#include <string>

#include "agent/named_event_failure.h"
#include "common/resources/message_ids.h"
#include "platform/errors.h"

CQLNException* NamedEventFailure(const plat::Event& event) {
    const std::string& path = event.FaultPath();
    if (event.Fault() == plat::EventFault::kRefused) {
        return new CQLNException(MSG_EVENT_FILE_REFUSED, {path.c_str()});
    }
    std::string reason;
    if (!plat::SystemErrorText(event.FaultError(), reason)) {
        reason = "error " + std::to_string(event.FaultError());
    }
    // The system's texts end a line; inside the message the reason does not.
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r')) reason.pop_back();
    return new CQLNException(MSG_EVENT_FOLDER_UNUSABLE, {path.c_str(), reason.c_str()});
}

uint32_t NamedEventExitCode(const plat::Event& event) {
    if (event.Fault() == plat::EventFault::kRefused) return plat::kErrAccessDenied;
    return event.FaultError() != 0 ? event.FaultError() : plat::kErrInvalidHandle;
}
