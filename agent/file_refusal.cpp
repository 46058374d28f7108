#include "agent/file_refusal.h"

#include "agent/qln_exception.h"
#include "common/resources/message_ids.h"
#include "platform/errors.h"

namespace {

std::string Words(uint32_t id) {
    std::string text;
    CQLNException(id).GetText(text);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

}  // namespace

std::string FileFailureReason(plat::FileRefusal why, uint32_t systemCode) {
    switch (why) {
        case plat::FileRefusal::kNotRegular:
            return Words(MSG_REFUSAL_NOT_REGULAR);
        case plat::FileRefusal::kNotOwn:
            return Words(MSG_REFUSAL_NOT_OWN);
        case plat::FileRefusal::kOpenFolder:
            return Words(MSG_REFUSAL_OPEN_FOLDER);
        case plat::FileRefusal::kTooLarge:
            return Words(MSG_REFUSAL_TOO_LARGE);
        case plat::FileRefusal::kNone:
        case plat::FileRefusal::kSystem:
            break;
    }
    return plat::SystemReason(systemCode);
}
