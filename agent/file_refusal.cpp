#include "agent/file_refusal.h"

#include "agent/qln_exception.h"
#include "platform/errors.h"

namespace {

constexpr uint32_t kNotRegularWord = 0x400201C2u;
constexpr uint32_t kNotOwnWord = 0x400201C3u;
constexpr uint32_t kOpenFolderWord = 0x400201C4u;
constexpr uint32_t kTooLargeWord = 0x400201C5u;

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
            return Words(kNotRegularWord);
        case plat::FileRefusal::kNotOwn:
            return Words(kNotOwnWord);
        case plat::FileRefusal::kOpenFolder:
            return Words(kOpenFolderWord);
        case plat::FileRefusal::kTooLarge:
            return Words(kTooLargeWord);
        case plat::FileRefusal::kNone:
        case plat::FileRefusal::kSystem:
            break;
    }
    return plat::SystemReason(systemCode);
}
