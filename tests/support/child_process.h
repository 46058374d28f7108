// A program of the build (or any program) running beside a test, with its
// standard output and error collected in files that the test can watch.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

class ChildProcess {
public:
    ChildProcess();
    ~ChildProcess();  // stops the program if it still runs
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts `path` (a bare name is looked up in PATH) with `args`; `env`
    // entries "NAME=value" are added.
    bool Start(const std::string& path, const std::vector<std::string>& args,
               const std::vector<std::string>& env = {});
    // Ends the program: a polite signal first, a hard one after `graceMs`.
    void Stop(uint32_t graceMs = 5000);
    // Waits up to `ms` for the program to end on its own; false if it did not.
    bool WaitForExit(uint32_t ms);
    bool Running();
    int ExitCode() const { return m_nExitCode; }  // as the program returned it; -1000 if signalled
    int Pid() const { return m_nPid; }

    std::string Out() const;
    std::string Err() const;
    // Waits (bounded) until standard output or error holds `text` at least
    // `count` times; false when `ms` passed first.
    bool WaitForText(bool onStderr, const std::string& text, int count, uint32_t ms);

private:
    void Reap(int status);

    int m_nPid = -1;
    int m_nExitCode = 0;
    std::string m_OutPath;
    std::string m_ErrPath;
};

// Occurrences of `text` in `in`.
int CountOf(const std::string& in, const std::string& text);
