#include "platform/user_language.h"
#include "platform/windows_wrapper.h"

namespace plat {

uint32_t UserLanguageId() { return ::GetUserDefaultLangID(); }

std::string ForReader(const std::string& text) { return text; }

}  // namespace plat
