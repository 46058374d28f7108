#include "common/framework/message_text.h"

#include <cstdint>

#include "common/framework/jis_text.h"
#include "common/framework/message_lookup.h"
#include "common/resources/message_ids.h"

namespace {

constexpr uint32_t kLangUserDefault = 0x400;
constexpr uint32_t kLangEnglishUS = 0x409;

// One lookup with the line ends taken off the end; empty when it fails.
std::string LookupWithoutLineEnd(const char* moduleName, unsigned long id, uint32_t langId) {
    std::string text;
    if (!LookupMessage(moduleName, static_cast<uint32_t>(id), langId, text)) return std::string();
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) text.pop_back();
    return text;
}

}  // namespace

std::string GetLanguage(CProfile* /*profile*/) {
    std::string text;
    if (LookupMessage(kFamilyModule, MSG_CHANGES_SAVED, kLangUserDefault, text) &&
        text.find("Your changes have been saved.") == std::string::npos) {
        return "Japanese";
    }
    return "English";
}

std::string GetMessageText(CProfile* /*profile*/, unsigned long id, bool toJis) {
    std::string text = LookupWithoutLineEnd(kThisLibraryModule, id, kLangUserDefault);
    return toJis ? ShiftJisToJis(text) : text;
}

std::string GetEnglishMessageText(CProfile* /*profile*/, unsigned long id) {
    return LookupWithoutLineEnd(kFamilyModule, id, kLangEnglishUS);
}
