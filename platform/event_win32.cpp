#include <vector>

#include "platform/event.h"
#include "platform/windows_wrapper.h"

namespace plat {

struct Event::Impl {
    HANDLE handle = nullptr;
};

Event::Event() : m_pImpl(new Impl) {
    m_pImpl->handle = ::CreateEventA(nullptr, FALSE, FALSE, nullptr);
}

Event::Event(const std::string& name) : m_pImpl(new Impl) {
    m_pImpl->handle = ::CreateEventA(nullptr, FALSE, FALSE, name.c_str());
}

Event::~Event() {
    if (m_pImpl->handle) ::CloseHandle(m_pImpl->handle);
}

bool Event::IsValid() const { return m_pImpl->handle != nullptr; }

void Event::Set() {
    if (m_pImpl->handle) ::SetEvent(m_pImpl->handle);
}

bool Event::TryConsume() { return Wait(0); }

bool Event::Wait(uint32_t ms) {
    return m_pImpl->handle && ::WaitForSingleObject(m_pImpl->handle, ms) == WAIT_OBJECT_0;
}

int Event::WaitAny(Event* const* events, int count, uint32_t ms) {
    std::vector<HANDLE> handles;
    for (int i = 0; i < count; ++i) handles.push_back(events[i]->m_pImpl->handle);
    DWORD r = ::WaitForMultipleObjects(static_cast<DWORD>(count), handles.data(), FALSE, ms);
    if (r >= WAIT_OBJECT_0 && r < WAIT_OBJECT_0 + static_cast<DWORD>(count)) {
        return static_cast<int>(r - WAIT_OBJECT_0);
    }
    return -1;
}

void* Event::NativeHandle() const { return m_pImpl->handle; }

void SignalNamedEvent(const std::string& name) {
    HANDLE h = ::CreateEventA(nullptr, FALSE, FALSE, name.c_str());
    if (h) {
        ::SetEvent(h);
        ::CloseHandle(h);
    }
}

}  // namespace plat
