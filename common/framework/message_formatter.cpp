#include "common/framework/message_formatter.h"

#include <cstdio>
#include <vector>

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Applies a printf format for one string ("-8s", ".2s", "s") to `value`.
// Formats for other conversions take the string as it is: the inserts are
// strings. False for formats that would read further arguments.
bool FormatInsert(const std::string& format, const char* value, std::string& out) {
    if (format.empty() || format.find('*') != std::string::npos) return false;
    char conversion = format.back();
    std::string field = format.substr(0, format.size() - 1);
    for (char c : field) {
        if (!IsDigit(c) && c != '-' && c != '+' && c != ' ' && c != '#' && c != '.') return false;
    }
    if (conversion != 's') {
        out += value;
        return true;
    }
    std::string printfFormat = "%" + field + "s";
    int n = std::snprintf(nullptr, 0, printfFormat.c_str(), value);
    if (n < 0) return false;
    std::vector<char> buffer(static_cast<size_t>(n) + 1);
    std::snprintf(buffer.data(), buffer.size(), printfFormat.c_str(), value);
    out.append(buffer.data(), static_cast<size_t>(n));
    return true;
}

}  // namespace

bool ExpandMessage(const std::string& text, const char* const* inserts, size_t count,
                   bool ignoreInserts, const char* lineEnd, std::string& out) {
    out.clear();
    size_t i = 0;
    const size_t n = text.size();
    while (i < n) {
        char c = text[i];
        if (c == '\r' || c == '\n') {
            out += lineEnd;
            i += (c == '\r' && i + 1 < n && text[i + 1] == '\n') ? 2 : 1;
            continue;
        }
        if (c != '%') {
            out += c;
            ++i;
            continue;
        }
        if (i + 1 >= n) return false;  // a lone "%" at the end
        char d = text[i + 1];
        if (d == '0') return true;
        if (d == 'n') {
            out += lineEnd;
            i += 2;
            continue;
        }
        if (d == 'r' || d == 't') {
            out += d == 'r' ? '\r' : '\t';
            i += 2;
            continue;
        }
        if (!IsDigit(d)) {
            if (ignoreInserts) out += '%';
            out += d;
            i += 2;
            continue;
        }
        size_t end = i + 2;
        size_t index = static_cast<size_t>(d - '0');
        if (end < n && IsDigit(text[end])) {
            index = index * 10 + static_cast<size_t>(text[end] - '0');
            ++end;
        }
        if (ignoreInserts) {
            out.append(text, i, end - i);
            i = end;
            continue;
        }
        if (inserts == nullptr) return false;
        const char* value = index <= count && inserts[index - 1] ? inserts[index - 1] : "";
        if (end < n && text[end] == '!') {
            size_t close = text.find('!', end + 1);
            if (close == std::string::npos) return false;
            if (!FormatInsert(text.substr(end + 1, close - end - 1), value, out)) return false;
            i = close + 1;
        } else {
            out += value;
            i = end;
        }
    }
    return true;
}
