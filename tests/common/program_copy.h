// A copy of a program of the build under another name, beside it, removed
// by the destructor. Programs that take their name from their file become
// programs of their own this way.
#pragma once
#include <string>

class ProgramCopy {
public:
    ProgramCopy(const std::string& program, const std::string& name);
    ~ProgramCopy();
    ProgramCopy(const ProgramCopy&) = delete;
    ProgramCopy& operator=(const ProgramCopy&) = delete;
    bool IsValid() const { return m_bValid; }

private:
    std::string m_Name;
    bool m_bValid = false;
};
