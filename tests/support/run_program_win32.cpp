#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/windows_wrapper.h"
#include "run_program.h"

namespace {
std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

HANDLE Inheritable(const std::string& path) {
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    return CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}
}  // namespace

std::string BinPath(const std::string& program) {
    char exe[MAX_PATH];
    GetModuleFileNameA(nullptr, exe, MAX_PATH);
    std::string dir(exe);
    dir = dir.substr(0, dir.find_last_of("\\/") + 1);
    return dir + program + ".exe";
}

ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::vector<std::string>& env) {
    char tmp[MAX_PATH];
    GetTempPathA(MAX_PATH, tmp);
    // Names of this process's own: test programs run side by side.
    static unsigned serial = 0;
    std::string tag = std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++serial);
    std::string outName = std::string(tmp) + "qln-test-out-" + tag + ".txt";
    std::string errName = std::string(tmp) + "qln-test-err-" + tag + ".txt";
    HANDLE out = Inheritable(outName);
    HANDLE err = Inheritable(errName);
    std::string cmd = "\"" + BinPath(program) + "\"";
    for (const auto& a : args) cmd += " \"" + a + "\"";
    for (const auto& e : env) {
        std::string::size_type eq = e.find('=');
        SetEnvironmentVariableA(e.substr(0, eq).c_str(), e.substr(eq + 1).c_str());
    }
    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = out;
    si.hStdError = err;
    PROCESS_INFORMATION pi{};
    ProgramResult result;
    if (CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
        WaitForSingleObject(pi.hProcess, INFINITE);
        DWORD code = 0;
        GetExitCodeProcess(pi.hProcess, &code);
        result.exitCode = static_cast<int>(code);
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
    } else {
        result.exitCode = -2000;
    }
    CloseHandle(out);
    CloseHandle(err);
    result.out = Slurp(outName);
    result.err = Slurp(errName);
    DeleteFileA(outName.c_str());
    DeleteFileA(errName.c_str());
    return result;
}
