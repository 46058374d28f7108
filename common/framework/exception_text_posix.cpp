#include "common/framework/exception_text.h"
#include "common/framework/table_message.h"
#include "platform/errors.h"

// The language id of the user's default language, as the formatter takes it.
static const uint32_t kUserDefaultLanguage = 0x400;

bool FormatExceptionText(uint32_t id, const char* const* inserts, unsigned short count,
                         std::string& out) {
    // Only this library carries the table here; "Pellux.dll" is its name in
    // the family's lookups.
    // An array is always passed, so that a text that names inserts gets
    // empty ones rather than failing.
    static const char* const kNone[] = {""};
    if (!inserts) {
        inserts = kNone;
        count = 0;
    }
    std::string text;
    if (FormatTableMessage(id, kUserDefaultLanguage, inserts, count, false, text)) {
        out = text;
        return true;
    }
    return plat::SystemErrorText(id, out);
}
