// A program of the build started in the background, for tests that talk to
// it while it runs. Its standard streams go to files that the test can read.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class ChildProcess {
public:
    ChildProcess();
    // Ends the program if it still runs.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // `program` as BinPath takes it; `env` entries "NAME=value" replace or add.
    bool Start(const std::string& program, const std::vector<std::string>& args,
               const std::vector<std::string>& env = {});
    // True once it has ended within `ms`; `exitCode` is its exit code.
    bool WaitExit(uint32_t ms, int& exitCode);
    void Kill();
    // Sends a POSIX signal; false where there are none (Win32).
    bool SendSignal(int signal);
    std::string Out() const;
    std::string Err() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_pImpl;
};

// A fresh empty folder for one test, removed with its files by the destructor.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    // Ends in the directory separator.
    const std::string& Path() const { return m_Path; }

private:
    std::string m_Path;
};

// A copy of a program of the build under another name, beside it, removed
// by the destructor. Programs that take their name from their file become
// programs of their own this way.
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

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& text);

// Polls `condition` every few milliseconds until it holds or `ms` passed.
template <typename Condition>
bool WaitFor(Condition condition, uint32_t ms);
bool WaitForImpl(bool (*test)(void*), void* context, uint32_t ms);
template <typename Condition>
bool WaitFor(Condition condition, uint32_t ms) {
    return WaitForImpl([](void* c) { return (*static_cast<Condition*>(c))(); }, &condition, ms);
}
