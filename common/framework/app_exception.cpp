#include "common/framework/app_exception.h"

#include <cstdarg>
#include <cstring>
#include <memory>

#include "common/config/profile.h"
#include "common/framework/debug_text.h"
#include "common/framework/event_type.h"
#include "common/framework/exception_text.h"
#include "common/framework/safe_format.h"
#include "platform/errors.h"
#include "platform/event_log.h"
#include "platform/std_streams.h"

bool CAppException::m_bLog = false;

namespace {

// Event-log source under which every exception reports, whatever the program.
const char* const kLogSource = "Ombrex Sarnic";

// The formatted text is cut to the size of its buffer.
constexpr size_t kFormattedLimit = 255;

// The insert count is 16 bits wide.
constexpr unsigned int kMaxInserts = 0xFFFF;

}  // namespace

uint16_t EventTypeForMessage(unsigned long id) {
    switch ((id >> 30) & 3) {
        case 1:
            return plat::kEventInformation;
        case 2:
            return plat::kEventWarning;
        case 3:
            return plat::kEventError;
        default:
            return plat::kEventSuccess;
    }
}

CAppException::CAppException() : m_nErrorNumber(plat::LastError()) {}

CAppException::CAppException(unsigned long nErrorNumber) : m_nErrorNumber(nErrorNumber) {}

CAppException::CAppException(unsigned long nErrorNumber, unsigned int nInserts, ...)
    : m_nErrorNumber(nErrorNumber) {
    va_list args;
    va_start(args, nInserts);
    CopyInserts(nInserts, args);
    va_end(args);
}

CAppException::CAppException(long nSystemErrorNumber, unsigned long nErrorNumber,
                             unsigned int nInserts, ...)
    : m_nErrorNumber(nErrorNumber), m_nSystemErrorNumber(nSystemErrorNumber) {
    va_list args;
    va_start(args, nInserts);
    CopyInserts(nInserts, args);
    va_end(args);
}

CAppException::~CAppException() {
    for (unsigned short i = 0; i < m_nInserts; ++i) delete[] m_ppInserts[i];
    delete[] m_ppInserts;
}

void CAppException::CopyInserts(unsigned int nInserts, va_list args) {
    if (nInserts == 0) return;
    unsigned short count =
        nInserts > kMaxInserts ? kMaxInserts : static_cast<unsigned short>(nInserts);
    m_ppInserts = new char*[count]();
    m_nInserts = count;
    for (unsigned short i = 0; i < count; ++i) {
        // A null insert is kept as an empty text rather than read.
        const char* text = va_arg(args, const char*);
        if (!text) text = "";
        size_t size = std::strlen(text) + 1;
        m_ppInserts[i] = new char[size];
        std::memcpy(m_ppInserts[i], text, size);
    }
}

const char* CAppException::GetInsert(unsigned short nIndex) const {
    return nIndex < m_nInserts ? m_ppInserts[nIndex] : "";
}

void CAppException::GetText(const char* /*dir*/, std::string& out) {
    if (!FormatExceptionText(static_cast<uint32_t>(m_nErrorNumber), m_ppInserts, m_nInserts, out)) {
        out = "Unknown Error";
    }
}

void CAppException::GetFormattedText(const char* dir, std::string& out) {
    std::string text;
    GetText(dir, text);
    if (text.find('%') == std::string::npos) {
        out = text;
        return;
    }
    // Conversions whose insert is missing, or is no match for them, are
    // copied as text: no argument is read that is not there.
    out = SafeFormat(text, {GetInsert(0), GetInsert(1), GetInsert(2), GetInsert(3), GetInsert(4)});
    if (out.size() > kFormattedLimit) out.resize(kFormattedLimit);
}

unsigned long CAppException::GetErrorNumber() const { return m_nErrorNumber; }

long CAppException::GetSystemErrorNumber() const { return m_nSystemErrorNumber; }

void CAppException::Report(const char* dir) {
    std::string text;
    GetText(dir, text);
    plat::WriteUnchanged(stderr, text);
}

void CAppException::ReportToLog(const char* dir) {
    std::string text;
    GetText(dir, text);
    plat::WriteEventLogEntry(kLogSource, EventTypeForMessage(m_nErrorNumber),
                             static_cast<uint32_t>(m_nErrorNumber), m_ppInserts, m_nInserts, text);
}

void CAppException::IfReportToLog(const char* dir) {
    if (m_bLog) {
        ReportToLog(dir);
    } else {
        Report(dir);
    }
}

void CAppException::SetLog(bool bLog) { m_bLog = bLog; }

void LogTraceEvent(CProfile* pProfile, const char* category, const char* format, ...) {
    if (!pProfile || !category || !format) return;
    if (!pProfile->GetBool("Dynamic", category, false, false)) return;
    va_list args;
    va_start(args, format);
    WriteDebugV(format, args);
    va_end(args);
}

void LogTraceEvent(CProfile* pProfile, const char* category, unsigned long id, ...) {
    if (!pProfile || !category) return;
    if (!pProfile->GetBool("Dynamic", category, false, false)) return;
    va_list args;
    va_start(args, id);
    WriteDebugMessageV(pProfile, id, args);
    va_end(args);
}
