#include "agent/qln_exception.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "agent/agent_service.h"
#include "platform/errors.h"
#include "platform/event_log.h"
#include "platform/message_format.h"
#include "platform/module.h"
#include "platform/product_names.h"
#include "platform/std_streams.h"
#include "platform/user_language.h"

bool g_bEventLogReporting = false;

CQLNException::CQLNException() : m_nMessageId(plat::LastError()) {}

CQLNException::CQLNException(uint32_t messageId, uint16_t count, const char* const* strings)
    : m_nMessageId(messageId) {
    CopyStrings(count, strings);
}

CQLNException::CQLNException(uint32_t messageId, std::initializer_list<const char*> strings)
    : m_nMessageId(messageId) {
    CopyStrings(static_cast<uint16_t>(strings.size()), strings.begin());
}

CQLNException::CQLNException(const CQLNException& other) : m_nMessageId(other.m_nMessageId) {
    CopyStrings(other.m_nStrings, other.m_ppStrings);
}

CQLNException::~CQLNException() {
    for (uint16_t i = 0; i < m_nStrings; ++i) delete[] m_ppStrings[i];
    delete[] m_ppStrings;
}

void CQLNException::CopyStrings(uint16_t count, const char* const* strings) {
    if (count == 0 || strings == nullptr) return;
    m_ppStrings = new char*[count];
    for (uint16_t i = 0; i < count; ++i) {
        const char* s = strings[i] ? strings[i] : "";
        size_t n = std::strlen(s);
        m_ppStrings[i] = new char[n + 1];
        std::memcpy(m_ppStrings[i], s, n + 1);
        m_nStrings = static_cast<uint16_t>(i + 1);  // what is owned so far, should new throw
    }
}

uint32_t CQLNException::GetMessageId() const { return m_nMessageId; }

void CQLNException::GetText(std::string& text) const {
    // The library is loaded by file name, so the copy beside the executable is
    // found first; without it the text stays as the caller had it.
    plat::Library library(plat::SharedLibraryFileName("Pellux_noDB"));
    if (!library.IsLoaded()) return;
    std::string formatted;
    if (plat::FormatModuleMessage(library, m_nMessageId, m_ppStrings, m_nStrings, formatted)) {
        text = formatted;
    } else {
        text = "Unknown Error";
    }
}

void CQLNException::Print() const {
    // The text is in the table's code page; a person reads it in the locale's.
    std::string text;
    GetText(text);
    plat::WriteUnchanged(stderr, plat::ForReader(text));
}

void CQLNException::LogEvent() const {
    std::string text;
    GetText(text);
    plat::WriteEventLogEntry(g_AgentService.m_ServiceName.c_str(),
                             EventTypeForMessageId(m_nMessageId), m_nMessageId, m_ppStrings,
                             m_nStrings, plat::ForReader(text));
}

void CQLNException::Report() const {
    if (g_bEventLogReporting) {
        LogEvent();
    } else {
        Print();
    }
}

uint16_t EventTypeForMessageId(uint32_t messageId) {
    switch (messageId >> 30) {
        case 0:
            return plat::kEventSuccess;
        case 1:
            return plat::kEventInformation;
        case 2:
            return plat::kEventWarning;
        default:
            return plat::kEventError;
    }
}
