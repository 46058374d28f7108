// The sample's two processing modules.
#pragma once
#include <string>

#include "common/framework/processing_module.h"

// Writes a trace line with its greeting ([Sample] Greeting) on every pass.
class CGreetingModule : public CProcessingModule {
public:
    void Init() override;
    void Clear() override;
    void Process(unsigned long nPass) override;

private:
    std::string m_Greeting;
};

// Records the number of the last pass in the INI file ([Sample] LastPass),
// so that whoever watches the file sees the loop run. With [Sample]
// FailAtPass it throws a CAppException in that pass, which ends the worker.
class CPassRecorderModule : public CProcessingModule {
public:
    void Init() override;
    void Clear() override;
    void Process(unsigned long nPass) override;

private:
    unsigned long m_nPasses = 0;
    int m_nFailAtPass = -1;
};
