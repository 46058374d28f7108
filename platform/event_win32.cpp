// Win32 events. A named event gets a security descriptor of its own: with
// none, Wine gives the object no descriptor at all (anyone may open and set
// it), and a service's default one still lets administrators wait on it and so
// take its signal. The descriptor admits the local system account, the
// administrators and the account that creates the event, so that a service
// running as local system and an agent run in the foreground by an ordinary
// user both keep the event to themselves.
#include <vector>

#include "platform/event.h"
#include "platform/scoped_handle.h"
#include "platform/windows_wrapper.h"

// After windows.h: the SDDL conversions.
#include <sddl.h>

namespace plat {

namespace {

const char* const kLocalSystemSid = "S-1-5-18";

// The account of the calling process as SID text, or "" when it cannot be read.
std::string ProcessUserSid() {
    plat::ScopedKernelHandle token;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.Receive())) return "";
    std::vector<unsigned char> buffer(256);
    DWORD size = 0;
    BOOL ok = ::GetTokenInformation(token.Get(), TokenUser, buffer.data(),
                                    static_cast<DWORD>(buffer.size()), &size);
    if (!ok && ::GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
        buffer.resize(size);
        ok = ::GetTokenInformation(token.Get(), TokenUser, buffer.data(), size, &size);
    }
    token.Reset();
    if (!ok) return "";
    char* text = nullptr;
    if (!::ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &text)) {
        return "";
    }
    plat::ScopedLocal owner(text);
    return text;
}

// Protected DACL: full access for local system and administrators, and for
// the creating account when it is neither.
std::string NamedEventSddl() {
    std::string sddl = "D:P(A;;GA;;;SY)(A;;GA;;;BA)";
    std::string user = ProcessUserSid();
    if (!user.empty() && user != kLocalSystemSid) sddl += "(A;;GA;;;" + user + ")";
    return sddl;
}

// Security attributes with the named events' descriptor, freed with the object.
class NamedEventSecurity {
public:
    NamedEventSecurity() {
        m_Attributes.nLength = sizeof m_Attributes;
        m_Attributes.bInheritHandle = FALSE;
        m_Attributes.lpSecurityDescriptor = nullptr;
        PSECURITY_DESCRIPTOR sd = nullptr;
        if (::ConvertStringSecurityDescriptorToSecurityDescriptorA(NamedEventSddl().c_str(),
                                                                   SDDL_REVISION_1, &sd, nullptr)) {
            m_Descriptor.Reset(sd);
            m_Attributes.lpSecurityDescriptor = sd;
        }
    }
    // Null when the descriptor could not be built: the event is not created.
    SECURITY_ATTRIBUTES* Get() {
        return m_Attributes.lpSecurityDescriptor ? &m_Attributes : nullptr;
    }

private:
    plat::ScopedLocal m_Descriptor;
    SECURITY_ATTRIBUTES m_Attributes;
};

}  // namespace

struct Event::Impl {
    ScopedKernelHandle handle;
    std::string name;
    EventFault fault = EventFault::kNone;
    uint32_t faultError = 0;
};

Event::Event() : m_pImpl(new Impl) {
    m_pImpl->handle.Reset(::CreateEventA(nullptr, FALSE, FALSE, nullptr));
    if (!m_pImpl->handle) {
        m_pImpl->fault = EventFault::kUnusable;
        m_pImpl->faultError = ::GetLastError();
    }
}

Event::Event(const std::string& name) : m_pImpl(new Impl) {
    m_pImpl->name = name;
    NamedEventSecurity security;
    if (security.Get() == nullptr) {
        m_pImpl->fault = EventFault::kUnusable;
        m_pImpl->faultError = ::GetLastError();
        return;
    }
    m_pImpl->handle.Reset(::CreateEventA(security.Get(), FALSE, FALSE, name.c_str()));
    if (!m_pImpl->handle) {
        DWORD error = ::GetLastError();
        // An event of that name that another account made and keeps from us.
        m_pImpl->fault =
            error == ERROR_ACCESS_DENIED ? EventFault::kRefused : EventFault::kUnusable;
        m_pImpl->faultError = error;
        ::SetLastError(error);
    }
}

Event::~Event() = default;

bool Event::IsValid() const { return static_cast<bool>(m_pImpl->handle); }

EventFault Event::Fault() const { return m_pImpl->fault; }

const std::string& Event::FaultPath() const { return m_pImpl->name; }

uint32_t Event::FaultError() const { return m_pImpl->faultError; }

const std::string& Event::Path() const { return m_pImpl->name; }

void Event::Set() {
    if (m_pImpl->handle) ::SetEvent(m_pImpl->handle.Get());
}

bool Event::TryConsume() { return Wait(0); }

bool Event::Wait(uint32_t ms) {
    return m_pImpl->handle && ::WaitForSingleObject(m_pImpl->handle.Get(), ms) == WAIT_OBJECT_0;
}

int Event::WaitAny(Event* const* events, int count, uint32_t ms) {
    std::vector<HANDLE> handles;
    for (int i = 0; i < count; ++i) handles.push_back(events[i]->m_pImpl->handle.Get());
    DWORD r = ::WaitForMultipleObjects(static_cast<DWORD>(count), handles.data(), FALSE, ms);
    if (r >= WAIT_OBJECT_0 && r < WAIT_OBJECT_0 + static_cast<DWORD>(count)) {
        return static_cast<int>(r - WAIT_OBJECT_0);
    }
    return -1;
}

void* Event::NativeHandle() const { return m_pImpl->handle.Get(); }

bool SignalNamedEvent(const std::string& name) {
    Event e(name);
    e.Set();
    return e.IsValid();
}

}  // namespace plat
