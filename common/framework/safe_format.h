// printf-style formatting for formats that come from the message table, where
// a format may hold more conversions than the caller passes arguments for (the
// JIS forms of Japanese texts are full of percent signs). It never reads an
// argument that was not passed:
// - a conversion takes the next argument only when that argument is of its
//   kind (d i o u x X c: an integer; e E f F g G a A: a number; s: a string);
//   otherwise, or when no argument is left, the conversion is copied as text;
// - "%n", "%p", "*" widths and unknown conversions are always copied as text,
//   as are widths or precisions above 4096;
// - "%%" gives "%";
// - double-byte runs of JIS text (ESC "$B" or ESC "$@" up to ESC "(B" or
//   ESC "(J") and Shift-JIS character pairs are copied unchanged, since the
//   percent signs there are parts of characters, not conversions.
// Arguments left over are ignored.
#pragma once
#include <cstdint>
#include <initializer_list>
#include <string>

#include "common/pellux_api.h"

class PELLUX_API CFormatArg {
public:
    enum Kind { kSigned, kUnsigned, kReal, kText };

    CFormatArg(int v) : m_nKind(kSigned), m_nSigned(v) {}
    CFormatArg(long v) : m_nKind(kSigned), m_nSigned(v) {}
    CFormatArg(long long v) : m_nKind(kSigned), m_nSigned(v) {}
    CFormatArg(unsigned v) : m_nKind(kUnsigned), m_nUnsigned(v) {}
    CFormatArg(unsigned long v) : m_nKind(kUnsigned), m_nUnsigned(v) {}
    CFormatArg(unsigned long long v) : m_nKind(kUnsigned), m_nUnsigned(v) {}
    CFormatArg(double v) : m_nKind(kReal), m_nReal(v) {}
    CFormatArg(const char* v) : m_nKind(kText), m_pText(v ? v : "(null)") {}
    CFormatArg(const std::string& v) : m_nKind(kText), m_pText(v.c_str()) {}

    Kind GetKind() const { return m_nKind; }
    long long GetSigned() const { return m_nSigned; }
    unsigned long long GetUnsigned() const { return m_nUnsigned; }
    double GetReal() const { return m_nReal; }
    const char* GetText() const { return m_pText; }

private:
    Kind m_nKind;
    long long m_nSigned = 0;
    unsigned long long m_nUnsigned = 0;
    double m_nReal = 0;
    const char* m_pText = "";
};

// Formats `format` with `args` by the rules above.
PELLUX_API std::string SafeFormat(const std::string& format,
                                  std::initializer_list<CFormatArg> args);
