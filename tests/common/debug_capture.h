// Catches what the library writes to its debug output during one test.
#pragma once
#include <cstdio>
#include <string>

#include "common/framework/brx_runtime.h"
#include "scratch_dir.h"

class DebugCapture {
public:
    DebugCapture() : m_File(std::fopen(m_Dir.File("debug.txt").c_str(), "w+b")) {
        brx::CDebug::SetDefaultOutput(m_File);
    }
    ~DebugCapture() {
        brx::CDebug::SetDefaultOutput(nullptr);
        if (m_File) std::fclose(m_File);
    }
    DebugCapture(const DebugCapture&) = delete;
    DebugCapture& operator=(const DebugCapture&) = delete;

    std::string Text() {
        if (m_File) std::fflush(m_File);
        return ReadBytes(m_Dir.File("debug.txt"));
    }

private:
    ScratchDir m_Dir{"debug"};
    FILE* m_File;
};
