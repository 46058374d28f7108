#include "tools/appsample/sample_modules.h"

#include "common/config/profile.h"
#include "common/framework/application.h"
#include "common/resources/message_ids.h"

void CGreetingModule::Init() {
    CProfile* profile = ::GetProfile();
    m_Greeting = profile ? profile->GetString("Sample", "Greeting", "Hello", false) : "Hello";
}

void CGreetingModule::Clear() { m_Greeting.clear(); }

void CGreetingModule::Process(unsigned long nPass) {
    CApplication* app = ::GetApp();
    if (app) app->Trace("DebugMainLoop", 1, "%s from pass %lu\n", m_Greeting.c_str(), nPass);
}

void CPassRecorderModule::Init() {
    m_nPasses = 0;
    CProfile* profile = ::GetProfile();
    m_nFailAtPass = profile ? profile->GetInt("Sample", "FailAtPass", -1, false) : -1;
}

void CPassRecorderModule::Clear() { m_nPasses = 0; }

void CPassRecorderModule::Process(unsigned long nPass) {
    ++m_nPasses;
    CProfile* profile = ::GetProfile();
    if (profile) profile->Set("Sample", "LastPass", static_cast<int>(nPass));
    if (m_nFailAtPass >= 0 && nPass == static_cast<unsigned long>(m_nFailAtPass)) {
        throw new CAppException(MSG_UPS_PROTOCOL_UNIDENTIFIED);
    }
}
