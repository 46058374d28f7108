#include <iconv.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/user_language.h"

namespace plat {

namespace {

// The first of the variables that is set and not empty, as the C library
// chooses a locale category; empty when none is.
std::string LocaleVariable(const char* category) {
    for (const char* name : {"LC_ALL", category, "LANG"}) {
        const char* value = std::getenv(name);
        if (value && *value) return value;
    }
    return std::string();
}

// The codeset a locale name carries ("ja_JP.UTF-8@x" gives "UTF-8").
std::string CodesetOf(const std::string& locale) {
    std::string::size_type dot = locale.find('.');
    if (dot == std::string::npos) return std::string();
    std::string::size_type at = locale.find('@', dot);
    return locale.substr(dot + 1, at == std::string::npos ? std::string::npos : at - dot - 1);
}

class Converter {
public:
    Converter(const char* to, const char* from) : m_hIconv(::iconv_open(to, from)) {}
    ~Converter() {
        if (IsOpen()) ::iconv_close(m_hIconv);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool IsOpen() const { return m_hIconv != reinterpret_cast<iconv_t>(-1); }

    // Converts all of `text`; a byte that does not convert gives "?".
    std::string Convert(const std::string& text) const {
        std::string out;
        char buffer[256];
        char* in = const_cast<char*>(text.data());
        size_t inLeft = text.size();
        while (inLeft > 0) {
            char* outPtr = buffer;
            size_t outLeft = sizeof buffer;
            size_t rc = ::iconv(m_hIconv, &in, &inLeft, &outPtr, &outLeft);
            out.append(buffer, static_cast<size_t>(outPtr - buffer));
            if (rc == static_cast<size_t>(-1) && errno != E2BIG) {
                out += '?';  // EILSEQ or a lead byte cut off at the end
                ++in;
                --inLeft;
                ::iconv(m_hIconv, nullptr, nullptr, nullptr, nullptr);
            }
        }
        char* outPtr = buffer;
        size_t outLeft = sizeof buffer;
        ::iconv(m_hIconv, nullptr, nullptr, &outPtr, &outLeft);
        out.append(buffer, static_cast<size_t>(outPtr - buffer));
        return out;
    }

private:
    iconv_t m_hIconv;
};

}  // namespace

uint32_t UserLanguageId() {
    std::string locale = LocaleVariable("LC_MESSAGES");
    if (locale.size() >= 2 && (locale[0] == 'j' || locale[0] == 'J') &&
        (locale[1] == 'a' || locale[1] == 'A')) {
        return kLangJapanese;
    }
    return kLangEnglishUS;
}

std::string ForReader(const std::string& text) {
    bool ascii = true;
    for (unsigned char c : text) ascii = ascii && c < 0x80;
    if (ascii) return text;
    std::string codeset = CodesetOf(LocaleVariable("LC_CTYPE"));
    if (codeset.empty()) codeset = "UTF-8";
    const char* from = UserLanguageId() == kLangJapanese ? "CP932" : "CP1252";
    Converter converter(codeset.c_str(), from);
    if (!converter.IsOpen()) return text;
    return converter.Convert(text);
}

}  // namespace plat
