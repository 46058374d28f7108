#include "common/framework/processing_module.h"

#include <cxxabi.h>

#include <cstdlib>
#include <string>
#include <typeinfo>

#include "common/config/profile.h"
#include "common/framework/debug_text.h"
#include "common/resources/message_ids.h"
#include "platform/scoped_handle.h"

CProcessingModule::ModuleList CProcessingModule::m_ActiveModules;
CProfile* CProcessingModule::m_pProfile = nullptr;
std::list<CProcessingModule::ModuleList::iterator*> CProcessingModule::m_Walks;

namespace {

// The readable name of a type, as the debug lines show it.
std::string TypeName(const std::type_info& type) {
    int status = 0;
    plat::ScopedMallocText readable(abi::__cxa_demangle(type.name(), nullptr, nullptr, &status));
    return (status == 0 && readable) ? readable.Get() : type.name();
}

}  // namespace

CProcessingModule::CProcessingModule() { m_ActiveModules.push_back(this); }

CProcessingModule::~CProcessingModule() {
    for (auto it = m_ActiveModules.begin(); it != m_ActiveModules.end();) {
        if (*it != this) {
            ++it;
            continue;
        }
        // A walk about to visit this entry moves on to the one behind it.
        for (ModuleList::iterator* next : m_Walks) {
            if (*next == it) ++*next;
        }
        it = m_ActiveModules.erase(it);
    }
}

void CProcessingModule::Reset() {
    Clear();
    Init();
}

template <typename Step>
void CProcessingModule::Walk(Step step) {
    ModuleList::iterator next = m_ActiveModules.begin();
    m_Walks.push_back(&next);
    try {
        while (next != m_ActiveModules.end()) {
            CProcessingModule* module = *next;
            ++next;
            step(module);
        }
    } catch (...) {
        m_Walks.pop_back();
        throw;
    }
    m_Walks.pop_back();
}

void CProcessingModule::InitAll() {
    Walk([](CProcessingModule* m) { m->Init(); });
}

void CProcessingModule::ClearAll() {
    Walk([](CProcessingModule* m) { m->Clear(); });
}

void CProcessingModule::ResetAll() {
    Walk([](CProcessingModule* m) { m->Reset(); });
}

void CProcessingModule::ProcessAll(unsigned long nPass) {
    Walk([nPass](CProcessingModule* m) {
        if (m_pProfile && m_pProfile->GetBool("Dynamic", "DebugMainLoop", false, false)) {
            WriteDebugMessage(m_pProfile, MSG_PROCESSING_MODULE,
                              TypeName(typeid(CProcessingModule*)).c_str());
        }
        m->Process(nPass);
    });
}

void CProcessingModule::SetProfile(CProfile* pProfile) { m_pProfile = pProfile; }

CProfile* CProcessingModule::GetProfile() { return m_pProfile; }
