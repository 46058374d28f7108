// A program running beside a test, its standard output and error collected
// in files that the test reads while it runs; and a program of the build run
// to its end, as a user at a shell would run it.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// Path of a program of the build's bin folder (`program` without ".exe").
std::string BinPath(const std::string& program);

class ChildProcess {
public:
    ChildProcess();
    ~ChildProcess();  // stops the program if it still runs
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts `path` (a bare name is looked up in PATH) with `args`; `env`
    // entries "NAME=value" replace or add to the test's environment.
    bool Start(const std::string& path, const std::vector<std::string>& args,
               const std::vector<std::string>& env = {});
    // Ends the program: a polite signal first where there are signals, a
    // hard end after `graceMs`.
    void Stop(uint32_t graceMs = 5000);
    // Waits up to `ms` for the program to end on its own; false if it did not.
    bool WaitForExit(uint32_t ms);
    bool Running();
    // Sends a POSIX signal; false where there are none or the program ended.
    bool Signal(int signal);
    // As the program returned it; -1000 when a signal ended it.
    int ExitCode() const { return m_nExitCode; }
    int Pid() const { return m_nPid; }

    std::string Out() const;
    std::string Err() const;
    // Waits (bounded) until standard output or error holds `text` at least
    // `count` times; false when `ms` passed first.
    bool WaitForText(bool onStderr, const std::string& text, int count, uint32_t ms);

private:
    // `current` with the entries of `changes` in place of those they name.
    static std::vector<std::string> Environment(const std::vector<std::string>& current,
                                                const std::vector<std::string>& changes);

    int m_nPid = -1;
    int m_nExitCode = 0;
    void* m_hProcess = nullptr;  // the process handle, where the platform has one
    std::string m_OutPath;
    std::string m_ErrPath;
};

// Occurrences of `text` in `in`.
int CountOf(const std::string& in, const std::string& text);

struct ProgramResult {
    int exitCode = 0;  // as ExitCode(); -2000 when it did not start, -3000 when it hung
    std::string out;   // standard output, bytes as written
    std::string err;   // standard error, bytes as written
};

// Runs the program `program` of the build's bin folder to its end (bounded:
// one that hangs is stopped) and collects what it wrote.
ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::vector<std::string>& env = {});
