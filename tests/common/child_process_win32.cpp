#include "child_process.h"
#include "platform/windows_wrapper.h"
#include "run_program.h"

struct ChildProcess::Impl {
    HANDLE process = nullptr;
    std::string outPath;
    std::string errPath;
};

namespace {

std::string TempName(const char* prefix) {
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

}  // namespace

ChildProcess::ChildProcess() : m_pImpl(new Impl) {}

ChildProcess::~ChildProcess() {
    Kill();
    if (!m_pImpl->outPath.empty()) ::DeleteFileA(m_pImpl->outPath.c_str());
    if (!m_pImpl->errPath.empty()) ::DeleteFileA(m_pImpl->errPath.c_str());
}

bool ChildProcess::Start(const std::string& program, const std::vector<std::string>& args,
                         const std::vector<std::string>& env) {
    m_pImpl->outPath = TempName("qco");
    m_pImpl->errPath = TempName("qce");
    HANDLE out = Inheritable(m_pImpl->outPath);
    HANDLE err = Inheritable(m_pImpl->errPath);
    std::string cmd = "\"" + BinPath(program) + "\"";
    for (const auto& a : args) cmd += " " + Quoted(a);
    for (const auto& e : env) {
        std::string::size_type eq = e.find('=');
        ::SetEnvironmentVariableA(e.substr(0, eq).c_str(), e.substr(eq + 1).c_str());
    }
    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = out;
    si.hStdError = err;
    PROCESS_INFORMATION pi{};
    BOOL ok = ::CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
    ::CloseHandle(out);
    ::CloseHandle(err);
    if (!ok) return false;
    ::CloseHandle(pi.hThread);
    m_pImpl->process = pi.hProcess;
    return true;
}

bool ChildProcess::WaitExit(uint32_t ms, int& exitCode) {
    if (!m_pImpl->process) return false;
    if (::WaitForSingleObject(m_pImpl->process, ms) != WAIT_OBJECT_0) return false;
    DWORD code = 0;
    ::GetExitCodeProcess(m_pImpl->process, &code);
    exitCode = static_cast<int>(code);
    ::CloseHandle(m_pImpl->process);
    m_pImpl->process = nullptr;
    return true;
}

void ChildProcess::Kill() {
    if (!m_pImpl->process) return;
    ::TerminateProcess(m_pImpl->process, 1);
    ::WaitForSingleObject(m_pImpl->process, INFINITE);
    ::CloseHandle(m_pImpl->process);
    m_pImpl->process = nullptr;
}

std::string ChildProcess::Out() const { return ReadFile(m_pImpl->outPath); }
std::string ChildProcess::Err() const { return ReadFile(m_pImpl->errPath); }

TempDir::TempDir() {
    std::string name = TempName("qfw");
    ::DeleteFileA(name.c_str());
    ::CreateDirectoryA(name.c_str(), nullptr);
    m_Path = name + "\\";
}

TempDir::~TempDir() {
    WIN32_FIND_DATAA found;
    HANDLE search = ::FindFirstFileA((m_Path + "*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string name = found.cFileName;
            if (name != "." && name != "..") ::DeleteFileA((m_Path + name).c_str());
        } while (::FindNextFileA(search, &found));
        ::FindClose(search);
    }
    ::RemoveDirectoryA(m_Path.substr(0, m_Path.size() - 1).c_str());
}

ProgramCopy::ProgramCopy(const std::string& program, const std::string& name) : m_Name(name) {
    m_bValid = ::CopyFileA(BinPath(program).c_str(), BinPath(name).c_str(), FALSE) != FALSE;
}

ProgramCopy::~ProgramCopy() { ::DeleteFileA(BinPath(m_Name).c_str()); }

bool ChildProcess::SendSignal(int /*signal*/) { return false; }
