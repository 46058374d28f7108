#include <cstdlib>
#include <cstring>

#include "common/framework/message_formatter.h"
#include "common/framework/table_message.h"
#include "common/resources/message_table.h"
#include "platform/user_language.h"

bool FormatTableMessage(uint32_t id, uint32_t langId, const char* const* inserts, size_t count,
                        bool ignoreInserts, std::string& out) {
    const MessageRow* row = FindMessageRow(id);
    if (row == nullptr) return false;
    if (langId == plat::kLangNeutral || langId == 0x400) langId = plat::UserLanguageId();
    const char* text = nullptr;
    if (langId == plat::kLangEnglishUS) {
        text = row->english;
    } else if (langId == plat::kLangJapanese) {
        text = row->japanese;
    } else {
        return false;
    }
    return ExpandMessage(text, inserts, count, ignoreInserts, "\n", out);
}

extern "C" char* PelluxFormatMessage(uint32_t id, uint32_t langId, const char* const* inserts,
                                     size_t count, uint32_t flags) {
    std::string text;
    if (!FormatTableMessage(id, langId, inserts, count, (flags & kFormatIgnoreInserts) != 0,
                            text)) {
        return nullptr;
    }
    char* copy = static_cast<char*>(std::malloc(text.size() + 1));
    if (copy) std::memcpy(copy, text.c_str(), text.size() + 1);
    return copy;
}
