#include <cstring>

#include "child_process.h"
#include "platform/windows_wrapper.h"

namespace {

constexpr uint32_t kHardStopMs = 30000;

std::string TempFile(const char* prefix) {
    char dir[MAX_PATH];
    char name[MAX_PATH];
    ::GetTempPathA(MAX_PATH, dir);
    ::GetTempFileNameA(dir, prefix, 0, name);
    return name;
}

// One word of a command line as the runtime's parser reads it back:
// backslashes are doubled where a quote follows them.
std::string Quoted(const std::string& word) {
    std::string out = "\"";
    size_t backslashes = 0;
    for (char c : word) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        out.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
        backslashes = 0;
        out += c;
    }
    out.append(2 * backslashes, '\\');
    return out + "\"";
}

HANDLE Inheritable(const std::string& path) {
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    return ::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa,
                         CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

std::vector<std::string> CurrentEnvironment() {
    std::vector<std::string> entries;
    char* block = ::GetEnvironmentStringsA();
    for (const char* e = block; e && *e; e += std::strlen(e) + 1) entries.push_back(e);
    if (block) ::FreeEnvironmentStringsA(block);
    return entries;
}

}  // namespace

std::string BinPath(const std::string& program) {
    char exe[MAX_PATH];
    ::GetModuleFileNameA(nullptr, exe, MAX_PATH);
    std::string dir(exe);
    dir = dir.substr(0, dir.find_last_of("\\/") + 1);
    return dir + program + ".exe";
}

ChildProcess::ChildProcess() : m_OutPath(TempFile("qco")), m_ErrPath(TempFile("qce")) {}

ChildProcess::~ChildProcess() {
    Stop();
    ::DeleteFileA(m_OutPath.c_str());
    ::DeleteFileA(m_ErrPath.c_str());
}

bool ChildProcess::Start(const std::string& path, const std::vector<std::string>& args,
                         const std::vector<std::string>& env) {
    HANDLE out = Inheritable(m_OutPath);
    HANDLE err = Inheritable(m_ErrPath);
    std::string cmd = Quoted(path);
    for (const auto& a : args) cmd += " " + Quoted(a);
    std::string block;
    for (const auto& e : Environment(CurrentEnvironment(), env)) block += e + '\0';
    block += '\0';
    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = out;
    si.hStdError = err;
    PROCESS_INFORMATION pi{};
    BOOL ok =
        ::CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, TRUE, 0, &block[0], nullptr, &si, &pi);
    ::CloseHandle(out);
    ::CloseHandle(err);
    if (!ok) return false;
    ::CloseHandle(pi.hThread);
    m_hProcess = pi.hProcess;
    m_nPid = static_cast<int>(pi.dwProcessId);
    return true;
}

bool ChildProcess::WaitForExit(uint32_t ms) {
    if (!m_hProcess) return true;
    if (::WaitForSingleObject(m_hProcess, ms) != WAIT_OBJECT_0) return false;
    DWORD code = 0;
    ::GetExitCodeProcess(m_hProcess, &code);
    m_nExitCode = static_cast<int>(code);
    ::CloseHandle(m_hProcess);
    m_hProcess = nullptr;
    m_nPid = -1;
    return true;
}

bool ChildProcess::Running() { return !WaitForExit(0); }

bool ChildProcess::Signal(int /*signal*/) { return false; }

// No polite request reaches a console program started this way: it is ended
// at once.
void ChildProcess::Stop(uint32_t /*graceMs*/) {
    if (!Running()) return;
    ::TerminateProcess(m_hProcess, 1);
    WaitForExit(kHardStopMs);
}
