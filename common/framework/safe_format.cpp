#include "common/framework/safe_format.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr long kMaxField = 4096;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsShiftJisLead(unsigned char c) {
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

// Length of the JIS double-byte run starting at `i` (its escapes included),
// 0 when no run starts there.
size_t JisRunLength(const std::string& s, size_t i) {
    if (s.compare(i, 3, "\x1b$B") != 0 && s.compare(i, 3, "\x1b$@") != 0) return 0;
    for (size_t j = i + 3; j < s.size(); ++j) {
        if (s.compare(j, 3, "\x1b(B") == 0 || s.compare(j, 3, "\x1b(J") == 0) return j + 3 - i;
    }
    return s.size() - i;  // an unclosed run reaches the end
}

template <typename T>
std::string Printf(const std::string& pattern, T value) {
    int n = std::snprintf(nullptr, 0, pattern.c_str(), value);
    if (n < 0) return std::string();
    std::vector<char> buffer(static_cast<size_t>(n) + 1);
    std::snprintf(buffer.data(), buffer.size(), pattern.c_str(), value);
    return std::string(buffer.data(), static_cast<size_t>(n));
}

// Reads a decimal field at `i`; false when it is larger than kMaxField.
bool ReadField(const std::string& s, size_t& i) {
    long value = 0;
    bool ok = true;
    while (i < s.size() && IsDigit(s[i])) {
        value = value * 10 + (s[i] - '0');
        if (value > kMaxField) ok = false, value = kMaxField + 1;
        ++i;
    }
    return ok;
}

// Formats one argument for conversion `conv` with `flags` (flags, width and
// precision as written); false when the argument is not of its kind.
bool FormatOne(const std::string& flags, char conv, const CFormatArg& arg, std::string& out) {
    switch (conv) {
        case 'd':
        case 'i':
            if (arg.GetKind() == CFormatArg::kSigned) {
                out += Printf("%" + flags + "lld", arg.GetSigned());
                return true;
            }
            if (arg.GetKind() == CFormatArg::kUnsigned) {
                out += Printf("%" + flags + "llu", arg.GetUnsigned());
                return true;
            }
            return false;
        case 'o':
        case 'u':
        case 'x':
        case 'X':
        case 'c':
            if (arg.GetKind() == CFormatArg::kSigned || arg.GetKind() == CFormatArg::kUnsigned) {
                unsigned long long v = arg.GetKind() == CFormatArg::kSigned
                                           ? static_cast<unsigned long long>(arg.GetSigned())
                                           : arg.GetUnsigned();
                if (conv == 'c') {
                    out +=
                        Printf("%" + flags + "c", static_cast<int>(static_cast<unsigned char>(v)));
                } else {
                    out += Printf("%" + flags + "ll" + conv, v);
                }
                return true;
            }
            return false;
        case 'e':
        case 'E':
        case 'f':
        case 'F':
        case 'g':
        case 'G':
        case 'a':
        case 'A':
            if (arg.GetKind() == CFormatArg::kReal) {
                out += Printf("%" + flags + conv, arg.GetReal());
                return true;
            }
            return false;
        case 's':
            if (arg.GetKind() == CFormatArg::kText) {
                out += Printf("%" + flags + "s", arg.GetText());
                return true;
            }
            return false;
        default:
            return false;
    }
}

}  // namespace

std::string SafeFormat(const std::string& format, std::initializer_list<CFormatArg> args) {
    std::string out;
    const CFormatArg* next = args.begin();
    size_t i = 0;
    const size_t n = format.size();
    while (i < n) {
        size_t run = JisRunLength(format, i);
        if (run != 0) {
            out.append(format, i, run);
            i += run;
            continue;
        }
        unsigned char c = static_cast<unsigned char>(format[i]);
        if (IsShiftJisLead(c) && i + 1 < n) {
            out.append(format, i, 2);
            i += 2;
            continue;
        }
        if (c != '%') {
            out += static_cast<char>(c);
            ++i;
            continue;
        }
        if (i + 1 < n && format[i + 1] == '%') {
            out += '%';
            i += 2;
            continue;
        }
        // A conversion: flags, width, precision, length modifiers, letter.
        size_t j = i + 1;
        while (j < n && std::strchr("-+ #0", format[j]) != nullptr && format[j] != '\0') ++j;
        bool sane = ReadField(format, j);
        if (j < n && format[j] == '.') {
            ++j;
            sane = ReadField(format, j) && sane;
        }
        std::string flags = format.substr(i + 1, j - i - 1);
        while (j < n && std::strchr("hlLqjzt", format[j]) != nullptr && format[j] != '\0') ++j;
        if (j >= n) {
            out.append(format, i, std::string::npos);  // cut off: copied as text
            break;
        }
        char conv = format[j];
        std::string written;
        if (sane && next != args.end() && FormatOne(flags, conv, *next, written)) {
            out += written;
            ++next;
        } else {
            out.append(format, i, j + 1 - i);
        }
        i = j + 1;
    }
    return out;
}
