// Units of work that the application's main loop runs on every pass.
#pragma once
#include <list>

#include "common/framework/unwind_join.h"
#include "common/pellux_api.h"

class CProfile;

class PELLUX_API CProcessingModule {
public:
    // Registers the module at the end of the register.
    CProcessingModule();
    // A copy is not registered: only modules built as such take part.
    CProcessingModule(const CProcessingModule&) {}
    // Assignment leaves the register as it is.
    CProcessingModule& operator=(const CProcessingModule&) { return *this; }
    // Leaves the register.
    virtual ~CProcessingModule();

    virtual void Init() = 0;
    virtual void Clear() = 0;
    // Clear, then Init.
    virtual void Reset();
    virtual void Process(unsigned long nPass) = 0;

    // Walks over every registered module in the order of registration.
    static void InitAll();
    static void ClearAll();
    static void ResetAll();
    // Writes a debug line before each module when "Dynamic"/"DebugMainLoop"
    // of the profile is on.
    static void ProcessAll(unsigned long nPass);

    // Not owned: the caller keeps the profile alive while modules process.
    static void SetProfile(CProfile* pProfile);
    static CProfile* GetProfile();

private:
    template <typename Step>
    static void Walk(Step step);

    using ModuleList = std::list<CProcessingModule*>;
    static ModuleList m_ActiveModules;
    static CProfile* m_pProfile;
    // Walks in progress (innermost last): the entry each visits next, so that
    // a module that leaves the register during a walk cannot break it.
    static std::list<ModuleList::iterator*> m_Walks;
};
