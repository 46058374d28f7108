// Text the UPS supplies (family, model, versions, anything read from the
// device) made safe for a terminal, a log line or a line-based file. A
// device, or whatever answers on its line, can put escape sequences into its
// model text; written as they came they would clear a terminal, retitle it or
// forge lines in a log. Every byte outside printable ASCII becomes "\xHH" and
// a backslash "\\", so the text stays exact: it can be read back byte for byte.
#pragma once
#include <string>

inline std::string PrintableText(const std::string& text) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (byte == '\\') {
            out += "\\\\";
        } else if (byte >= 0x20 && byte < 0x7F) {
            out += c;
        } else {
            out += "\\x";
            out += kDigits[byte >> 4];
            out += kDigits[byte & 0x0F];
        }
    }
    return out;
}
