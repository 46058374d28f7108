#include "common/framework/debug_text.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <vector>

#include "common/framework/brx_runtime.h"
#include "common/framework/message_text.h"

namespace {

// One argument taken from a va_list; texts stay owned by the caller.
struct TakenArg {
    CFormatArg::Kind kind;
    long long nSigned;
    unsigned long long nUnsigned;
    double nReal;
    const char* pText;
};

// Takes the arguments that the conversions of `format` read, in order. An
// unknown conversion ends the walk: what it would read cannot be known, so
// nothing after it is read either.
std::vector<TakenArg> TakeArgs(const std::string& format, va_list args) {
    std::vector<TakenArg> taken;
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] != '%') continue;
        ++i;
        if (i < format.size() && format[i] == '%') continue;
        while (i < format.size() && std::strchr("-+ #0'", format[i])) ++i;
        auto number = [&]() {
            if (i < format.size() && format[i] == '*') {
                ++i;
                (void)va_arg(args, int);
                return;
            }
            while (i < format.size() && std::isdigit(static_cast<unsigned char>(format[i]))) ++i;
        };
        number();
        if (i < format.size() && format[i] == '.') {
            ++i;
            number();
        }
        int longs = 0;
        bool longDouble = false;
        while (i < format.size() && std::strchr("hlLqjzt", format[i])) {
            if (format[i] == 'l' || format[i] == 'q' || format[i] == 'j') ++longs;
            if (format[i] == 'L') longDouble = true;
            ++i;
        }
        if (i >= format.size()) break;
        char conversion = format[i];
        TakenArg arg{CFormatArg::kText, 0, 0, 0.0, ""};
        if (std::strchr("di", conversion)) {
            arg.kind = CFormatArg::kSigned;
            arg.nSigned = longs >= 2   ? va_arg(args, long long)
                          : longs == 1 ? va_arg(args, long)
                                       : va_arg(args, int);
        } else if (std::strchr("uoxXc", conversion)) {
            arg.kind = CFormatArg::kUnsigned;
            arg.nUnsigned = longs >= 2   ? va_arg(args, unsigned long long)
                            : longs == 1 ? va_arg(args, unsigned long)
                                         : va_arg(args, unsigned int);
        } else if (std::strchr("eEfFgGaA", conversion)) {
            arg.kind = CFormatArg::kReal;
            arg.nReal =
                longDouble ? static_cast<double>(va_arg(args, long double)) : va_arg(args, double);
        } else if (conversion == 's') {
            const char* text = va_arg(args, const char*);
            arg.pText = text ? text : "(null)";
        } else if (conversion == 'p') {
            (void)va_arg(args, void*);
            continue;
        } else {
            break;
        }
        taken.push_back(arg);
    }
    return taken;
}

CFormatArg AsFormatArg(const TakenArg& a) {
    switch (a.kind) {
        case CFormatArg::kSigned:
            return CFormatArg(a.nSigned);
        case CFormatArg::kUnsigned:
            return CFormatArg(a.nUnsigned);
        case CFormatArg::kReal:
            return CFormatArg(a.nReal);
        default:
            return CFormatArg(a.pText);
    }
}

}  // namespace

void WriteDebugMessageArgs(CProfile* pProfile, unsigned long id,
                           std::initializer_list<CFormatArg> args) {
    std::string text = SafeFormat(GetMessageText(pProfile, id, true), args);
    brx::CDebug::Output("%s", text.c_str());
}

void WriteDebugMessageV(CProfile* pProfile, unsigned long id, va_list args) {
    va_list copy;
    va_copy(copy, args);
    std::vector<TakenArg> taken = TakeArgs(GetEnglishMessageText(pProfile, id), copy);
    va_end(copy);
    // SafeFormat takes at most a handful of arguments in practice; pass them
    // through fixed slots (unused slots are never read by a text that has
    // fewer conversions, and are ignored when left over).
    std::vector<CFormatArg> list;
    for (const TakenArg& a : taken) list.push_back(AsFormatArg(a));
    while (list.size() < 8) list.push_back(CFormatArg(""));
    std::string format = GetMessageText(pProfile, id, true);
    std::string text;
    if (taken.size() <= 8) {
        text = SafeFormat(format,
                          {list[0], list[1], list[2], list[3], list[4], list[5], list[6], list[7]});
    } else {
        text = format;  // more than a table text ever holds: write it as it stands
    }
    brx::CDebug::Output("%s", text.c_str());
}

void WriteDebugV(const char* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    int size = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (size <= 0) return;
    std::vector<char> buffer(static_cast<size_t>(size) + 1);
    std::vsnprintf(buffer.data(), buffer.size(), format, args);
    brx::CDebug::Output("%s", buffer.data());
}
