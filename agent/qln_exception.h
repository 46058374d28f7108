// CQLNException: the relay agent's error object. A message id (an id of the
// shared library's message table, or a platform error code) and insertion
// strings; thrown as a pointer to a heap object and deleted by the catcher.
#pragma once
#include <cstdint>
#include <initializer_list>
#include <string>

// Off until the service main turns it on, before it starts the worker (its
// one writer; tests set it around their cases): decides whether Report()
// goes to the event log or to standard error. A process-wide flag rather
// than something handed down, because every layer reports through
// CQLNException::Report and a process reports to one place.
extern bool g_bEventLogReporting;

class CQLNException {
public:
    // From the calling thread's last platform error, with no insertion strings.
    CQLNException();
    // Copies the `count` strings; the caller keeps its own.
    CQLNException(uint32_t messageId, uint16_t count, const char* const* strings);
    explicit CQLNException(uint32_t messageId, std::initializer_list<const char*> strings = {});
    CQLNException(const CQLNException& other);
    CQLNException& operator=(const CQLNException&) = delete;
    virtual ~CQLNException();

    virtual uint32_t GetMessageId() const;
    // The formatted text through the shared library's message file; see the .cpp.
    virtual void GetText(std::string& text) const;

    // Writes the text to standard error in the reader's code page.
    void Print() const;
    // Writes an entry under this agent's event source (its service name), type
    // from the severity bits.
    void LogEvent() const;
    // LogEvent when g_bEventLogReporting is on, else Print.
    void Report() const;

    uint16_t GetStringCount() const { return m_nStrings; }
    const char* GetString(uint16_t i) const { return i < m_nStrings ? m_ppStrings[i] : nullptr; }

private:
    void CopyStrings(uint16_t count, const char* const* strings);

    uint16_t m_nStrings = 0;
    char** m_ppStrings = nullptr;
    uint32_t m_nMessageId = 0;
};

// Event type of an event-log entry for a message id: from its severity bits.
uint16_t EventTypeForMessageId(uint32_t messageId);
