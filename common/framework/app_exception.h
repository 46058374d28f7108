// The library's exception, and the trace lines that profile flags switch on.
// Thrown as a pointer to a heap object; the catcher reports and deletes it.
#pragma once
#include <cstdarg>
#include <string>

#include "common/framework/unwind_join.h"
#include "common/pellux_api.h"

class CProfile;

class PELLUX_API CAppException {
public:
    // Message id = the calling thread's last system error code.
    CAppException();
    explicit CAppException(unsigned long nErrorNumber);
    // `nInserts` NUL-terminated strings follow; each is copied. The count is
    // passed as an unsigned int, the type a variadic call promotes it to (a
    // 16-bit count before "..." is undefined behaviour); at most 65,535 are
    // kept.
    CAppException(unsigned long nErrorNumber, unsigned int nInserts, ...);
    // The same, with the system error behind it kept beside the message id
    // (it is not part of the text).
    CAppException(long nSystemErrorNumber, unsigned long nErrorNumber, unsigned int nInserts, ...);
    virtual ~CAppException();

    // The text of the message id: the library's table, else the system's
    // texts, inserts filled; "Unknown Error" when neither has the id.
    // `dir` is not read.
    virtual void GetText(const char* dir, std::string& out);
    // The text with its printf placeholders filled from the first five inserts
    // (missing inserts are empty strings).
    virtual void GetFormattedText(const char* dir, std::string& out);
    virtual unsigned long GetErrorNumber() const;
    // 0 unless the constructor with a system error number made it.
    virtual long GetSystemErrorNumber() const;

    // The text on the standard error stream, as it stands.
    void Report(const char* dir);
    // One event under the source "Ombrex Sarnic"; silent when the source
    // cannot be registered.
    void ReportToLog(const char* dir);
    // ReportToLog once SetLog(true) was called, else Report.
    void IfReportToLog(const char* dir);
    static void SetLog(bool bLog);

    // "" (never null) past the last insert; owned by the exception.
    const char* GetInsert(unsigned short nIndex) const;
    unsigned short GetInsertCount() const { return m_nInserts; }

private:
    CAppException(const CAppException&) = delete;
    CAppException& operator=(const CAppException&) = delete;
    void CopyInserts(unsigned int nInserts, va_list args);

    unsigned short m_nInserts = 0;
    char** m_ppInserts = nullptr;
    unsigned long m_nErrorNumber = 0;
    long m_nSystemErrorNumber = 0;

    static bool m_bLog;
};

// Writes the printf `format` with the arguments to the debug output when the
// profile's "Dynamic"/`category` flag is on ("DebugMainLoop" and so on).
PELLUX_API void LogTraceEvent(CProfile* pProfile, const char* category, const char* format, ...);
// The same with the text of message `id` (converted, as GetMessageText gives
// it) as the format.
PELLUX_API void LogTraceEvent(CProfile* pProfile, const char* category, unsigned long id, ...);
